// Fieller limits against an independently coded quadratic, and the edge
// cases of both forms.
#include "potency/fieller.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "support/hand_fit.h"

namespace varnalo {
namespace {

using testing::quadratic_limits;

// Closed forms evaluated in a different order than the quadratic solution:
// agreement to a few units in the last place, scaled by the magnitude.
constexpr double kRelTol = 1e-11;

void expect_close(double expected, double actual) {
  EXPECT_NEAR(expected, actual, kRelTol * std::max(1.0, std::fabs(expected)));
}

struct Case {
  double N, b, vN, vb, cov, t;
};

// Hand-made cases: positive and negative slopes, correlated and not,
// g small and g close to 1.
constexpr Case kCases[] = {
    {1.3, 2.5, 0.04, 0.09, 0.012, 1.95996},
    {-0.7, 4.1, 0.11, 0.5, -0.03, 2.57583},
    {2.2, -3.0, 0.05, 0.2, 0.04, 1.64485},
    {0.4, 1.2, 0.02, 0.3, 0.05, 2.0},  // g = 0.83
    {-5.0, -0.9, 0.7, 0.01, -0.02, 2.3},
};

TEST(FiellerGeneral, AgreesWithTheQuadraticAndTheDeltaMethod) {
  for (const Case& c : kCases) {
    const double m = c.N / c.b;
    double var = 0, upper = 0, lower = 0;
    fieller_general(m, c.b, c.vN, c.vb, c.cov, c.t, &var, &upper, &lower);
    const auto [lo, hi] = quadratic_limits(c.N, c.b, c.vN, c.vb, c.cov, c.t);
    expect_close(lo, lower);
    expect_close(hi, upper);
    EXPECT_LT(lower, upper);
    // Delta method: Var(N/b) = (vN - 2 m cov + m^2 vb) / b^2.
    expect_close((c.vN - 2 * m * c.cov + m * m * c.vb) / (c.b * c.b), var);
  }
}

TEST(FiellerFinney, IsTheQuadraticAboutTheMeanShiftedBack) {
  // About the mean log dose xbar the numerator N - b xbar is uncorrelated
  // with b; the limits are those of (N - b xbar) / b plus xbar.
  const double xbars[] = {0.8, -1.1, 2.4, 0.0, 0.35};
  int i = 0;
  for (const Case& c : kCases) {
    const double xbar = xbars[i++];
    const double m = c.N / c.b;
    double var = 0, upper = 0, lower = 0;
    fieller_finney(m, c.b, c.vN, c.vb, xbar - m, c.t, &var, &upper, &lower);
    const auto [lo, hi] = quadratic_limits(c.N - c.b * xbar, c.b, c.vN, c.vb, 0.0, c.t);
    expect_close(lo + xbar, lower);
    expect_close(hi + xbar, upper);
    const double d = m - xbar;
    expect_close((c.vN + d * d * c.vb) / (c.b * c.b), var);
  }
}

TEST(FiellerEdges, GAtOrAboveOneGivesTheSentinelsButStillAVariance) {
  // g = t^2 vb / b^2 = 4 * 0.25 / 1 = 1 exactly, then above 1.
  for (double vb : {0.25, 0.4}) {
    double var = 0, upper = 0, lower = 0;
    fieller_general(0.5, 1.0, 0.01, vb, 0.0, 2.0, &var, &upper, &lower);
    EXPECT_EQ(99.0, upper);
    EXPECT_EQ(-99.0, lower);
    expect_close(0.01 + 0.25 * vb, var);
    fieller_finney(0.5, 1.0, 0.01, vb, 0.2, 2.0, &var, &upper, &lower);
    EXPECT_EQ(99.0, upper);
    EXPECT_EQ(-99.0, lower);
    expect_close(0.01 + 0.04 * vb, var);
  }
}

TEST(FiellerEdges, ZeroSlopeGivesTheSentinels) {
  double var = 0, upper = 0, lower = 0;
  fieller_general(0.0, 0.0, 0.01, 0.02, 0.0, 1.95996, &var, &upper, &lower);
  EXPECT_EQ(99.0, upper);
  EXPECT_EQ(-99.0, lower);
  fieller_finney(0.0, 0.0, 0.01, 0.02, 0.1, 1.95996, &var, &upper, &lower);
  EXPECT_EQ(99.0, upper);
  EXPECT_EQ(-99.0, lower);
}

TEST(FiellerEdges, ZeroDeviateGivesTheEstimateItself) {
  double var = 0, upper = 0, lower = 0;
  fieller_general(0.73, 1.7, 0.05, 0.08, 0.01, 0.0, &var, &upper, &lower);
  EXPECT_DOUBLE_EQ(0.73, upper);
  EXPECT_DOUBLE_EQ(0.73, lower);
  fieller_finney(0.73, 1.7, 0.05, 0.08, 0.4, 0.0, &var, &upper, &lower);
  EXPECT_DOUBLE_EQ(0.73, upper);
  EXPECT_DOUBLE_EQ(0.73, lower);
}

TEST(FiellerEdges, FinneyFormFloorsAVanishingHalfWidth) {
  // v_num = 0 and c = 0: the half-width term is floored at 1e-50, so the
  // limits are m +- t 1e-25 / e; with b = 2, vb = 0.04, t = 2: e = 0.96.
  double var = 0, upper = 0, lower = 0;
  fieller_finney(1.5, 2.0, 0.0, 0.04, 0.0, 2.0, &var, &upper, &lower);
  const double half = 2.0 * 1e-25 / 0.96;
  EXPECT_DOUBLE_EQ(1.5 + half, upper);
  EXPECT_DOUBLE_EQ(1.5 - half, lower);
  EXPECT_EQ(0.0, var);
}

TEST(FiellerEdges, NegativeSlopeKeepsUpperAboveLower) {
  double var = 0, upper = 0, lower = 0;
  fieller_general(-0.8, -2.0, 0.05, 0.1, 0.02, 1.95996, &var, &upper, &lower);
  EXPECT_GT(upper, lower);
  fieller_finney(-0.8, -2.0, 0.05, 0.1, 0.3, 1.95996, &var, &upper, &lower);
  EXPECT_GT(upper, lower);
}

}  // namespace
}  // namespace varnalo
