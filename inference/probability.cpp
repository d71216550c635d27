// Probability functions for the test statistics and confidence limits.
//
// Methods:
// - Upper-tail chi-square: the closed-form series for small degrees of
//   freedom (Abramowitz & Stegun 26.4.4/26.4.5; exact apart from the normal
//   distribution function used for odd DF), and the Wilson-Hilferty cube-root
//   normal approximation (A&S 26.4.14) above 10 DF, good to about 1e-3
//   absolute. Its relative error grows in the far tail (about 50 per cent at
//   a tail of 1e-6 with 11 DF), so above 10 DF a tail the approximation puts
//   below 0.02 comes from the regularized incomplete gamma function
//   Q(n/2, x/2) instead (A&S 6.5.2, Legendre's continued fraction 6.5.31
//   evaluated by the modified Lentz method, or the power series 6.5.29 when
//   x/2 < n/2 + 1), good to about 1e-13 relative at any DF.
// - Upper-tail F: the finite series of the incomplete beta function for
//   integer degrees of freedom (A&S 26.6.4-26.6.8), split by the parities of
//   the two DF.
// - Two-tailed t: the finite series of A&S 26.7.3/26.7.4.
// - Two-tailed t quantile: a decimal step search on the t probability for
//   small DF (within one final step of 1e-5 for the usual levels), and the
//   Cornish-Fisher expansion in the normal quantile (A&S 26.7.5) otherwise,
//   good to about five decimals from 6 DF on.
// The constants below are fixed decimals, kept as they are so that results
// agree with those of earlier releases digit for digit.
#include "inference/probability.h"

#include <cmath>

#include "model/distributions.h"

namespace varnalo {

namespace {

constexpr int kBadArgument = 999;
constexpr double kTwoOverPi = 0.636619772284456;         // K2, close to 2/pi
constexpr double kOneOverPi = 0.318309886142228;         // K1, close to 1/pi
constexpr double kRootTwoOverPi = 0.797884560750774;     // R, close to sqrt(2/pi)
constexpr double kOneThird = 0.3333333333333333;
// Up to 10 DF the chi-square tail beyond this value is below 1e-78: 0.
constexpr double kChi2Beyond = 400.0;
// Above this many DF the chi-square tail uses the Wilson-Hilferty form.
constexpr int kChi2SeriesMaxDf = 10;
// Wilson-Hilferty tails at or above this value are kept: there its error is
// within 0.5 per cent of the tail at every DF above 10 (the worst case is 11
// DF), and the p values of earlier releases stay as they were. Smaller
// tails, where its relative error grows fast, are computed exactly.
constexpr double kWilsonHilfertyFloor = 0.02;
// Exact tails below this are returned as 0, as the approximation gave them
// (it is 0 below about 1e-9): they print as 0 and lie below any level of
// significance one would use. Beyond a chi-square of 400 this holds up to
// about 110 DF.
constexpr double kNegligibleTail = 1e-30;
// The incomplete gamma series and continued fraction stop when a term
// changes the sum by less than this relative amount (double rounding).
constexpr double kGammaTolerance = 1e-15;
// More terms than the continued fraction needs at 10^6 DF (it needs a few
// times the square root of n/2 near the centre, far fewer in the tail).
constexpr int kGammaMaxTerms = 100000;
// Keeps the Lentz denominators away from zero.
constexpr double kLentzTiny = 1e-300;
// Smallest two-tailed probability whose t quantile is computed.
constexpr double kSmallestTailP = 1e-5;
// The search starts with this step and divides it by ten at each overshoot.
constexpr double kFirstSearchStep = 10000.0;

double upper_normal(double z) {
  double phi = 0.0;
  normal_cdf(z, &phi);
  return 1.0 - phi;
}

bool is_odd(int n) { return n % 2 != 0; }

// Regularized upper incomplete gamma function Q(a, x) for a > 0, x > 0.
// Underflows to 0 in the far tail.
double upper_incomplete_gamma(double a, double x) {
  const double log_front = a * std::log(x) - x - std::lgamma(a);
  if (x < a + 1.0) {
    // P(a, x) = x^a e^-x / Gamma(a + 1) * sum x^k / ((a+1)...(a+k)).
    double term = 1.0 / a;
    double sum = term;
    for (int k = 1; k <= kGammaMaxTerms; ++k) {
      term *= x / (a + k);
      sum += term;
      if (std::fabs(term) < std::fabs(sum) * kGammaTolerance) break;
    }
    return 1.0 - sum * std::exp(log_front);
  }
  // Q(a, x) = x^a e^-x / Gamma(a) * 1/(x+1-a- 1(1-a)/(x+3-a- 2(2-a)/(x+5-a- ...))).
  double b = x + 1.0 - a;
  double c = 1.0 / kLentzTiny;
  double d = 1.0 / b;
  double h = d;
  for (int k = 1; k <= kGammaMaxTerms; ++k) {
    const double an = -k * (k - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < kLentzTiny) d = kLentzTiny;
    c = b + an / c;
    if (std::fabs(c) < kLentzTiny) c = kLentzTiny;
    d = 1.0 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1.0) < kGammaTolerance) break;
  }
  return std::exp(log_front) * h;
}

}  // namespace

int chi2_prob(double x, int n, double* out) {
  if (n < 1) return kBadArgument;
  if (x <= 0.0) {
    *out = 1.0;
    return 0;
  }
  if (n > kChi2SeriesMaxDf) {
    const double g = 2.0 / (9.0 * n);
    const double z = (std::pow(x / n, kOneThird) - 1.0 + g) / std::sqrt(g);
    const double tail = upper_normal(z);
    if (tail >= kWilsonHilfertyFloor) {
      *out = tail;
      return 0;
    }
    const double exact = upper_incomplete_gamma(n / 2.0, x / 2.0);
    *out = exact < kNegligibleTail ? 0.0 : exact;
    return 0;
  }
  if (x > kChi2Beyond) {
    *out = 0.0;
    return 0;
  }
  const double s = std::exp(-x / 2.0);
  const double r = std::sqrt(x);
  double result;
  double term;
  int k;
  if (!is_odd(n)) {
    result = s;
    term = s;
    k = 2;
    if (n == 2) {
      *out = result;
      return 0;
    }
  } else {
    result = 2.0 * upper_normal(r);
    if (n == 1) {
      *out = result;
      return 0;
    }
    term = s * kRootTwoOverPi / r;
    k = 1;
  }
  while (k <= n - 2) {
    term = term * x / k;
    result += term;
    k += 2;
  }
  *out = result;
  return 0;
}

int f_prob(double x, int d1, int d2, double* out) {
  if (x < 0.0 || d1 < 1 || d2 < 1) return kBadArgument;
  const double a = d1 * x / d2;
  const double b = 1.0 / (1.0 + a);
  const bool odd1 = is_odd(d1);
  const bool odd2 = is_odd(d2);
  double p;  // lower-tail probability being built
  double f;  // running term
  if (odd1 && odd2) {
    p = kTwoOverPi * std::atan(std::sqrt(a));
    f = b * kOneOverPi / std::sqrt(a);
  } else if (odd1) {
    p = std::sqrt(a * b);
    f = p * b * 0.5 / a;
  } else if (odd2) {
    p = 1.0 - std::sqrt(b);
    f = b * std::sqrt(b) * 0.5;
  } else {
    p = a * b;
    f = b * b;
  }
  if (d1 > 2 || d2 > 2) {
    const double g = odd1 ? 1.0 : 2.0;
    const double L = 2.0 * a / b;
    for (int i = odd2 ? 3 : 4; i <= d2; i += 2) {
      f = b * f * (1.0 + g / (i - 2));
      if (odd1)
        p += f * L / (i - 1);
      else
        p = b * (p + a);
    }
    const int m = d2 - 2;
    for (int j = odd1 ? 3 : 4; j <= d1; j += 2) {
      f = f * (m + j) * a * b / (j - 2);
      p -= f * (2.0 / b) / (m + j);
    }
  }
  *out = 1.0 - p;
  return 0;
}

int t_prob(double t, int n, double* out) {
  if (n < 1) return kBadArgument;
  double y = std::fabs(t) / std::sqrt(static_cast<double>(n));
  const double a = 1.0 / (1.0 + y * y);
  double v;
  if (!is_odd(n)) {
    y = y * std::sqrt(a);
    v = 1.0 - y;
    if (n != 2) t_series(&v, n, y, 1.0, a);
  } else {
    v = 1.0 - kTwoOverPi * std::atan(y);
    if (n != 1) {
      y = y * a * kTwoOverPi;
      v = v - y;
      if (n != 3) t_series(&v, n, y, 0.0, a);
    }
  }
  *out = v < 0.0 ? 0.0 : v;
  return 0;
}

int t_series(double* v, int n, double e, double c, double a) {
  for (int i = 1; i <= (n - 2) / 2; ++i) {
    e = e * a * (2 * i - c) / (2 * i - c + 1);
    *v = *v - e;
  }
  return 0;
}

int t_quantile(double p, int n, double* out) {
  if (p < kSmallestTailP || p > 1.0 || n < 1) return kBadArgument;
  if (n <= 5 || (p <= 0.005 && n <= 13)) return t_quantile_search(p, n, out);
  double u = 0.0;
  normal_quantile(1.0 - p / 2.0, &u);
  const double u2 = u * u;
  const double u3 = u2 * u;
  const double u5 = u3 * u2;
  const double u7 = u5 * u2;
  const double u9 = u7 * u2;
  const double u11 = u9 * u2;
  const double dn = n;
  const double n2 = dn * dn;
  const double n3 = n2 * dn;
  const double n4 = n3 * dn;
  const double n5 = n4 * dn;
  const double t1 = (u3 + u) / (4.0 * dn);
  const double t2 = (5.0 * u5 + 16.0 * u3 + 3.0 * u) / (96.0 * n2);
  const double t3 = (3.0 * u7 + 19.0 * u5 + 17.0 * u3 - 15.0 * u) / (384.0 * n3);
  const double t4 =
      (79.0 * u9 + 776.0 * u7 + 1482.0 * u5 - 1920.0 * u3 - 945.0 * u) / (92160.0 * n4);
  const double t5 = (27.0 * u11 + 339.0 * u9 + 930.0 * u7 - 1782.0 * u5 - 765.0 * u3 +
                     17955.0 * u) /
                    (368640.0 * n5);
  *out = t5 + t4 + t3 + t2 + t1 + u;
  return 0;
}

int t_quantile_search(double p, int n, double* out) {
  double eps = 1e-5;
  if (n == 1) {
    if (p < 0.001)
      eps = 0.01;
    else if (p < 0.01)
      eps = 1e-4;
  } else if (n == 2) {
    if (p < 0.0001) eps = 1e-4;
  }
  double t = 0.0;
  double step = kFirstSearchStep;
  for (;;) {
    const double cur = t + step;
    if (step <= eps) {
      *out = cur;
      return 0;
    }
    double tail = 0.0;
    t_prob(cur, n, &tail);
    const double d = tail - p;
    if (d == 0.0) {
      *out = cur;
      return 0;
    }
    if (d > 0.0) {
      t = cur;  // still below the quantile
    } else {
      t = cur - step;
      step = step * 0.1;
    }
  }
}

}  // namespace varnalo
