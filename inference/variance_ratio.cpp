#include "inference/variance_ratio.h"

namespace varnalo {
// Placeholder until the variance ratio test lands.
int variance_ratio_test(AnalysisState&, const char*, const char*, double*, double*, double*, double*) {
  return 1;
}
void report_aic(AnalysisState&) {}
}  // namespace varnalo
