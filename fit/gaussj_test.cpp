#include "fit/gaussj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>


namespace varnalo {
namespace {

// Inverses of exactly representable small matrices come out exact or within
// a couple of rounding errors.
constexpr double kExactTol = 1e-15;
// A*inv(A) for a diagonally dominant 5x5 matrix (condition number below 10):
// a few hundred unit round-offs.
constexpr double kIdentityTol = 1e-13;

Matrix square(int n, std::initializer_list<double> rows) {
  Matrix a = matrix(1, n, 1, n);
  auto it = rows.begin();
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) a[i][j] = *it++;
  return a;
}

TEST(Gaussj, SmallExactInverses) {
  Matrix one = square(1, {4});
  EXPECT_FALSE(gaussj(one, 1).singular());
  EXPECT_EQ(one[1][1], 0.25);

  // The swap matrix is its own inverse: the pivot search takes the element
  // met last, exchanges the rows, and the column exchange restores them.
  Matrix swap = square(2, {0, 1, 1, 0});
  EXPECT_FALSE(gaussj(swap, 2).singular());
  EXPECT_EQ(swap[1][1], 0.0);
  EXPECT_EQ(swap[1][2], 1.0);
  EXPECT_EQ(swap[2][1], 1.0);
  EXPECT_EQ(swap[2][2], 0.0);

  Matrix diag = square(3, {2, 0, 0, 0, 4, 0, 0, 0, 8});
  EXPECT_FALSE(gaussj(diag, 3).singular());
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j)
      EXPECT_NEAR(diag[i][j], i == j ? 1.0 / std::pow(2.0, i) : 0.0, kExactTol) << i << "," << j;

  // A 2x2 with a known closed-form inverse: [[4,7],[2,6]]^-1 = [[0.6,-0.7],[-0.2,0.4]].
  Matrix general = square(2, {4, 7, 2, 6});
  EXPECT_FALSE(gaussj(general, 2).singular());
  EXPECT_NEAR(general[1][1], 0.6, kExactTol);
  EXPECT_NEAR(general[1][2], -0.7, kExactTol);
  EXPECT_NEAR(general[2][1], -0.2, kExactTol);
  EXPECT_NEAR(general[2][2], 0.4, kExactTol);
}

TEST(Gaussj, OnlyTheLeadingBlockIsTouched) {
  // Allocated like the covariance matrices: one row more than used (row 0)
  // and one extra row and column beyond n.
  Matrix a = matrix(0, 3, 1, 3);
  for (int i = 0; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) a[i][j] = 7.0;
  a[1][1] = 2;
  a[1][2] = 0;
  a[2][1] = 0;
  a[2][2] = 5;
  EXPECT_FALSE(gaussj(a, 2).singular());
  EXPECT_EQ(a[1][1], 0.5);
  EXPECT_EQ(a[2][2], 0.2);
  for (int j = 1; j <= 3; ++j) {
    EXPECT_EQ(a[0][j], 7.0);
    EXPECT_EQ(a[3][j], 7.0);
  }
  EXPECT_EQ(a[1][3], 7.0);
  EXPECT_EQ(a[2][3], 7.0);
}

TEST(Gaussj, RandomWellConditionedMatrixTimesInverseIsIdentity) {
  constexpr int n = 5;
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Matrix a = matrix(1, n, 1, n);
  Matrix inv = matrix(1, n, 1, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      a[i][j] = u(rng) + (i == j ? 6.0 : 0.0);  // diagonal dominance keeps it well conditioned
      inv[i][j] = a[i][j];
    }
  EXPECT_FALSE(gaussj(inv, n).singular());
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double left = 0, right = 0;
      for (int k = 1; k <= n; ++k) {
        left += a[i][k] * inv[k][j];
        right += inv[i][k] * a[k][j];
      }
      EXPECT_NEAR(left, i == j ? 1.0 : 0.0, kIdentityTol) << i << "," << j;
      EXPECT_NEAR(right, i == j ? 1.0 : 0.0, kIdentityTol) << i << "," << j;
    }
}

TEST(Gaussj, SingularMatricesAreRecordedAndTheEliminationGoesOn) {
  Matrix zero_row = square(3, {1, 2, 3, 0, 0, 0, 4, 5, 7});
  const InversionSummary inversion = gaussj(zero_row, 3);
  ASSERT_TRUE(inversion.singular());
  for (const PivotFailure failure : inversion.failures) EXPECT_EQ(failure, PivotFailure::kZeroPivot);
  bool non_finite = false;
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) non_finite = non_finite || !std::isfinite(zero_row[i][j]);
  EXPECT_TRUE(non_finite);
}

TEST(Gaussj, NotANumberEntriesAreTreatedAsASingularPivot) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Every comparison with the pivot candidates fails: no pivot is found in
  // the first step. The inversion must still finish without reading an
  // unset pivot index (the debug bounds checks would abort).
  Matrix all_nan = square(2, {nan, nan, nan, nan});
  const std::vector<PivotFailure> twice = {PivotFailure::kZeroPivot, PivotFailure::kZeroPivot};
  EXPECT_EQ(gaussj(all_nan, 2).failures, twice);
  EXPECT_TRUE(std::isnan(all_nan[1][1]));

  Matrix mixed = square(2, {nan, 1, 1, 2});
  EXPECT_TRUE(gaussj(mixed, 2).singular());
}

}  // namespace
}  // namespace varnalo
