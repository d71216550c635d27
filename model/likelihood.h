// Binomial log-likelihood of the dose groups, as the objective the
// maximisers minimise (saturated log-likelihood minus log-likelihood), its
// analytic gradient, the saturated log-likelihood, and the simplex variant.
// Inputs: the GroupTable and model settings in the state; a trial vector
// (whose active C and D entries may be moved to the boundary). No allocation.
#pragma once

#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

double saturated_loglik(const AnalysisState& s);
double loglik_objective(AnalysisState& s, DRef p);
void loglik_gradient(AnalysisState& s, DRef p, DRef g);
double simplex_objective(AnalysisState& s, DRef p);

}  // namespace varnalo
