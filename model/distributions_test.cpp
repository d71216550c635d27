// Tests of the tolerance distributions and the standard normal routines.
#include "model/distributions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace varnalo {
namespace {

// Ibbetson's polynomial approximation is accurate to about 1e-9 absolute.
constexpr double kCdfAccuracy = 1.5e-9;
// The quantile polynomial is accurate to about 5e-8 in x for
// 3e-5 <= p <= 1 - 3e-5; checked through the exact cdf as |Phi(x) - p| <=
// 5e-8 * phi(x).
constexpr double kQuantileAccuracy = 6e-8;
// Closed forms evaluated in double precision: a few units of rounding.
constexpr double kRounding = 1e-14;

double exact_phi(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }
double exact_density(double x) { return std::exp(-0.5 * x * x) / std::sqrt(2.0 * std::numbers::pi); }

TEST(NormalCdf, MatchesErfcAcrossTheLine) {
  for (double x = -8.0; x <= 8.0; x += 0.01) {
    double P = -1.0;
    EXPECT_EQ(normal_cdf(x, &P), 0);
    EXPECT_NEAR(P, exact_phi(x), kCdfAccuracy) << "x = " << x;
  }
}

TEST(NormalCdf, ExactValuesAtCentreAndBeyondSix) {
  double P = -1.0;
  normal_cdf(0.0, &P);
  EXPECT_EQ(P, 0.5);
  for (double x : {6.0, 6.5, 40.0, 1e300}) {
    normal_cdf(x, &P);
    EXPECT_EQ(P, 1.0) << x;
    normal_cdf(-x, &P);
    EXPECT_EQ(P, 0.0) << -x;
  }
}

// Both tails with full relative accuracy, each against its closed form
// written here with erfc, expm1 and exp (the Normal polynomial's absolute
// error of 1e-9 would be 5e-5 of the tail at z = -4.5 and 1e-3 at -5.5);
// and the reporting form's own values, P and density, wherever it is
// accurate to its last digits, so fits away from the tails keep every bit.
TEST(ToleranceCdfExact, BothTailsKeepTheirRelativeAccuracy) {
  constexpr double kTailRelative = 1e-13;  // a few ulps of erfc / exp / expm1
  struct Case {
    int distribution;
    double z, P, S;
  };
  auto logistic_upper = [](double z) { return std::exp(-z) / (1.0 + std::exp(-z)); };
  const Case cases[] = {
      {1, -3.2, exact_phi(-3.2), exact_phi(3.2)},
      {1, -4.5, exact_phi(-4.5), exact_phi(4.5)},
      {1, -5.5, exact_phi(-5.5), exact_phi(5.5)},
      {1, -6.6, exact_phi(-6.6), exact_phi(6.6)},
      {1, -30.0, exact_phi(-30.0), 1.0},
      {1, 4.5, 1.0 - exact_phi(-4.5), exact_phi(-4.5)},
      {1, 9.0, 1.0 - exact_phi(-9.0), exact_phi(-9.0)},
      {1, 30.0, 1.0, exact_phi(-30.0)},
      {2, -40.0, std::exp(-40.0) / (1.0 + std::exp(-40.0)), 1.0},
      {2, 25.0, 1.0 / (1.0 + std::exp(-25.0)), logistic_upper(25.0)},
      {2, 40.0, 1.0, logistic_upper(40.0)},
      {3, -40.0, -std::expm1(-std::exp(-40.0)), 1.0},
      {3, 3.6, -std::expm1(-std::exp(3.6)), std::exp(-std::exp(3.6))},
      {3, 6.0, 1.0, std::exp(-std::exp(6.0))},
  };
  for (const Case& c : cases) {
    double P = 0, S = 0, f = 0;
    tolerance_cdf_exact(c.distribution, c.z, &P, &S, &f);
    EXPECT_NEAR(P / c.P, 1.0, kTailRelative) << c.distribution << " z " << c.z;
    EXPECT_NEAR(S / c.S, 1.0, kTailRelative) << c.distribution << " z " << c.z;
  }
  // Where each form is accurate: the Normal polynomial within |z| < 3, the
  // closed forms while both tails hold at least 1e-8.
  const struct {
    int distribution;
    double lowest, highest;
  } accurate[] = {{1, -2.99, 2.99}, {2, -30.0, 18.0}, {3, -18.0, 2.9}};
  for (const auto& range : accurate)
    for (double z = range.lowest; z < range.highest; z += 0.37) {
      double P = 0, S = 0, f = 0, P_search = 0, f_search = 0;
      tolerance_cdf_exact(range.distribution, z, &P, &S, &f);
      tolerance_cdf(range.distribution, 2, z, &P_search, &f_search);
      EXPECT_EQ(P, P_search) << range.distribution << " z " << z;
      EXPECT_EQ(f, f_search) << range.distribution << " z " << z;
    }
}

TEST(NormalQuantile, InvertsTheExactCdfInItsRange) {
  for (double p = 3e-5; p < 1.0 - 3e-5; p *= 1.07) {
    for (double pp : {p, 1.0 - p}) {
      double x = 0.0;
      ASSERT_EQ(normal_quantile(pp, &x), 0);
      EXPECT_NEAR(exact_phi(x), pp, kQuantileAccuracy * exact_density(x)) << "p = " << pp;
    }
  }
}

TEST(NormalQuantile, KnownPointsAndSymmetry) {
  double x = 7.0;
  EXPECT_EQ(normal_quantile(0.5, &x), 0);
  EXPECT_EQ(x, 0.0);
  normal_quantile(0.975, &x);
  EXPECT_NEAR(x, 1.959963984540054, kQuantileAccuracy);
  // p and 1 - p both exact in binary: the results differ only in sign.
  for (double p : {0.125, 0.25, 0.0625, 0.001953125, 0.4375}) {
    double lo = 0.0, hi = 0.0;
    normal_quantile(p, &lo);
    normal_quantile(1.0 - p, &hi);
    EXPECT_LT(lo, 0.0);
    EXPECT_EQ(lo, -hi) << p;
  }
}

TEST(NormalQuantile, OutOfRangeLeavesResultUnwritten) {
  for (double p : {0.0, 1.0, -0.25, 1.5}) {
    double x = 42.0;
    EXPECT_EQ(normal_quantile(p, &x), 999) << p;
    EXPECT_EQ(x, 42.0);
  }
}

TEST(ToleranceCdf, NormalFloorsDependOnMode) {
  double P = 0, f = 0;
  tolerance_cdf(1, 1, -10.0, &P, &f);
  EXPECT_EQ(P, 1e-52);
  EXPECT_NEAR(f, exact_density(10.0), 1e-30);
  tolerance_cdf(1, 2, -10.0, &P, &f);
  EXPECT_EQ(P, 1e-16);
  // An unknown mode leaves P unfloored (exactly 0 beyond |z| = 6).
  tolerance_cdf(1, 3, -10.0, &P, &f);
  EXPECT_EQ(P, 0.0);
  for (int mode : {1, 2}) {
    tolerance_cdf(1, mode, 10.0, &P, &f);
    EXPECT_EQ(P, 1.0) << "the upper tail is never floored here";
  }
  tolerance_cdf(1, 1, 0.7, &P, &f);
  EXPECT_NEAR(P, exact_phi(0.7), kCdfAccuracy);
  EXPECT_NEAR(f, exact_density(0.7), kRounding);
}

TEST(ToleranceCdf, LogisticClosedForm) {
  double P = 0, f = 0;
  tolerance_cdf(2, 1, 0.0, &P, &f);
  EXPECT_EQ(P, 0.5);
  EXPECT_EQ(f, 0.25);
  for (double z : {-30.0, -3.0, -0.4, 1.0, 5.0, 30.0}) {
    tolerance_cdf(2, 1, z, &P, &f);
    const double exact = 1.0 / (1.0 + std::exp(-z));
    EXPECT_NEAR(P, exact, kRounding * exact) << z;
    EXPECT_NEAR(f, std::exp(-z) / std::pow(1.0 + std::exp(-z), 2), kRounding) << z;
  }
  // Large z: P reaches 1 without overflow, f is floored rather than 0.
  tolerance_cdf(2, 1, 1000.0, &P, &f);
  EXPECT_EQ(P, 1.0);
  EXPECT_EQ(f, 1e-99);
  tolerance_cdf(2, 2, -1000.0, &P, &f);
  EXPECT_EQ(P, 1e-99);
  EXPECT_EQ(f, 1e-99);
}

TEST(ToleranceCdf, ComplementaryLogLogClosedForm) {
  double P = 0, f = 0;
  tolerance_cdf(3, 1, 0.0, &P, &f);
  EXPECT_NEAR(P, 1.0 - std::exp(-1.0), kRounding);
  EXPECT_NEAR(f, std::exp(-1.0), kRounding);
  for (double z : {-3.0, -0.5, 0.8, 1.5}) {
    tolerance_cdf(3, 2, z, &P, &f);
    EXPECT_NEAR(P, -std::expm1(-std::exp(z)), kRounding) << z;
    EXPECT_NEAR(f, std::exp(z - std::exp(z)), kRounding) << z;
  }
  // 1 - exp(-exp(-50)) vanishes in double precision: both floored.
  tolerance_cdf(3, 1, -50.0, &P, &f);
  EXPECT_EQ(P, 1e-99);
  EXPECT_EQ(f, 1e-99);
  // Upper end: S is floored at 1e-99, so f = 1e-99 * ln(1e99).
  tolerance_cdf(3, 1, 5.0, &P, &f);
  EXPECT_EQ(P, 1.0);
  EXPECT_NEAR(f, 1e-99 * 99.0 * std::log(10.0), 1e-110);
}

TEST(ToleranceCdf, UnderflowingDensityIsFloored) {
  double P = 0, f = 0;
  for (double z : {-40.0, 40.0}) {
    tolerance_cdf(1, 1, z, &P, &f);
    EXPECT_EQ(f, 1e-99) << z;
  }
}

TEST(ToleranceInverse, ProbabilitiesAtOrBeyondZeroAndOne) {
  for (int d : {1, 2, 3, 7}) {
    double z = 0;
    tolerance_inverse(d, 1.0, &z);
    EXPECT_EQ(z, 99.0);
    tolerance_inverse(d, 1.5, &z);
    EXPECT_EQ(z, 99.0);
    tolerance_inverse(d, 0.0, &z);
    EXPECT_EQ(z, -99.0);
    tolerance_inverse(d, -0.2, &z);
    EXPECT_EQ(z, -99.0);
  }
  double z = 5.0;
  tolerance_inverse(7, 0.3, &z);
  EXPECT_EQ(z, 5.0) << "unknown distribution leaves z unwritten";
}

TEST(ToleranceInverse, ClosedFormsAndTheirFloor) {
  double z = 0;
  tolerance_inverse(2, 0.25, &z);
  EXPECT_NEAR(z, std::log(1.0 / 3.0), kRounding);
  tolerance_inverse(3, 1.0 - std::exp(-1.0), &z);
  EXPECT_NEAR(z, 0.0, kRounding);
  tolerance_inverse(3, 0.5, &z);
  EXPECT_NEAR(z, std::log(std::log(2.0)), kRounding);
  tolerance_inverse(1, 0.975, &z);
  EXPECT_NEAR(z, 1.959963984540054, kQuantileAccuracy);
  // -ln(1 - 1e-60) is 0 in double precision: floored at 1e-50.
  tolerance_inverse(3, 1e-60, &z);
  EXPECT_EQ(z, std::log(1e-50));
}

}  // namespace
}  // namespace varnalo
