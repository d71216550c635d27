#include "model/arrow_matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace varnalo {
namespace {

// A solve through the block elimination agrees with the dense solution to
// rounding times the condition number of these well-conditioned matrices.
constexpr double kSolve = 1e-10;

using Dense = std::vector<std::vector<double>>;  // 1-based, entry 0 unused

// A symmetric positive definite arrow matrix filled from a fixed pattern:
// dominant diagonal, couplings of both signs.
ArrowMatrix pattern(const ArrowLayout& layout) {
  ArrowMatrix m(layout);
  const int L = layout.local, G = layout.globals();
  for (int i = 1; i <= layout.nprep; ++i) {
    for (int u = 0; u < L; ++u)
      for (int w = 0; w < L; ++w) m.local(i, u, w) = u == w ? 4.0 + i : 0.5 * std::sin(i + u + w);
    for (int u = 0; u < L; ++u)
      for (int k = 0; k < G; ++k) m.coupling(i, u, k) = 0.3 * std::cos(3.0 * i + u + 5.0 * k);
  }
  for (int k = 0; k < G; ++k)
    for (int l = 0; l < G; ++l) m.global(k, l) = k == l ? 6.0 + layout.nprep : 0.2 * (k + l + 1);
  return m;
}

// Solves the dense system by Gauss elimination with partial pivoting,
// over the free vector indices only.
std::vector<double> dense_solve(Dense a, std::vector<double> b, const std::vector<int>& free) {
  const std::size_t n = free.size();
  std::vector<std::vector<double>> m(n, std::vector<double>(n + 1));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) m[i][j] = a[free[i]][free[j]];
    m[i][n] = b[free[i]];
  }
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t piv = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::fabs(m[r][c]) > std::fabs(m[piv][c])) piv = r;
    std::swap(m[c], m[piv]);
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = m[r][c] / m[c][c];
      for (std::size_t k = c; k <= n; ++k) m[r][k] -= f * m[c][k];
    }
  }
  std::vector<double> x(b.size(), 0.0);
  for (std::size_t i = 0; i < n; ++i) x[free[i]] = m[i][n] / m[i][i];
  return x;
}

// Every shape the parameter vector takes: one or several preparations,
// separate or common slopes, no rate, C, D or both (the border then has 0
// to 3 entries), and rates held on their bounds.
TEST(ArrowMatrix, FactorAndSolveMatchTheDenseSystemForEveryShape) {
  struct Shape {
    int nprep, nslopes, c, d;
    std::vector<bool> held;
  };
  const Shape shapes[] = {
      {1, 1, 0, 0, {}},         {3, 1, 0, 0, {}},          {3, 3, 0, 0, {}},
      {4, 1, 6, 0, {}},         {4, 1, 0, 6, {}},          {4, 1, 6, 7, {}},
      {4, 4, 9, 10, {}},        {2, 2, 5, 0, {}},          {4, 1, 6, 7, {false, true, false}},
      {4, 4, 9, 10, {true, true}}, {5, 1, 7, 8, {false, false, true}},
  };
  for (const Shape& sh : shapes) {
    const ArrowLayout layout = ArrowLayout::make(sh.nprep, sh.nslopes, sh.c, sh.d);
    const int npar = layout.size();
    ArrowMatrix m = pattern(layout);
    Dense dense(static_cast<std::size_t>(npar) + 1, std::vector<double>(npar + 1, 0.0));
    for (int i = 1; i <= npar; ++i)
      for (int j = 1; j <= npar; ++j) dense[i][j] = m.at(i, j);
    for (int i = 1; i <= npar; ++i)
      for (int j = 1; j <= npar; ++j) ASSERT_EQ(dense[i][j], dense[j][i]) << "symmetric " << i << j;
    std::vector<int> free;
    for (int e = 1; e <= npar; ++e) {
      bool is_held = false;
      for (int k = 0; k < layout.globals(); ++k)
        is_held = is_held || (k < static_cast<int>(sh.held.size()) && sh.held[k] &&
                              layout.global_index[static_cast<std::size_t>(k)] == e);
      if (!is_held) free.push_back(e);
    }
    ASSERT_TRUE(m.factor(sh.held, 1e-13));
    DVector rhs = dvector(1, npar), x = dvector(1, npar), y = dvector(1, npar);
    std::vector<double> b(static_cast<std::size_t>(npar) + 1, 0.0);
    for (int e = 1; e <= npar; ++e) rhs[e] = b[e] = std::cos(1.7 * e);
    m.solve(rhs, x);
    const std::vector<double> expected = dense_solve(dense, b, free);
    for (int e = 1; e <= npar; ++e)
      EXPECT_NEAR(x[e], expected[e], kSolve) << "prep " << sh.nprep << " slopes " << sh.nslopes << " entry " << e;
    // multiply is the matrix itself.
    m.multiply(rhs, y);
    for (int i = 1; i <= npar; ++i) {
      double sum = 0.0;
      for (int j = 1; j <= npar; ++j) sum += dense[i][j] * b[j];
      EXPECT_NEAR(y[i], sum, kSolve) << i;
    }
    dvector_free(rhs, 1, npar);
    dvector_free(x, 1, npar);
    dvector_free(y, 1, npar);
  }
}

// An indefinite matrix (a negative pivot in a preparation's block, or in
// the Schur complement of the border) and a singular one are not positive
// definite; a shift of the diagonal makes the indefinite one so.
TEST(ArrowMatrix, FactorRefusesWhatIsNotPositiveDefinite) {
  const ArrowLayout layout = ArrowLayout::make(3, 3, 7, 8);
  ArrowMatrix local_bad = pattern(layout);
  local_bad.local(2, 1, 1) = -1.0;
  EXPECT_FALSE(local_bad.factor({}, 1e-13));
  local_bad.add_to_diagonal(10.0);
  EXPECT_TRUE(local_bad.factor({}, 1e-13));

  ArrowMatrix border_bad = pattern(layout);
  border_bad.global(1, 1) = 0.01;  // the Schur complement's pivot turns negative
  EXPECT_FALSE(border_bad.factor({}, 1e-13));
  // Held, that entry leaves the system.
  EXPECT_TRUE(border_bad.factor({false, true}, 1e-13));

  const ArrowLayout one = ArrowLayout::make(1, 1, 0, 0);
  ArrowMatrix singular(one);
  singular.local(1, 0, 0) = 1.0;
  singular.coupling(1, 0, 0) = 2.0;
  singular.global(0, 0) = 4.0;  // [[1, 2], [2, 4]]
  EXPECT_FALSE(singular.factor({}, 1e-13));
}

}  // namespace
}  // namespace varnalo
