// Fieller confidence limits and delta-method variance of a ratio estimate.
//
// Every log effective dose and log relative potency is a ratio m = N / b of a
// numerator linear in the fitted intercepts and the common slope b. Given m,
// b, the variances of numerator and slope and either their covariance
// (general form, used with the maximiser's covariance matrix) or the offset
// of the weighted mean log dose from m (mean-centred form, numerator and
// slope uncorrelated), these routines return the first-order variance of m
// and its Fieller limits for the deviate t. Pure arithmetic: no state, no
// output. When g = t^2 v_b / b^2 is not below 1 the interval is unbounded and
// the limits are the sentinels upper = 99, lower = -99.
#pragma once

namespace varnalo {

// Sentinels of a missing confidence limit (same numbers as the log-dose
// clamps, so no real limit reaches them).
inline constexpr double kMissingLower = -99.0;
inline constexpr double kMissingUpper = 99.0;

// General form: w is the covariance of numerator and slope.
void fieller_general(double m, double b, double v_num, double v_b, double w, double t, double* var,
                     double* upper, double* lower);
// Mean-centred form: c is the weighted mean log dose minus m.
void fieller_finney(double m, double b, double v_num, double v_b, double c, double t, double* var,
                    double* upper, double* lower);

}  // namespace varnalo
