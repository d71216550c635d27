// Fieller confidence limits and delta-method variance of a ratio estimate.
#pragma once

namespace varnalo {

void fieller_general(double m, double b, double v_num, double v_b, double w, double t, double* var,
                     double* upper, double* lower);
void fieller_finney(double m, double b, double v_num, double v_b, double c, double t, double* var,
                    double* upper, double* lower);

}  // namespace varnalo
