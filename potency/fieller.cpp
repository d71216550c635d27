#include "potency/fieller.h"

namespace varnalo {
// Placeholder until the Fieller limits land.
void fieller_general(double, double, double, double, double, double, double* var, double* upper,
                     double* lower) {
  *var = 0;
  *upper = 99;
  *lower = -99;
}
void fieller_finney(double, double, double, double, double, double, double* var, double* upper,
                    double* lower) {
  *var = 0;
  *upper = 99;
  *lower = -99;
}
}  // namespace varnalo
