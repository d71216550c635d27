#include "inference/covariance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

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

TEST(DeriveLocationScale, SeparateSlopesWithTwoExtras) { check_delta_method(2, 2, 8); }
TEST(DeriveLocationScale, SeparateSlopesThreePreparations) { check_delta_method(3, 3, 4); }
TEST(DeriveLocationScale, CommonSlopeWithTwoExtras) { check_delta_method(3, 1, 4); }

}  // namespace
}  // namespace varnalo
