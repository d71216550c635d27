// Binomial log-likelihood of quantal dose-response data.
//
// Method: maximum likelihood for grouped binary responses (Finney, "Probit
// Analysis", 3rd ed. 1971, ch. 4; the binomial kernel r ln P + (n - r) ln Q
// without the binomial coefficient). The objective is the saturated
// log-likelihood minus the log-likelihood, i.e. half the deviance, which the
// minimisers drive towards 0. The gradient is the exact analytic derivative
// through P = C + (1 - C - D) P0 or P = C + (1 - C)(1 - D) P0 and
// dP0/dz = f. Accuracy: double precision, apart from the floors (P, Q, f at
// 1e-99; counts at 1e-50) and, for the Normal distribution, the absolute
// error of about 1e-9 of the distribution function used for P0.
#include "model/likelihood.h"

#include <cmath>

#include "model/distributions.h"
#include "model/model_family.h"

namespace varnalo {

namespace {

// A count at or below this is held as this (ln 0 never happens).
constexpr double kCountFloor = 1e-50;
// Cap of the objective and the saturated log-likelihood.
constexpr double kObjectiveCap = 1e50;

// Log doses at or beyond these mark a zero and an infinite dose.
constexpr double kZeroDose = -99.0;
constexpr double kInfiniteDose = 99.0;

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

double loglik_objective(AnalysisState& s, DRef p) {
  double C, D;
  current_c_d(s, p, &C, &D);
  double F = 0.0;
  for (int i = 1; i <= s.nprep; ++i) {
    const double a = p[i];
    const double b = p[slope_index(s, i)];
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      DRef g = s.groups[i][j];
      double P0, f, P, Q;
      tolerance_cdf(s.distribution, 1, a + b * g[1], &P0, &f);
      response_probability(s.model, P0, &P, &Q, C, D);
      F -= group_term(g[2], g[3], P, Q);
      if (F > kObjectiveCap) F = kObjectiveCap;
    }
  }
  return F;
}

void loglik_gradient(AnalysisState& s, DRef p, DRef g) {
  for (int e = 1; e <= s.npar; ++e) g[e] = 0.0;
  double C, D;
  current_c_d(s, p, &C, &D);
  const int k = s.nprep + s.nslopes;
  const int model = s.model;

  // dP/dz = A f: the share of the population that the tolerance decides.
  double A = 1.0;
  switch (model) {
    case 2: case 5: case 6: A = 1.0 - C; break;
    case 3: A = 1.0 - D; break;
    case 4: A = 1.0 - C - D; break;
    case 7: case 8: A = (1.0 - C) * (1.0 - D); break;
    default: break;
  }

  for (int i = 1; i <= s.nprep; ++i) {
    const int si = slope_index(s, i);
    const double a = p[i];
    const double b = p[si];
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      DRef grp = s.groups[i][j];
      const double x = grp[1];
      const double n = grp[2];
      const double r = grp[3];
      double P0, f, P, Q;
      tolerance_cdf(s.distribution, 1, a + b * x, &P0, &f);
      response_probability(model, P0, &P, &Q, C, D);
      // -d(r ln P + m ln Q)/dP
      const double w = ((r - n * P) / P) / Q;

      // A zero or infinite dose carries no information on intercept or slope.
      if (x > kZeroDose && x < kInfiniteDose) {
        g[i] -= A * w * f;
        g[si] -= A * w * f * x;
      }

      switch (model) {
        case 2: g[k + 1] -= (1.0 - P0) * w; break;
        case 3: g[k + 1] -= (-P0) * w; break;
        case 4:
          g[k + 1] -= (1.0 - P0) * w;
          g[k + 2] -= (-P0) * w;
          break;
        case 6: g[k + 1] -= (1.0 - (1.0 - D) * P0) * w; break;
        case 7: g[k + 1] -= -(1.0 - s.fixed_c) * w * P0; break;  // entry k+1 is D
        case 8:
          g[k + 1] -= (1.0 - (1.0 - D) * P0) * w;
          g[k + 2] -= -(1.0 - C) * w * P0;
          break;
        default: break;
      }
    }
  }
}

double simplex_objective(AnalysisState& s, DRef p) {
  const int k = s.nprep + s.nslopes;
  double C = 0.0, D = 0.0;
  auto raise_to_zero = [&](int index) {
    if (p[index] < 0.0) p[index] = 0.0;
    return p[index];
  };
  // The simplex moves k + 2 coordinates whenever the model has an extra
  // parameter; the coordinate the model does not use is pinned here.
  switch (s.model) {
    case 2:
    case 6:
      C = raise_to_zero(k + 1);
      p[k + 2] = 0.0;
      break;
    case 3:
      D = raise_to_zero(k + 1);
      p[k + 2] = 0.0;
      break;
    case 4:
    case 8:
      C = raise_to_zero(k + 1);
      D = raise_to_zero(k + 2);
      break;
    case 5:
      C = s.fixed_c;
      break;
    case 7:
      C = s.fixed_c;
      D = raise_to_zero(k + 1);
      p[k + 2] = s.fixed_c;
      break;
    default:
      break;
  }

  double F = 0.0;
  for (int i = 1; i <= s.nprep; ++i) {
    const double a = p[i];
    const double b = p[slope_index(s, i)];
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      DRef g = s.groups[i][j];
      const double x = g[1];
      double P0, f, P, Q;
      if (x <= kZeroDose) {
        P0 = 0.0;
      } else if (x >= kInfiniteDose) {
        P0 = 1.0;
      } else {
        tolerance_cdf(s.distribution, 1, a + b * x, &P0, &f);
      }
      response_probability(s.model, P0, &P, &Q, C, D);
      F -= group_term(g[2], g[3], P, Q);
      if (F > kObjectiveCap) F = kObjectiveCap;
    }
  }
  return F;
}

}  // namespace varnalo
