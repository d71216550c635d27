// The variance ratio (F) test of two mean chi-squares, with its own
// significance level vr_level, and Akaike's Information Criterion of a fit
// (aic = 2 npar - 2 max_loglik, printed and kept in the state).
// Inputs: the two chi-squares and their DF; npar and max_loglik. Outputs:
// the test verdict (and the level asked for, vr_level), aic; screen and
// report text.
#pragma once

#include "foundation/state.h"

namespace varnalo {

// Returns 1 when equal variances are not rejected, 0 when rejected.
int variance_ratio_test(AnalysisState& s, const char* name1, const char* name2, double* f1,
                        double* f2, double* x1, double* x2);
void report_aic(AnalysisState& s);

}  // namespace varnalo
