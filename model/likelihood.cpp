// Binomial log-likelihood of quantal dose-response data.
//
// Method: maximum likelihood for grouped binary responses (Finney, "Probit
// Analysis", 3rd ed. 1971, ch. 4; the binomial kernel r ln P + (n - r) ln Q
// without the binomial coefficient). The objective is the saturated
// log-likelihood minus the log-likelihood, i.e. half the deviance, which the
// minimisers drive towards 0. The gradient is the exact analytic derivative
// through P = C + (1 - C - D) P0 or P = C + (1 - C)(1 - D) P0 and
// dP0/dz = f.
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
// outside the parameter space gets the cap. Where no group lies in a far
// tail the two agree bit for bit.
// Accuracy: double precision, apart from the floors (P, Q, f at 1e-99;
// counts at 1e-50) and, for the Normal distribution within |z| < 6, the
// absolute error of about 1e-9 of the distribution function.
#include "model/likelihood.h"

#include <algorithm>
#include <cmath>

#include "model/distributions.h"
#include "model/model_family.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

// Cap of the objective and the saturated log-likelihood.
constexpr double kObjectiveCap = 1e50;
// Penalty of a simplex vertex outside the parameter space, per unit of
// distance and of 1 + |F|: steep enough that no vertex is better outside
// than on the bound.
constexpr double kOutsidePenalty = 10.0;
int slope_index(const AnalysisState& s, int prep) {
  return s.nslopes > 1 ? s.nprep + prep : s.nprep + 1;
}

double non_responders(double n, double r) {
  const double m = n - r;
  return m <= kCountFloor ? kCountFloor : m;
}

// -(contribution to the log-likelihood ratio) of one group:
// m (ln Q - ln m) + r (ln P - ln r) + n ln n.
double group_term(double n, double r, double P, double Q) {
  const double m = non_responders(n, r);
  return m * (std::log(Q) - std::log(m)) + r * (std::log(P) - std::log(r)) + n * std::log(n);
}

}  // namespace

double saturated_loglik(const AnalysisState& cs) {
  // The GroupTable is only read; its accessors are non-const.
  AnalysisState& s = const_cast<AnalysisState&>(cs);
  double S = 0.0;
  for (int i = 1; i <= s.nprep; ++i) {
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      DRef g = s.groups[i][j];
      const double n = g[2];
      const double r = g[3];
      const double m = non_responders(n, r);
      S += m * std::log(m) + r * std::log(r) - n * std::log(n);
      if (S > kObjectiveCap) S = kObjectiveCap;
    }
  }
  return S;
}

namespace {

// The search form: the distribution function with its floors at any x.
GroupProbabilities search_probabilities(const AnalysisState& s, double x, double a, double b,
                                        double C, double D) {
  GroupProbabilities g;
  tolerance_cdf(s.distribution, kSearchFloors, a + b * x, &g.P0, &g.f);
  model_form(s).probability(g.P0, C, D, &g.P, &g.Q);
  return g;
}

}  // namespace

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

namespace {

template <typename Probabilities>
double objective_with(AnalysisState& s, DRef p, double C, double D, Probabilities probabilities) {
  double F = 0.0;
  for (int i = 1; i <= s.nprep; ++i) {
    const double a = p[i];
    const double b = p[slope_index(s, i)];
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      DRef g = s.groups[i][j];
      const GroupProbabilities pr = probabilities(s, g[1], a, b, C, D);
      F -= group_term(g[2], g[3], pr.P, pr.Q);
      if (F > kObjectiveCap) F = kObjectiveCap;
    }
  }
  return F;
}

template <typename Probabilities>
void gradient_with(AnalysisState& s, DRef p, DRef g, Probabilities probabilities) {
  for (int e = 1; e <= s.npar; ++e) g[e] = 0.0;
  double C, D;
  current_c_d(s, p, &C, &D);
  const ModelForm& form = model_form(s);
  const RateIndices at = rate_indices(s);
  // dP/dz = A f: the share of the population that the tolerance decides;
  // dP/dD = -d_scale P0.
  const double A = form.share(C, D);
  const double d_scale = form.d_scale(C);

  for (int i = 1; i <= s.nprep; ++i) {
    const int si = slope_index(s, i);
    const double a = p[i];
    const double b = p[si];
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      DRef grp = s.groups[i][j];
      const double x = grp[1];
      const double n = grp[2];
      const double r = grp[3];
      const GroupProbabilities pr = probabilities(s, x, a, b, C, D);
      const double P0 = pr.P0, f = pr.f, P = pr.P, Q = pr.Q;
      // -d(r ln P + m ln Q)/dP
      const double w = ((r - n * P) / P) / Q;

      // A zero or infinite dose carries no information on intercept or slope.
      if (x > kZeroDoseLog && x < kInfiniteDoseLog) {
        g[i] -= A * w * f;
        g[si] -= A * w * f * x;
      }

      if (at.c != 0) g[at.c] -= form.derivatives(P0, C, D).dC * w;
      if (at.d != 0) g[at.d] -= -d_scale * w * P0;
    }
  }
}

}  // namespace

double loglik_objective(AnalysisState& s, DRef p) {
  double C, D;
  current_c_d(s, p, &C, &D);
  return objective_with(s, p, C, D, search_probabilities);
}

void loglik_gradient(AnalysisState& s, DRef p, DRef g) {
  gradient_with(s, p, g, search_probabilities);
}

double exact_objective(AnalysisState& s, DRef p) {
  double C, D;
  current_c_d(s, p, &C, &D);
  // Rates at or above 1 describe no population.
  if (!rates_in_space(s, p)) return kObjectiveCap;
  return objective_with(s, p, C, D, exact_group_probabilities);
}

void exact_gradient(AnalysisState& s, DRef p, DRef g) {
  gradient_with(s, p, g, exact_group_probabilities);
}

double simplex_objective(AnalysisState& s, DRef p) {
  // The vertex is read, never written: its rates are evaluated as their
  // nearest point of the parameter space (a negative rate as 0), plus a
  // penalty for the distance, so the simplex can move across a bound and
  // back. The coordinate that a model
  // with one rate does not use is not read.
  const RateIndices at = rate_indices(s);
  const ModelForm& form = model_form(s);
  double C = form.known_c() ? s.fixed_c : 0.0;
  double D = 0.0;
  if (at.c != 0) C = std::clamp(p[at.c], 0.0, kHighestRate);
  if (at.d != 0) D = std::clamp(p[at.d], 0.0, kHighestRate);
  if (form.rates_share_population() && C + D > kHighestRate) {
    const double scale = kHighestRate / (C + D);
    C *= scale;
    D *= scale;
  }
  // A zero dose has P0 = 0 and an infinite dose P0 = 1; no distribution
  // function is evaluated for them.
  const auto probabilities = [&form](const AnalysisState& st, double x, double a, double b,
                                     double c, double d) {
    GroupProbabilities g{0.0, 0.0, 0.0, 0.0};
    if (x <= kZeroDoseLog) {
      g.P0 = 0.0;
    } else if (x >= kInfiniteDoseLog) {
      g.P0 = 1.0;
    } else {
      tolerance_cdf(st.distribution, kSearchFloors, a + b * x, &g.P0, &g.f);
    }
    form.probability(g.P0, c, d, &g.P, &g.Q);
    return g;
  };
  // A vertex outside the space is worse than the point it is evaluated at,
  // in proportion to how far out it lies, so the simplex is pushed back
  // instead of spreading over a plateau beyond the bound.
  const double F = objective_with(s, p, C, D, probabilities);
  double outside = 0.0;
  if (at.c != 0) outside += std::fabs(p[at.c] - C);
  if (at.d != 0) outside += std::fabs(p[at.d] - D);
  return outside == 0.0 ? F : F + kOutsidePenalty * outside * (1.0 + std::fabs(F));
}

}  // namespace varnalo
