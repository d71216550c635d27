// Hand-made fitted states for the potency and export tests (estimates and
// covariances given directly, so the tests do not depend on the maximiser),
// and the textbook Fieller quadratic the limits are checked against. The
// fits of the reference file are loaded by support/reference_data.h.
#pragma once

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "support/harness.h"

namespace varnalo::testing {

// A hand-made one- or two-preparation Normal model-1 fit: intercepts a,
// slope b, and the same covariance matrix under both methods.
struct HandFit {
  std::vector<double> a;
  double b;
  std::vector<std::vector<double>> V;  // (P+1) x (P+1): a1..aP, b
  std::vector<double> sum_w;
  std::vector<double> mean_x;
};

inline void load_hand_fit(StageFixture& fx, const HandFit& h,
                          const std::vector<std::string>& names = {}) {
  const int P = static_cast<int>(h.a.size());
  std::vector<std::vector<Group>> preps(P, std::vector<Group>{{0.0, 10.0, 5.0}});
  fx.set_groups(preps, names);
  fx.begin_fit(1, 1, 1);
  AnalysisState& s = fx.state();
  for (int j = 1; j <= P; ++j) {
    s.params[j] = h.a[j - 1];
    s.prep_sum_w[j] = h.sum_w[j - 1];
    s.prep_mean_x[j] = h.mean_x[j - 1];
  }
  s.params[P + 1] = h.b;
  for (int i = 1; i <= P + 1; ++i)
    for (int j = 1; j <= P + 1; ++j) s.fit_cov[i][j] = s.info_cov[i][j] = h.V[i - 1][j - 1];
  s.het_factor = 1.0;
}

// Roots of (N - m D)^2 = t^2 (vN - 2 m cND + m^2 vD) in m, the textbook
// Fieller quadratic, as {lower, upper}.
inline std::pair<double, double> quadratic_limits(double N, double D, double vN, double vD,
                                                  double cND, double t) {
  const double A = D * D - t * t * vD;
  const double B = -2.0 * (N * D - t * t * cND);
  const double C = N * N - t * t * vN;
  const double root = std::sqrt(B * B - 4.0 * A * C);
  const double r1 = (-B - root) / (2.0 * A);
  const double r2 = (-B + root) / (2.0 * A);
  return {r1 < r2 ? r1 : r2, r1 < r2 ? r2 : r1};
}

}  // namespace varnalo::testing
