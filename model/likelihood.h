// Binomial log-likelihood of the dose groups, as the objective the
// maximisers minimise (saturated log-likelihood minus log-likelihood), its
// analytic gradient, the saturated log-likelihood, and the simplex variant:
// the search form the maximisers step on, and the exact form (accurate
// tails, zero and infinite doses exact, rates held in their space) whose
// value is reported and whose maximum is checked.
// Inputs: the GroupTable and model settings in the state; a trial vector
// (loglik_* and exact_* move a negative active C or D entry to 0;
// simplex_objective only reads its vector). No allocation.
#pragma once

#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

double saturated_loglik(const AnalysisState& s);
double loglik_objective(AnalysisState& s, DRef p);
void loglik_gradient(AnalysisState& s, DRef p, DRef g);
double simplex_objective(AnalysisState& s, DRef p);
double exact_objective(AnalysisState& s, DRef p);
void exact_gradient(AnalysisState& s, DRef p, DRef g);

}  // namespace varnalo
