#include "model/likelihood.h"

namespace varnalo {
// Placeholder until the likelihood lands.
double saturated_loglik(const AnalysisState&) { return 0; }
double loglik_objective(AnalysisState&, DRef) { return 0; }
void loglik_gradient(AnalysisState&, DRef, DRef) {}
double simplex_objective(AnalysisState&, DRef) { return 0; }
}  // namespace varnalo
