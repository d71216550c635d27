#include "inference/probability.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace varnalo {
namespace {

using std::numbers::pi;

// Odd-DF chi-square tails rest on Ibbetson's normal distribution function,
// good to about 1.1e-9 absolute.
constexpr double kNormalCdfError = 2.2e-9;
// The fixed decimals near 2/pi, 1/pi and sqrt(2/pi) are off by under 1e-10.
constexpr double kFixedConstantError = 2e-10;
// Exact series of a dozen terms round to this.
constexpr double kRounding = 1e-12;
// Series with odd DF carry the constants' error times up to seven terms.
constexpr double kSeriesError = 1e-9;
// Wilson-Hilferty near the 5 per cent point of 11 DF is off by about 2e-4.
constexpr double kWilsonHilfertyError = 5e-4;
// The quantile search ends with steps of 1e-5 plus a last addition of 1e-6.
constexpr double kSearchStep = 1.1e-5;
// Five Cornish-Fisher terms give five decimals at 30 DF.
constexpr double kCornishFisherError = 5e-6;

TEST(Chi2Prob, ClosedFormsBoundsAndWilsonHilferty) {
  for (double x : {0.1, 1.0, 3.84, 6.63, 25.0}) {
    const double e = std::exp(-x / 2), tail1 = std::erfc(std::sqrt(x / 2));
    double p1 = 0, p2 = 0, p3 = 0, p4 = 0;
    chi2_prob(x, 1, &p1);
    chi2_prob(x, 2, &p2);
    chi2_prob(x, 3, &p3);
    chi2_prob(x, 4, &p4);
    EXPECT_NEAR(p1, tail1, kNormalCdfError) << x;
    EXPECT_NEAR(p2, e, kRounding) << x;
    EXPECT_NEAR(p3, tail1 + std::sqrt(2 * x / pi) * e, kNormalCdfError + kFixedConstantError) << x;
    EXPECT_NEAR(p4, e * (1 + x / 2), kRounding) << x;
  }
  double p = 0;
  chi2_prob(3.84, 1, &p);
  EXPECT_GT(p, 0.05);  // the 5 per cent point is 3.8414588
  for (int n : {1, 2, 11, 40}) {
    chi2_prob(0.0, n, &p);
    EXPECT_EQ(p, 1.0);
    chi2_prob(401.0, n, &p);
    EXPECT_EQ(p, 0.0);
  }
  // 19.67514 is the exact 5 per cent point of 11 DF; the approximation
  // lies just below it.
  chi2_prob(19.675, 11, &p);
  EXPECT_NEAR(p, 0.05, kWilsonHilfertyError);
  EXPECT_LT(p, 0.05);
}

// Upper chi-square tail P(X > x) with n DF, computed here independently as
// the regularized incomplete gamma function Q(n/2, x/2) in long double: the
// power series of P below the mean, else the continued fraction evaluated
// from its far end, deepened until two depths agree.
double exact_chi2_tail(int n, double x) {
  const long double a = n / 2.0L, y = x / 2.0L;
  const long double front = std::exp(a * std::log(y) - y - std::lgamma(a));
  if (y < a + 1) {
    long double term = 1 / a, sum = term;
    for (int k = 1; term > sum * 1e-20L; ++k) sum += term *= y / (a + k);
    return static_cast<double>(1 - front * sum);
  }
  auto fraction = [&](int depth) {
    long double f = y + 2 * depth + 1 - a;
    for (int k = depth; k >= 1; --k) f = (y + 2 * k - 1 - a) - k * (k - a) / f;
    return 1 / f;
  };
  long double previous = 0, now = fraction(16);
  for (int depth = 32; std::fabs(now - previous) > now * 1e-16L; depth *= 2)
    previous = now, now = fraction(depth);
  return static_cast<double>(front * now);
}

TEST(Chi2Prob, MatchesTheExactTailAtEveryDegreeOfFreedom) {
  // Wherever the tail is above 1e-6, from 1 to 20,000 DF: points every half
  // standard deviation from two below the mean outwards.
  constexpr double kRelativeError = 0.02;
  constexpr double kSmallestTail = 1e-6;
  constexpr double kExactBranchError = 1e-9;
  double worst = 0;
  int worst_n = 0;
  for (int n = 1; n <= 20000; ++n) {
    const double sd = std::sqrt(2.0 * n);
    for (double x = std::max(0.1, n - 2 * sd);; x += sd / 2) {
      const double exact = exact_chi2_tail(n, x);
      if (exact < kSmallestTail) break;
      double p = -1;
      chi2_prob(x, n, &p);
      const double error = std::fabs(p - exact) / exact;
      if (error > worst) worst = error, worst_n = n;
      ASSERT_LT(error, kRelativeError) << n << " DF, x = " << x << ": " << p << " vs " << exact;
      // Below 0.02, above 10 DF, the tail is evaluated exactly.
      if (n > 10 && p < 0.02) {
        ASSERT_LT(error, kExactBranchError) << n << " DF, x = " << x;
      }
    }
  }
  std::printf("largest relative error %.2e at %d DF\n", worst, worst_n);
}

TEST(Chi2Prob, LargeStatisticsWithManyDegreesOfFreedom) {
  // Tails that a cut-off at 400 set to 0: 99 preparations of 20 groups
  // (1,782 heterogeneity DF, 98 parallelism, 1,880 total), and far tails.
  const struct {
    int n;
    double x, tail;  // tail: exact to six digits
  } cases[] = {
      {1782, 1900.3, 0.0255595}, {1880, 1990.0, 0.0382901}, {98, 130.0, 0.0169129},
      {594, 700.0, 0.00170318}, {20000, 20600.0, 0.00147049}, {400, 401.0, 0.476518},
  };
  for (const auto& c : cases) {
    double p = -1;
    chi2_prob(c.x, c.n, &p);
    EXPECT_NEAR(exact_chi2_tail(c.n, c.x), c.tail, c.tail * 1e-5) << c.n << " DF, x = " << c.x;
    EXPECT_NEAR(p, c.tail, c.tail * 0.005) << c.n << " DF, x = " << c.x;
  }
  // Tails far below anything printed are 0, as they were.
  double p = -1;
  chi2_prob(1e6, 5000, &p);
  EXPECT_EQ(p, 0.0);
  chi2_prob(250.0, 11, &p);
  EXPECT_EQ(p, 0.0);
}

TEST(FProb, ClosedFormsAndReciprocalIdentity) {
  double p = 0;
  f_prob(1.0, 2, 2, &p);
  EXPECT_EQ(p, 0.5);
  f_prob(2.0, 1, 2, &p);
  EXPECT_NEAR(p, 1 - std::sqrt(0.5), kRounding);
  f_prob(1.0, 1, 1, &p);
  EXPECT_NEAR(p, 0.5, kFixedConstantError);
  EXPECT_GT(p, 0.5);  // the constant near 2/pi shows in the 11th decimal
  for (int d2 : {1, 2, 3, 4, 7})
    for (double x : {0.3, 2.5}) {
      f_prob(x, 2, d2, &p);  // F(2, d2): (1 + 2x/d2)^(-d2/2)
      EXPECT_NEAR(p, std::pow(1 + 2 * x / d2, -d2 / 2.0), kRounding) << d2;
    }
  // P(F(d1,d2) > x) + P(F(d2,d1) > 1/x) = 1, across every parity pair.
  for (int d1 = 1; d1 <= 6; ++d1)
    for (int d2 = 1; d2 <= 6; ++d2) {
      double q = 0;
      f_prob(1.3, d1, d2, &p);
      f_prob(1 / 1.3, d2, d1, &q);
      EXPECT_NEAR(p + q, 1.0, kSeriesError) << d1 << " " << d2;
    }
}

// Regularized incomplete beta function I_z(a, b), computed here by its
// continued fraction evaluated from the far end (z below the mean, else by
// symmetry), in long double.
double exact_incomplete_beta(double a, double b, double z) {
  if (z > (a + 1) / (a + b + 2)) return 1 - exact_incomplete_beta(b, a, 1 - z);
  const long double A = a, B = b, Z = z;
  auto d = [&](int m) -> long double {  // coefficient m of the fraction
    const int k = m / 2;
    if (m % 2 == 0) return k * (B - k) * Z / ((A + 2 * k - 1) * (A + 2 * k));
    return -(A + k) * (A + B + k) * Z / ((A + 2 * k) * (A + 2 * k + 1));
  };
  auto fraction = [&](int depth) {
    long double f = 1;
    for (int m = depth; m >= 1; --m) f = 1 + d(m) / f;
    return 1 / f;
  };
  long double previous = 0, now = fraction(16);
  for (int depth = 32; std::fabs(now - previous) > now * 1e-16L; depth *= 2)
    previous = now, now = fraction(depth);
  const long double front = std::exp(std::lgamma(A + B) - std::lgamma(A) - std::lgamma(B) +
                                     A * std::log(Z) + B * std::log1p(-Z)) / A;
  return static_cast<double>(front * now);
}

TEST(FProb, LargeDegreesOfFreedom) {
  // The variance ratio test at 99 preparations: up to 98 DF against
  // thousands; no cut-off, the finite series stays exact up to rounding and
  // the error of the fixed constants (odd DF).
  constexpr double kRelativeError = 1e-6;
  for (int d1 : {1, 2, 20, 97, 98})
    for (int d2 : {1782, 1881, 19602, 20000}) {
      const double sd = std::sqrt(2.0 / d1 + 2.0 / d2);
      for (double x = std::max(0.05, 1 - 2 * sd);; x += sd / 2) {
        const double exact = exact_incomplete_beta(d2 / 2.0, d1 / 2.0, d2 / (d2 + d1 * x));
        if (exact < 1e-6) break;
        double p = -1;
        f_prob(x, d1, d2, &p);
        ASSERT_NEAR(p, exact, std::max(exact * kRelativeError, kSeriesError))
            << d1 << ", " << d2 << " DF, x = " << x;
      }
    }
}

TEST(TProb, LargeDegreesOfFreedom) {
  constexpr double kRelativeError = 1e-6;
  for (int n : {30, 1782, 19602})
    for (double t : {0.5, 1.96, 3.0, 4.5}) {
      const double exact = exact_incomplete_beta(n / 2.0, 0.5, n / (n + t * t));
      double p = -1;
      t_prob(t, n, &p);
      EXPECT_NEAR(p, exact, std::max(exact * kRelativeError, kSeriesError)) << n << " DF, t = " << t;
    }
}

TEST(TProb, ClosedFormsAndAgreementWithF) {
  double p = 0;
  for (double t : {0.2, 2.0, -2.0, 30.0}) {
    const double y = std::fabs(t), u = y / std::sqrt(3.0);
    t_prob(t, 1, &p);
    EXPECT_NEAR(p, 1 - 2 / pi * std::atan(y), kFixedConstantError) << t;
    t_prob(t, 2, &p);
    EXPECT_NEAR(p, 1 - y / std::sqrt(y * y + 2), kRounding) << t;
    t_prob(t, 3, &p);
    EXPECT_NEAR(p, 1 - 2 / pi * (std::atan(u) + u / (1 + u * u)), kFixedConstantError) << t;
  }
  t_prob(2.0, 2, &p);
  EXPECT_NEAR(p, 1 - std::sqrt(2.0 / 3.0), kRounding);
  t_prob(1.0, 1, &p);
  EXPECT_GT(p, 0.5);
  // T^2 with n DF is F(1, n).
  for (int n = 1; n <= 12; ++n) {
    double q = 0;
    t_prob(1.7, n, &p);
    f_prob(1.7 * 1.7, 1, n, &q);
    EXPECT_NEAR(p, q, kSeriesError) << n;
  }
}

TEST(TQuantile, SearchAndExpansion) {
  double t = 0;
  t_quantile(0.05, 1, &t);
  EXPECT_NEAR(t, std::tan(pi * 0.475), kSearchStep);
  t_quantile(0.05, 2, &t);
  EXPECT_NEAR(t, std::sqrt(2 / (1 - 0.95 * 0.95) - 2), kSearchStep);  // closed form, 2 DF
  t_quantile(0.05, 5, &t);
  EXPECT_NEAR(t, 2.57058183563631, kSearchStep);
  t_quantile(0.05, 30, &t);
  EXPECT_NEAR(t, 2.04227245630124, kCornishFisherError);
  // The search lands on a grid of 1e-5 plus 1e-6; the expansion does not.
  // 0.005 with 13 DF searches, 0.006 expands.
  auto on_grid = [](double v) {
    constexpr double kGridSlack = 1e-4;  // rounding of a few dozen additions
    const double steps = (v - 1e-6) * 1e5;
    return std::fabs(steps - std::round(steps)) < kGridSlack;
  };
  t_quantile(0.005, 13, &t);
  EXPECT_TRUE(on_grid(t)) << t;
  t_quantile(0.006, 13, &t);
  EXPECT_FALSE(on_grid(t)) << t;
}

TEST(Probability, OutOfRangeArgumentsLeaveTheResult) {
  double r = 42;
  EXPECT_EQ(chi2_prob(1.0, 0, &r), 999);
  EXPECT_EQ(f_prob(-0.1, 1, 1, &r), 999);
  EXPECT_EQ(f_prob(1.0, 0, 3, &r), 999);
  EXPECT_EQ(f_prob(1.0, 3, 0, &r), 999);
  EXPECT_EQ(t_prob(1.0, 0, &r), 999);
  EXPECT_EQ(t_quantile(1e-6, 4, &r), 999);
  EXPECT_EQ(t_quantile(1.01, 4, &r), 999);
  EXPECT_EQ(t_quantile(0.05, 0, &r), 999);
  EXPECT_EQ(r, 42);
  EXPECT_EQ(t_quantile(1e-5, 20, &r), 0);  // the lowest accepted probability
}

}  // namespace
}  // namespace varnalo
