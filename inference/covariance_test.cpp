#include "inference/covariance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <cmath>
#include <vector>

#include "model/likelihood.h"
#include "model/model_family.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;

// Two ways of forming the same products of a few doubles.
constexpr double kRounding = 1e-12;

using Dense = std::vector<std::vector<double>>;  // 0-based

// A symmetric positive definite matrix A A^T from a fixed pattern.
Dense spd(int n) {
  Dense a(n, std::vector<double>(n)), v(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) a[i][j] = std::sin(1.0 + 3 * i + 7 * j) + (i == j ? 2.0 : 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) v[i][j] += a[i][k] * a[j][k];
  return v;
}

// G V G^T.
Dense sandwich(const Dense& g, const Dense& v) {
  const int n = static_cast<int>(v.size());
  Dense gv(n, std::vector<double>(n, 0.0)), u(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) gv[i][j] += g[i][k] * v[k][j];
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) u[i][j] += gv[i][k] * g[j][k];
  return u;
}

// Checks the derivation against the Jacobian of (m, s, C, D) with respect
// to (a, b, C, D), for any slope layout.
void check_delta_method(int nprep, int nslopes, int model) {
  StageFixture f;
  std::vector<std::vector<testing::Group>> preps(static_cast<std::size_t>(nprep),
                                                 {{1.0, 10, 5}});
  f.set_groups(preps);
  f.begin_fit(1, model, nslopes);
  AnalysisState& s = f.state();
  const int K = s.param_capacity();
  const Dense v = spd(K);
  for (int i = 1; i <= K; ++i) {
    s.params[i] = 0.3 * i - 1.1;
    for (int j = 1; j <= K; ++j) s.info_cov[i][j] = v[i - 1][j - 1];
  }
  Dense g(K, std::vector<double>(K, 0.0));
  for (int i = 0; i < K; ++i) g[i][i] = 1.0;
  for (int j = 1; j <= nprep; ++j) {
    const int sl = nslopes == 1 ? nprep + 1 : nprep + j;
    const double a = s.params[j], b = s.params[sl];
    g[j - 1][j - 1] = -1 / b;
    g[j - 1][sl - 1] = a / (b * b);
  }
  for (int sl = nprep + 1; sl <= nprep + nslopes; ++sl)
    g[sl - 1][sl - 1] = -1 / (s.params[sl] * s.params[sl]);
  const Dense u = sandwich(g, v);

  derive_location_scale(s, s.params, s.derived_params, s.info_cov, s.derived_cov);
  for (int j = 1; j <= nprep; ++j) {
    const int sl = nslopes == 1 ? nprep + 1 : nprep + j;
    EXPECT_NEAR(s.derived_params[j], -s.params[j] / s.params[sl], kRounding);
  }
  for (int sl = nprep + 1; sl <= nprep + nslopes; ++sl)
    EXPECT_NEAR(s.derived_params[sl], 1 / s.params[sl], kRounding);
  for (int i = K - 1; i <= K; ++i) EXPECT_EQ(s.derived_params[i], s.params[i]);
  for (int i = 1; i <= K; ++i)
    for (int j = 1; j <= K; ++j)
      EXPECT_NEAR(s.derived_cov[i][j], u[i - 1][j - 1], kRounding * (1 + std::fabs(u[i - 1][j - 1])))
          << i << "," << j;
}

// ---- The expected information, written out group by group --------------

constexpr double kZeroDose = -99.0;

// P0, S0 = 1 - P0 and the density, from closed forms (erfc, exp, expm1)
// that keep both tails' relative accuracy.
struct Tolerance {
  double P0, S0, f;
};
Tolerance closed_form(int distribution, double z) {
  switch (distribution) {
    case 1:
      return {0.5 * std::erfc(-z / std::sqrt(2.0)), 0.5 * std::erfc(z / std::sqrt(2.0)),
              std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI)};
    case 2: {
      const double P0 = 1.0 / (1.0 + std::exp(-z)), S0 = 1.0 / (1.0 + std::exp(z));
      return {P0, S0, P0 * S0};
    }
    default: {
      const double t = std::exp(z);
      return {-std::expm1(-t), std::exp(-t), t * std::exp(-t)};
    }
  }
}

// Inverse by Gauss-Jordan elimination with partial pivoting in long double.
Dense inverse(const Dense& m) {
  const std::size_t n = m.size();
  std::vector<std::vector<long double>> a(n, std::vector<long double>(2 * n, 0.0L));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) a[i][j] = m[i][j];
    a[i][n + i] = 1.0L;
  }
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t pivot = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    std::swap(a[c], a[pivot]);
    const long double d = a[c][c];
    for (long double& v : a[c]) v /= d;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      const long double factor = a[r][c];
      for (std::size_t k = 0; k < 2 * n; ++k) a[r][k] -= factor * a[c][k];
    }
  }
  Dense out(n, std::vector<double>(n));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) out[i][j] = static_cast<double>(a[i][n + j]);
  return out;
}

// sum over groups of n (dP/du)(dP/dv) / (P Q), 0-based over the npar
// fitted entries, with P = C + (1 - C - D) P0 (models 1-4) or
// C + (1 - C)(1 - D) P0 (models 5-8).
Dense expected_information(AnalysisState& s, double C, double D) {
  const int n = s.npar;
  const RateIndices at = rate_indices(s);
  const bool all_or_nothing = s.model <= 4;
  Dense I(n, std::vector<double>(n, 0.0));
  for (int i = 1; i <= s.nprep; ++i) {
    const int slope = s.nslopes == 1 ? s.nprep + 1 : s.nprep + i;
    for (int k = 1; k <= s.ngroups[i]; ++k) {
      const double x = s.groups[i][k][1], subjects = s.groups[i][k][2];
      const Tolerance t = x <= kZeroDose ? Tolerance{0.0, 1.0, 0.0}
                                         : closed_form(s.distribution, s.params[i] + s.params[slope] * x);
      const double A = all_or_nothing ? 1.0 - C - D : (1.0 - C) * (1.0 - D);
      const double P = C + A * t.P0;
      const double Q = all_or_nothing ? D + A * t.S0 : (1.0 - C) * (D + (1.0 - D) * t.S0);
      std::vector<double> g(static_cast<std::size_t>(n), 0.0);
      g[i - 1] = A * t.f;
      g[slope - 1] = x <= kZeroDose ? 0.0 : A * t.f * x;
      if (at.c != 0) g[at.c - 1] = all_or_nothing ? t.S0 : 1.0 - (1.0 - D) * t.P0;
      if (at.d != 0) g[at.d - 1] = all_or_nothing ? -t.P0 : -(1.0 - C) * t.P0;
      for (int u = 0; u < n; ++u)
        for (int v = 0; v < n; ++v) I[u][v] += subjects * g[u] * g[v] / (P * Q);
    }
  }
  return I;
}

// The program's info_cov is the inverse of the information written out
// above, for every model, distribution and slope layout, on data that
// hold what breaks floored probabilities: preparations decades apart, many
// groups without responders, a group beyond z = -6 and one near z = 5, a
// shallow slope, a control group, and C or D on the bound 0.
TEST(InformationMatrix, IsTheExactExpectedInformationForEveryModel) {
  // Entries relative to sqrt(V_ii V_jj): the Normal polynomial within
  // |z| < 3 (relative error up to 5e-7 of the smaller tail) moves a group's
  // weight by that much at most; the inversions add rounding times the
  // condition number.
  constexpr double kSameMatrix = 1e-6;
  constexpr double kPinned = 1e-10;
  const std::vector<testing::Group> low = {{-0.3, 20, 0}, {0.5, 20, 0}, {1.5, 20, 1},
                                           {2.5, 20, 3},  {3.5, 20, 12}, {4.5, 20, 19}};
  const std::vector<testing::Group> high = {{-2.3, 30, 0}, {-1.3, 30, 0}, {-0.3, 30, 5},
                                            {0.7, 30, 9},  {2.7, 30, 28}};
  const testing::Group control{kZeroDose, 40, 4};
  struct Rates {
    double C, D;
  };
  for (int model = 1; model <= 8; ++model)
    for (int distribution = 1; distribution <= 3; ++distribution)
      for (int nslopes : {1, 2})
        for (Rates rates : {Rates{0.1, 0.05}, Rates{0.0, 0.08}, Rates{0.12, 0.0}}) {
          const bool known_c = model == 5 || model == 7;
          // With C at 0, a control group has P = 0: its information on C is
          // infinite, so it is left out there.
          const double C = known_c ? 0.3 : rates.C;
          std::vector<testing::Group> first = low;
          if (C > 0.0) first.insert(first.begin(), control);
          StageFixture f;
          f.set_groups({first, high});
          f.begin_fit(distribution, model, nslopes);
          AnalysisState& s = f.state();
          s.fixed_c = 0.3;
          const double slopes[] = {2.5, 0.4};  // the second preparation's is shallow
          s.params[1] = -6.5;
          s.params[2] = 1.0;
          for (int j = 1; j <= nslopes; ++j) s.params[2 + j] = slopes[j - 1];
          const RateIndices at = rate_indices(s);
          if (at.c != 0) s.params[at.c] = C;
          if (at.d != 0) s.params[at.d] = rates.D;
          double c_used = 0.0, d_used = 0.0;
          fitted_c_d(s, &c_used, &d_used);
          const Dense V = inverse(expected_information(s, c_used, d_used));
          build_info_matrix(s);
          const int n = s.npar;
          // A rate that a group with Q near 0 pins to its bound (D = 0 under
          // the complementary log-log, whose upper tail falls to 1e-50 here)
          // has a variance of about 0: compared on a floor of the largest.
          double largest = 0.0;
          for (int i = 0; i < n; ++i) largest = std::max(largest, V[i][i]);
          const double floor = kPinned * largest;
          double worst = 0.0;
          for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
              worst = std::max(worst, std::fabs(s.info_cov[i + 1][j + 1] - V[i][j]) /
                                          std::sqrt(std::max(V[i][i], floor) *
                                                    std::max(V[j][j], floor)));
          EXPECT_LT(worst, kSameMatrix) << "model " << model << " distribution " << distribution
                                      << " slopes " << nslopes << " C " << C << " D " << rates.D;
        }
}

// The kernel's expected information in arrow form is the matrix the
// "Finney Equivalent" report inverts: its dense inverse is info_cov.
TEST(LikelihoodKernel, ExpectedInformationIsTheFinneyMatrix) {
  constexpr double kSameMatrix = 1e-10;  // two summation orders, one inversion each
  for (int model : {1, 4, 7}) {
    StageFixture fx;
    fx.set_groups({{{-99.0, 40, 3}, {0.0, 20, 1}, {0.4, 20, 4}, {0.8, 20, 11}, {1.2, 20, 17}, {3.0, 20, 20}},
                  {{-1.5, 30, 0}, {-0.5, 30, 2}, {0.5, 30, 12}, {1.5, 30, 26}}});
    fx.begin_fit(2, model, 1);
    AnalysisState& s = fx.state();
    s.params[1] = -1.6;
    s.params[2] = -0.7;
    s.params[3] = 3.1;
    const RateIndices at = rate_indices(s);
    if (at.c != 0) s.params[at.c] = 0.08;
    if (at.d != 0) s.params[at.d] = 0.05;
    ArrowMatrix I(fit_kernel(s).layout());
    fit_kernel(s).expected_information(s.params, I);
    build_info_matrix(s);
    const int n = s.npar;
    ASSERT_TRUE(I.factor({}, 1e-13));
    DVector unit = dvector(1, s.param_capacity()), column = dvector(1, s.param_capacity());
    for (int j = 1; j <= n; ++j) {
      for (int i = 1; i <= s.param_capacity(); ++i) unit[i] = i == j ? 1.0 : 0.0;
      I.solve(unit, column);
      for (int i = 1; i <= n; ++i)
        EXPECT_NEAR(column[i], s.info_cov[i][j],
                    kSameMatrix * std::sqrt(s.info_cov[i][i] * s.info_cov[j][j]))
            << "model " << model << " " << i << "," << j;
    }
    dvector_free(unit, 1, s.param_capacity());
    dvector_free(column, 1, s.param_capacity());
  }
}

TEST(DeriveLocationScale, SeparateSlopesWithTwoExtras) { check_delta_method(2, 2, 8); }
TEST(DeriveLocationScale, SeparateSlopesThreePreparations) { check_delta_method(3, 3, 4); }
TEST(DeriveLocationScale, CommonSlopeWithTwoExtras) { check_delta_method(3, 1, 4); }

}  // namespace
}  // namespace varnalo
