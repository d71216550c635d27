// Test helpers of the potency and export tests: fitted states built from
// committed reference values or from hand-made numbers, so that the tests
// do not depend on the maximiser.
#pragma once

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "support/harness.h"

namespace varnalo::testing {

// Names of the fitted parameters of a common-slope fit in vector order.
inline std::vector<std::string> fitted_names(int nprep, int model) {
  std::vector<std::string> names;
  for (int j = 1; j <= nprep; ++j) names.push_back("a" + std::to_string(j));
  names.push_back("b");
  if (model == 2 || model == 6) names.push_back("C");
  if (model == 3 || model == 7) names.push_back("D");
  if (model == 4 || model == 8) {
    names.push_back("C");
    names.push_back("D");
  }
  return names;
}

// Loads the common-slope fit of a reference case into the fixture: params,
// fit_cov = inverse observed information and info_cov = inverse expected
// information (both multiplied by het), prep_sum_w, prep_mean_x, het_factor
// and sep_df. One dummy dose group per preparation. Returns false when the
// reference file does not hold the case.
inline bool load_reference_fit(StageFixture& fx, const std::string& case_name, int nprep,
                               int distribution, int model, double het) {
  const ReferenceValues& ref = ReferenceValues::get();
  if (!ref.has(case_name, "b")) return false;
  std::vector<std::vector<Group>> preps(nprep, std::vector<Group>{{0.0, 10.0, 5.0}});
  fx.set_groups(preps);
  fx.begin_fit(distribution, model, 1);
  AnalysisState& s = fx.state();
  const std::vector<std::string> names = fitted_names(nprep, model);
  const int n = static_cast<int>(names.size());
  for (int i = 1; i <= n; ++i) s.params[i] = ref.at(case_name, names[i - 1]);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      const std::string ij = std::to_string(i) + "_" + std::to_string(j);
      s.fit_cov[i][j] = het * ref.at(case_name, "obscov_" + ij);
      s.info_cov[i][j] = het * ref.at(case_name, "cov_" + ij);
    }
  for (int j = 1; j <= nprep; ++j) {
    s.prep_sum_w[j] = ref.at(case_name, "sumw_" + std::to_string(j));
    s.prep_mean_x[j] = ref.at(case_name, "meanx_" + std::to_string(j));
  }
  s.het_factor = het;
  s.sep_df = ref.at(case_name, "het_df");
  return true;
}

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

// Number of non-overlapping occurrences of needle in text.
inline int count_of(const std::string& text, const std::string& needle) {
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size()))
    ++n;
  return n;
}

}  // namespace varnalo::testing
