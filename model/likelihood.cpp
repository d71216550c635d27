// Binomial log-likelihood of quantal dose-response data: the entry points
// the stages call, each one pass of the fit's likelihood kernel
// (model/likelihood_kernel.cpp, which names the method and its accuracy).
//
// Two evaluations of the same likelihood. The search form (loglik_objective,
// loglik_gradient, simplex_objective) is what the maximisers step on: the
// distribution functions with their floors (the Normal one is 0 beyond
// z = -6 and floored at 1e-52), so that every fit the maximisers reach
// keeps its path, iteration count and covariance. The exact form
// (exact_objective, exact_gradient) is the model's likelihood, whose value
// is reported and whose maximum is checked: a zero dose has P0 = 0 and an
// infinite dose P0 = 1 whatever a and b, both tails of the distribution
// keep their relative accuracy (so a responder at z = -6.6 costs
// ln 2e-11, not ln 1e-52), Q = 1 - P is formed from the upper tail where
// the subtraction would lose its digits, and a point whose rates lie
// outside the parameter space gets the cap. Where no group lies in a tail
// (|z| beyond 3 for the Normal) the two agree bit for bit.
#include "model/likelihood.h"

#include <memory>

#include "model/distributions.h"
#include "model/model_form.h"

namespace varnalo {

LikelihoodKernel& fit_kernel(AnalysisState& s) {
  if (!s.kernel || !s.kernel->describes(s)) s.kernel = std::make_shared<LikelihoodKernel>(s);
  return *s.kernel;
}

double saturated_loglik(const AnalysisState& cs) {
  return fit_kernel(const_cast<AnalysisState&>(cs)).saturated();
}

// The exact form: P0 = 0 at a zero dose and 1 at an infinite one (f = 0:
// such a group says nothing about a and b), accurate tails elsewhere.
GroupProbabilities exact_group_probabilities(const AnalysisState& s, double x, double a, double b,
                                             double C, double D) {
  GroupProbabilities g{0.0, 0.0, 0.0, 0.0};
  double S0 = 1.0;
  if (x >= kInfiniteDoseLog) {
    g.P0 = 1.0;
    S0 = 0.0;
  } else if (x > kZeroDoseLog) {
    tolerance_cdf_exact(s.distribution, a + b * x, &g.P0, &S0, &g.f);
    if (g.f <= kProbabilityFloor) g.f = kProbabilityFloor;
  }
  const ModelForm& form = model_form(s);
  form.probability(g.P0, C, D, &g.P, &g.Q);
  if (g.Q < kSubtractionDigitsLost) form.probability(g.P0, S0, C, D, &g.P, &g.Q);
  return g;
}

double loglik_objective(AnalysisState& s, DRef p) {
  return fit_kernel(s).value(LikelihoodForm::kSearch, p);
}

void loglik_gradient(AnalysisState& s, DRef p, DRef g) {
  fit_kernel(s).gradient(LikelihoodForm::kSearch, p, g);
}

double exact_objective(AnalysisState& s, DRef p) {
  return fit_kernel(s).value(LikelihoodForm::kExact, p);
}

void exact_gradient(AnalysisState& s, DRef p, DRef g) {
  fit_kernel(s).gradient(LikelihoodForm::kExact, p, g);
}

double simplex_objective(AnalysisState& s, DRef p) {
  return fit_kernel(s).value(LikelihoodForm::kSimplex, p);
}

}  // namespace varnalo
