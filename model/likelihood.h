// Binomial log-likelihood of the dose groups, as the objective the
// maximisers minimise (saturated log-likelihood minus log-likelihood), its
// analytic gradient, the saturated log-likelihood, and the simplex variant:
// the search form the maximisers step on, and the exact form (accurate
// tails, zero and infinite doses exact, rates held in their space) whose
// value is reported and whose maximum is checked.
// Inputs: the GroupTable and model settings in the state; a trial vector
// (loglik_* and exact_* move a negative active C or D entry to 0;
// simplex_objective only reads its vector). Each is one pass of the state's
// likelihood kernel (model/likelihood_kernel.h).
#pragma once

#include "foundation/arrays.h"
#include "foundation/state.h"
#include "model/likelihood_kernel.h"

namespace varnalo {

// The kernel of the state's current fit: made from the state at its first
// use and kept in s.kernel while the fit's data and model stay the same
// (the run drops it with the work arrays of every fit).
LikelihoodKernel& fit_kernel(AnalysisState& s);

double saturated_loglik(const AnalysisState& s);

// The probabilities of one dose group in the exact form: P0 = F(a + b x) and
// its density f (0 at a zero or infinite dose, else floored at 1e-99 so that
// a caller may divide by it), and the response probability P with Q = 1 - P,
// both tails with their relative accuracy (P and Q floored at 1e-99).
struct GroupProbabilities {
  double P0, f, P, Q;
};
GroupProbabilities exact_group_probabilities(const AnalysisState& s, double x, double a, double b,
                                             double C, double D);
double loglik_objective(AnalysisState& s, DRef p);
void loglik_gradient(AnalysisState& s, DRef p, DRef g);
double simplex_objective(AnalysisState& s, DRef p);
double exact_objective(AnalysisState& s, DRef p);
void exact_gradient(AnalysisState& s, DRef p, DRef g);

}  // namespace varnalo
