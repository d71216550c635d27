#include "inference/probability.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "support/harness.h"

namespace varnalo {
namespace {

using std::numbers::pi;

// The odd-DF chi-square series rests on the normal distribution function,
// Ibbetson's polynomial, which is good to about 1.1e-9 absolute.
constexpr double kNormalCdfError = 2.2e-9;
// The fixed decimal constants near 2/pi, 1/pi and sqrt(2/pi) differ from the
// true values by under 1e-10; the series built on them inherit that.
constexpr double kFixedConstantError = 2e-10;
// Series with even DF use exp only: rounding error of a few terms.
constexpr double kRounding = 1e-14;
// Wilson-Hilferty's cube-root approximation near the 5 per cent point of
// 11 DF is off by about 2e-4.
constexpr double kWilsonHilfertyError = 5e-4;
// Longer exact series (a dozen terms, powers, square roots) round to this.
constexpr double kSeriesRounding = 1e-12;
// F and t series with odd DF carry the fixed constants' error, multiplied
// by the sum of up to seven further terms.
constexpr double kSeriesError = 1e-9;
// Tabulated t quantiles are given to five decimals.
constexpr double kTableDigits = 1e-5;
// The t quantile search ends with steps of 1e-5 plus a last addition of
// 1e-6, so its result lies within one such step of the quantile.
constexpr double kSearchStep = 1.1e-5;
// The Cornish-Fisher expansion with five terms gives five decimals at 30 DF.
constexpr double kCornishFisherError = 5e-6;

double exact_chi2_1(double x) { return std::erfc(std::sqrt(x / 2)); }
double exact_chi2_3(double x) {
  return std::erfc(std::sqrt(x / 2)) + std::sqrt(2 * x / pi) * std::exp(-x / 2);
}

TEST(Chi2Prob, SmallDegreesOfFreedomMatchClosedForms) {
  for (double x : {0.1, 0.5, 1.0, 2.5, 3.84, 6.63, 10.0, 25.0}) {
    double p = -1;
    ASSERT_EQ(chi2_prob(x, 1, &p), 0);
    EXPECT_NEAR(p, exact_chi2_1(x), kNormalCdfError) << x;
    ASSERT_EQ(chi2_prob(x, 2, &p), 0);
    EXPECT_NEAR(p, std::exp(-x / 2), kRounding) << x;
    ASSERT_EQ(chi2_prob(x, 3, &p), 0);
    EXPECT_NEAR(p, exact_chi2_3(x), kNormalCdfError + kFixedConstantError) << x;
    ASSERT_EQ(chi2_prob(x, 4, &p), 0);
    EXPECT_NEAR(p, std::exp(-x / 2) * (1 + x / 2), kRounding) << x;
    ASSERT_EQ(chi2_prob(x, 6, &p), 0);
    EXPECT_NEAR(p, std::exp(-x / 2) * (1 + x / 2 + x * x / 8), kRounding) << x;
  }
  // The 5 per cent point of one DF is 3.8414588: 3.84 lies just inside.
  double p = 0;
  chi2_prob(3.84, 1, &p);
  EXPECT_GT(p, 0.05);
}

TEST(Chi2Prob, BoundsAndBadArguments) {
  for (int n : {1, 2, 7, 10, 11, 40}) {
    double p = -1;
    ASSERT_EQ(chi2_prob(0.0, n, &p), 0);
    EXPECT_EQ(p, 1.0);
    ASSERT_EQ(chi2_prob(-3.0, n, &p), 0);
    EXPECT_EQ(p, 1.0);
    ASSERT_EQ(chi2_prob(401.0, n, &p), 0);
    EXPECT_EQ(p, 0.0);
  }
  double untouched = 42;
  EXPECT_EQ(chi2_prob(1.0, 0, &untouched), 999);
  EXPECT_EQ(chi2_prob(1.0, -2, &untouched), 999);
  EXPECT_EQ(untouched, 42);
}

TEST(Chi2Prob, WilsonHilfertyAboveTenDegrees) {
  // 19.67514 is the exact 5 per cent point of 11 DF.
  double p = 0;
  chi2_prob(19.675, 11, &p);
  EXPECT_NEAR(p, 0.05, kWilsonHilfertyError);
  EXPECT_LT(p, 0.05);  // the approximation lies below the exact tail here
  // 10 DF still takes the exact series: exp(-5) (1 + 5 + 5^2/2 + ... + 5^4/24).
  chi2_prob(10.0, 10, &p);
  const double series = std::exp(-5.0) * (1 + 5 + 12.5 + 125.0 / 6 + 625.0 / 24);
  EXPECT_NEAR(p, series, kRounding);
}

TEST(FProb, ClosedFormsAndParities) {
  double p = 0;
  ASSERT_EQ(f_prob(1.0, 2, 2, &p), 0);
  EXPECT_EQ(p, 0.5);
  ASSERT_EQ(f_prob(2.0, 1, 2, &p), 0);
  EXPECT_NEAR(p, 1 - std::sqrt(0.5), kRounding);
  // F(1,1) at 1 is 1/2; the constant near 2/pi shows in the 11th decimal.
  ASSERT_EQ(f_prob(1.0, 1, 1, &p), 0);
  EXPECT_NEAR(p, 0.5, kFixedConstantError);
  EXPECT_GT(p, 0.5);
  // F(2, d2) upper tail is (1 + 2x/d2)^(-d2/2) for any d2.
  for (int d2 : {1, 2, 3, 4, 7, 10})
    for (double x : {0.3, 1.0, 2.5, 6.0}) {
      ASSERT_EQ(f_prob(x, 2, d2, &p), 0);
      EXPECT_NEAR(p, std::pow(1 + 2 * x / d2, -d2 / 2.0), kSeriesRounding) << x << " " << d2;
    }
}

TEST(FProb, ReciprocalIdentityOverAllParities) {
  // P(F(d1,d2) > x) + P(F(d2,d1) > 1/x) = 1.
  for (int d1 = 1; d1 <= 7; ++d1)
    for (int d2 = 1; d2 <= 7; ++d2)
      for (double x : {0.4, 1.3, 3.0}) {
        double p = 0, q = 0;
        ASSERT_EQ(f_prob(x, d1, d2, &p), 0);
        ASSERT_EQ(f_prob(1 / x, d2, d1, &q), 0);
        EXPECT_NEAR(p + q, 1.0, kSeriesError) << d1 << " " << d2 << " " << x;
      }
}

TEST(FProb, BadArguments) {
  double untouched = 7;
  EXPECT_EQ(f_prob(-0.1, 1, 1, &untouched), 999);
  EXPECT_EQ(f_prob(1.0, 0, 3, &untouched), 999);
  EXPECT_EQ(f_prob(1.0, 3, 0, &untouched), 999);
  EXPECT_EQ(untouched, 7);
}

TEST(TProb, ClosedFormsForSmallDegrees) {
  double p = 0;
  for (double t : {0.2, 1.0, 2.0, -2.0, 4.5, 30.0}) {
    const double y = std::fabs(t);
    ASSERT_EQ(t_prob(t, 1, &p), 0);
    EXPECT_NEAR(p, 1 - 2 / pi * std::atan(y), kFixedConstantError) << t;
    ASSERT_EQ(t_prob(t, 2, &p), 0);
    EXPECT_NEAR(p, 1 - y / std::sqrt(y * y + 2), kRounding) << t;
    const double u = y / std::sqrt(3.0);
    ASSERT_EQ(t_prob(t, 3, &p), 0);
    EXPECT_NEAR(p, 1 - 2 / pi * (std::atan(u) + u / (1 + u * u)), kFixedConstantError) << t;
    const double r = 1 + y * y / 4;
    ASSERT_EQ(t_prob(t, 4, &p), 0);
    EXPECT_NEAR(p, 1 - 0.75 * y / std::sqrt(r) * (1 - y * y / (12 * r)), kSeriesRounding) << t;
  }
  t_prob(2.0, 2, &p);
  EXPECT_NEAR(p, 1 - std::sqrt(2.0 / 3.0), kRounding);
  t_prob(1.0, 1, &p);
  EXPECT_GT(p, 0.5);
  EXPECT_NEAR(p, 0.5, kFixedConstantError);
  double untouched = 3;
  EXPECT_EQ(t_prob(1.0, 0, &untouched), 999);
  EXPECT_EQ(untouched, 3);
}

TEST(TProb, AgreesWithFOfOneDegree) {
  // T^2 with n DF is F(1, n): both series must give the same tail.
  for (int n = 1; n <= 14; ++n)
    for (double t : {0.5, 1.7, 3.2}) {
      double pt = 0, pf = 0;
      t_prob(t, n, &pt);
      f_prob(t * t, 1, n, &pf);
      EXPECT_NEAR(pt, pf, kSeriesError) << n << " " << t;
    }
}

TEST(TQuantile, SearchForSmallDegrees) {
  double t = 0;
  ASSERT_EQ(t_quantile(0.05, 1, &t), 0);
  EXPECT_NEAR(t, std::tan(pi * 0.475), kSearchStep);
  ASSERT_EQ(t_quantile(0.05, 2, &t), 0);
  // Two DF: t = sqrt(2 / (1 - q^2) - 2) with q = 1 - p.
  EXPECT_NEAR(t, std::sqrt(2 / (1 - 0.95 * 0.95) - 2), kSearchStep);
  ASSERT_EQ(t_quantile(0.05, 5, &t), 0);
  EXPECT_NEAR(t, 2.57058183563631, kSearchStep);
}

TEST(TQuantile, CornishFisherForLargerDegrees) {
  double t = 0;
  ASSERT_EQ(t_quantile(0.05, 30, &t), 0);
  EXPECT_NEAR(t, 2.04227245630124, kCornishFisherError);
  ASSERT_EQ(t_quantile(0.01, 120, &t), 0);
  EXPECT_NEAR(t, 2.61742, kTableDigits);  // tabulated 1 per cent point of 120 DF
}

TEST(TQuantile, ChoiceBetweenSearchAndExpansion) {
  // The search lands on a grid of 1e-5 plus its last addition of 1e-6;
  // the expansion does not. 0.005 with 13 DF searches, 0.006 expands.
  auto on_search_grid = [](double t) {
    const double steps = (t - 1e-6) * 1e5;
    constexpr double kGridSlack = 1e-4;  // rounding of about 8 decimal additions
    return std::fabs(steps - std::round(steps)) < kGridSlack;
  };
  double t = 0;
  t_quantile(0.005, 13, &t);
  EXPECT_TRUE(on_search_grid(t)) << t;
  EXPECT_NEAR(t, 3.37246794, kSearchStep);
  t_quantile(0.006, 13, &t);
  EXPECT_FALSE(on_search_grid(t)) << t;
}

TEST(TQuantile, RangeOfArguments) {
  double t = 5;
  EXPECT_EQ(t_quantile(1e-6, 4, &t), 999);
  EXPECT_EQ(t_quantile(1.01, 4, &t), 999);
  EXPECT_EQ(t_quantile(0.05, 0, &t), 999);
  EXPECT_EQ(t, 5);
  EXPECT_EQ(t_quantile(1e-5, 20, &t), 0);  // the lowest accepted probability
  EXPECT_GT(t, 5);
}

TEST(ProbabilityReferences, AgreeWithCommittedValues) {
  const auto& ref = testing::ReferenceValues::get();
  if (!ref.has("prob", "chi2_upper_3.84_1")) GTEST_SKIP() << "reference values not present";
  double p = 0;
  chi2_prob(3.84, 1, &p);
  EXPECT_NEAR(p, ref.at("prob", "chi2_upper_3.84_1"), kNormalCdfError);
  chi2_prob(7.81, 3, &p);
  EXPECT_NEAR(p, ref.at("prob", "chi2_upper_7.81_3"), kNormalCdfError + kFixedConstantError);
  chi2_prob(30, 20, &p);
  EXPECT_NEAR(p, ref.at("prob", "chi2_upper_30_20"), kWilsonHilfertyError);
  f_prob(2.5, 3, 7, &p);
  EXPECT_NEAR(p, ref.at("prob", "f_upper_2.5_3_7"), kSeriesError);
  f_prob(4, 1, 10, &p);
  EXPECT_NEAR(p, ref.at("prob", "f_upper_4_1_10"), kSeriesError);
  t_prob(2, 5, &p);
  EXPECT_NEAR(p, ref.at("prob", "t_two_2_5"), kSeriesError);
  t_prob(2.228, 10, &p);
  EXPECT_NEAR(p, ref.at("prob", "t_two_2.228_10"), kSeriesError);
  t_prob(1.5, 30, &p);
  EXPECT_NEAR(p, ref.at("prob", "t_two_1.5_30"), kSeriesError);
}

}  // namespace
}  // namespace varnalo
