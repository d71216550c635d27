// Tolerance distributions and the standard normal routines.
//
// Methods:
// - Standard normal distribution function: Ibbetson (1963), ACM Algorithm
//   209 ("Gauss"), two polynomial pieces in y = |x|/2 (degree 8 below y = 1,
//   degree 14 in y - 2 above) and exact 0 / 1 for |x| >= 6. Absolute error
//   below 1.1e-9 over the whole line (relative error is large in the far
//   tails, where the true value is below that).
// - Standard normal quantile: the inverse of Polya's (1949) approximation
//   Phi(x) ~ (1 + sqrt(1 - exp(-2x^2/pi)))/2, refined by a degree-10
//   polynomial: x = sqrt(u * s(u)), u = -ln(4 q (1 - q)), s(0) ~ pi/2.
//   Absolute error below 5e-8 for 3e-5 <= p <= 1 - 3e-5 and 3e-7 at
//   p = 1e-5; further out it degrades quickly (5e-4 at p = 1e-6, 0.2 at p = 1e-8).
// - Logistic and complementary log-log: exact closed forms.
// - tolerance_cdf_exact, for the likelihood that is reported and checked:
//   P = F(z) and S = 1 - F(z) each with full relative accuracy, however far
//   out in its tail. Where the forms above are accurate to the last digits
//   the values are theirs, bit for bit: the Normal polynomial within
//   |z| < 6 (absolute error below 1.1e-9, relative error below 1 per cent in
//   the lower tail), the logistic and complementary log-log forms while
//   1 - P keeps at least 8 digits (and, for the latter, P too); the density
//   is then theirs as well, so every quantity built from them away from the
//   tails keeps its last bit. Beyond,
//   the Normal tails are 0.5 erfc(|z|/sqrt 2) (erfc of the C library, a few
//   ulps, down to about z = -38; the two meet at |z| = 6 within 0.2 per cent
//   of the tail), the complementary log-log lower tail -expm1(-exp(z)), and
//   every upper tail S comes from its own closed form (exp(-z)/(1 + exp(-z)),
//   exp(-exp(z))) instead of a subtraction from 1.
//
// Floors keep every P, 1 - P and f that a caller divides by or takes the
// logarithm of away from zero.
#include "model/distributions.h"

#include <cmath>

#include "foundation/arrays.h"

namespace varnalo {

const char* distribution_name(int distribution) {
  static const char* const kNames[kDistributionCount] = {"Normal", "Logistic",
                                                          "Complementary Log-Log"};
  check_index(distribution, 1, kDistributionCount);
  return kNames[distribution - 1];
}

namespace {

constexpr double kSqrtTwoPi = 2.50662827463100050242;
constexpr double kSqrtTwo = 1.41421356237309504880;
// Beyond this |z| the Normal polynomial's absolute error (1.1e-9) is more
// than 1e-7 of the smaller tail (5e-7 at 3, 5e-5 at 4.5, 1e-3 at 5.5, and
// at 6 the polynomial gives exactly 0 or 1): the accurate form takes erfc.
constexpr double kNormalPolynomialTail = 3.0;
// 1 - exp(-exp(z)) below this has lost digits to the subtraction.
constexpr double kSubtractionAccurate = 1e-8;

// Floors of the distribution function (Normal, by floor mode) and of every
// other quantity that is later divided by or logged.
constexpr double kNormalFloorLikelihood = 1e-52;
constexpr double kNormalFloorReporting = 1e-16;
constexpr double kTinyFloor = 1e-99;
// Floor of -ln(1 - p) in the complementary log-log inverse.
constexpr double kCloglogInverseFloor = 1e-50;
// Inverse of a probability at or outside 0 and 1: the infinite-dose markers.
constexpr double kInverseOfOne = 99.0;
constexpr double kInverseOfZero = -99.0;

// Ibbetson's polynomial coefficients, highest power first.
constexpr double kIbbetsonA[] = {0.000124818987, -0.001075204047, 0.005198775019,
                                 -0.019198292004, 0.059054035642,  -0.151968751364,
                                 0.319152932694,  -0.5319230073,   0.797884560593};
constexpr double kIbbetsonB[] = {-0.000045255659, 0.00015252929,   -0.000019538132,
                                 -0.000676904986, 0.001390604284,  -0.00079462082,
                                 -0.002034254874, 0.006549791214,  -0.010557625006,
                                 0.011630447319,  -0.009279453341, 0.005353579108,
                                 -0.002141268741, 0.000535310849,  0.999936657524};

// Quantile polynomial coefficients c0..c10, lowest power first.
constexpr double kQuantileC[] = {1.570796288,         0.03706987906,        -0.0008364353589,
                                 -0.0002250947176,    0.000006841218299,    0.000005824238515,
                                 -0.00000104527497,   0.00000008360937017,  -0.000000003231081277,
                                 0.00000000003657763036, 0.0000000000006936233982};

template <std::size_t N>
double horner(const double (&c)[N], double t) {
  double v = c[0];
  for (std::size_t i = 1; i < N; ++i) v = v * t + c[i];
  return v;
}

}  // namespace

int normal_cdf(double x, double* P) {
  double w = 0.0;
  if (x != 0.0) {
    const double y = std::fabs(x) * 0.5;
    if (y >= 3.0) {
      w = 1.0;
    } else if (y < 1.0) {
      w = horner(kIbbetsonA, y * y) * y * 2.0;
    } else {
      w = horner(kIbbetsonB, y - 2.0);
    }
  }
  *P = x >= 0.0 ? (w + 1.0) * 0.5 : (1.0 - w) * 0.5;
  return 0;
}

int normal_quantile(double p, double* x) {
  if (p <= 0.0 || p >= 1.0) return 999;
  if (p == 0.5) {
    *x = 0.0;
    return 0;
  }
  const double q = p <= 0.5 ? p : 1.0 - p;
  const double u = -std::log(4.0 * q * (1.0 - q));
  // Terms added in increasing power, each power taken directly.
  double s = kQuantileC[0];
  for (int i = 1; i <= 10; ++i) s += kQuantileC[i] * std::pow(u, i);
  double v = std::sqrt(u * s);
  if (p < 0.5) v = -v;
  *x = v;
  return 0;
}

void tolerance_cdf(int distribution, int floor_mode, double z, double* P, double* f) {
  switch (distribution) {
    case 1: {
      normal_cdf(z, P);
      *f = std::exp(-z * z * 0.5) / kSqrtTwoPi;
      if (floor_mode == 1 && *P <= kNormalFloorLikelihood) *P = kNormalFloorLikelihood;
      if (floor_mode == 2 && *P <= kNormalFloorReporting) *P = kNormalFloorReporting;
      break;
    }
    case 2: {
      // exp of a negative argument only: P reaches 1 for large z without
      // overflow, and tends to 0 for very negative z.
      double p;
      if (z >= 0.0) {
        p = 1.0 / (1.0 + std::exp(-z));
      } else {
        const double e = std::exp(z);
        p = e / (e + 1.0);
      }
      double S = 1.0 - p;
      if (S <= kTinyFloor) S = kTinyFloor;
      *f = p * S;
      *P = p <= kTinyFloor ? kTinyFloor : p;
      break;
    }
    case 3: {
      const double p = 1.0 - std::exp(-std::exp(z));
      double S = 1.0 - p;  // from P, so that P + S is exactly 1 where not floored
      if (S <= kTinyFloor) S = kTinyFloor;
      *f = -S * std::log(S);
      *P = p <= kTinyFloor ? kTinyFloor : p;
      break;
    }
    default:
      break;
  }
  if (*f <= kTinyFloor) *f = kTinyFloor;
}

void tolerance_cdf_exact(int distribution, double z, double* P, double* S, double* f) {
  switch (distribution) {
    case 1:
      *f = std::exp(-z * z * 0.5) / kSqrtTwoPi;
      if (z <= -kNormalPolynomialTail) {
        *P = 0.5 * std::erfc(-z / kSqrtTwo);
        *S = 1.0 - *P;
      } else if (z >= kNormalPolynomialTail) {
        *S = 0.5 * std::erfc(z / kSqrtTwo);
        *P = 1.0 - *S;
      } else {
        normal_cdf(z, P);
        *S = 1.0 - *P;
      }
      break;
    case 2: {
      // P as tolerance_cdf forms it; S = 1 - P and f = P S as there while the
      // subtraction keeps its digits, S from its own closed form beyond.
      double e;
      if (z >= 0.0) {
        e = std::exp(-z);
        *P = 1.0 / (1.0 + e);
      } else {
        e = std::exp(z);
        *P = e / (e + 1.0);
      }
      *S = 1.0 - *P;
      if (*S < kSubtractionAccurate) *S = e / (1.0 + e);
      *f = *P * *S;
      break;
    }
    case 3: {
      // P, S = 1 - P and f = -S ln S as tolerance_cdf forms them while both
      // tails hold at least 1e-8; beyond, each tail from its own closed form
      // and f = e^z S.
      const double t = std::exp(z);
      *P = 1.0 - std::exp(-t);
      *S = 1.0 - *P;
      if (*P < kSubtractionAccurate) {
        *P = -std::expm1(-t);
        *S = std::exp(-t);
        *f = t * *S;
      } else if (*S < kSubtractionAccurate) {
        *S = std::exp(-t);
        *f = t * *S;
      } else {
        *f = -*S * std::log(*S);
      }
      break;
    }
    default:
      *P = *S = *f = 0.0;
      break;
  }
}

void tolerance_inverse(int distribution, double p, double* z) {
  if (p >= 1.0) {
    *z = kInverseOfOne;
    return;
  }
  if (p <= 0.0) {
    *z = kInverseOfZero;
    return;
  }
  switch (distribution) {
    case 1:
      normal_quantile(p, z);  // cannot fail for 0 < p < 1
      break;
    case 2:
      *z = std::log(p / (1.0 - p));
      break;
    case 3: {
      double t = -std::log(1.0 - p);
      if (t <= kCloglogInverseFloor) t = kCloglogInverseFloor;
      *z = std::log(t);
      break;
    }
    default:
      break;
  }
}

}  // namespace varnalo
