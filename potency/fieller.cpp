// Fieller's theorem for the confidence limits of a ratio of two normally
// distributed estimates, and the delta-method variance of the ratio.
// Method: Fieller (1954), J. R. Statist. Soc. B 16, 175-185; the mean-centred
// form follows Finney, "Probit Analysis" (3rd ed., 1971), sections 4.2-4.3.
// Accuracy: closed forms, exact up to floating-point rounding (a few units in
// the last place for well-conditioned inputs).
#include "potency/fieller.h"

#include <cmath>

namespace varnalo {

namespace {

// Floor of the squared half-width term of the mean-centred form: keeps the
// square root defined when both variance terms vanish.
constexpr double kHalfWidthFloor = 1e-50;

}  // namespace

void fieller_general(double m, double b, double v_num, double v_b, double w, double t, double* var,
                     double* upper, double* lower) {
  const double g = t * t * v_b / b / b;
  const double e = 1.0 - g;
  if (e > 0.0) {
    const double center = m + g * (m - w / v_b) / e;
    const double r = e * v_num - 2.0 * w * m + g * w * w / v_b + m * m * v_b;
    const double half = t * std::sqrt(r / b / b) / e;
    *upper = center + half;
    *lower = center - half;
  } else {
    // g >= 1 (or not a number): the slope is not significant at this level
    // and the interval is unbounded.
    *upper = kMissingUpper;
    *lower = kMissingLower;
  }
  *var = (v_num - 2.0 * w * m + m * m * v_b) / b / b;
}

void fieller_finney(double m, double b, double v_num, double v_b, double c, double t, double* var,
                    double* upper, double* lower) {
  const double g = t * t * v_b / b / b;
  const double e = 1.0 - g;
  if (e > 0.0) {
    double a = (c * c * v_b + e * v_num) / b / b;
    if (!(a > kHalfWidthFloor)) a = kHalfWidthFloor;
    const double center = c + m - c / e;
    const double half = t * std::sqrt(a) / e;
    *upper = center + half;
    *lower = center - half;
  } else {
    *upper = kMissingUpper;
    *lower = kMissingLower;
  }
  *var = (c * c * v_b + v_num) / b / b;
}

}  // namespace varnalo
