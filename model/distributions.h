// Tolerance distributions: distribution function, density and inverse of the
// Normal, Logistic and Complementary Log-Log tolerance distributions, plus the
// stand-alone standard normal distribution function and quantile.
// Inputs: the distribution code (1 Normal, 2 Logistic, 3 Complementary
// Log-Log), a linear predictor z or a probability p. Outputs through pointers.
// Pure functions; no allocation.
#pragma once

namespace varnalo {

// Number of tolerance distributions (codes 1..kDistributionCount).
inline constexpr int kDistributionCount = 3;

// The name of distribution 1..kDistributionCount, as the menu and the report
// settings show it.
const char* distribution_name(int distribution);

// The floor modes of tolerance_cdf: the likelihood the maximisers step on
// (Normal P floored at 1e-52), and the reporting stages (Normal P floored
// at 1e-16).
inline constexpr int kSearchFloors = 1;
inline constexpr int kReportingFloors = 2;

// P = F(z) and f = F'(z), floor_mode kSearchFloors or kReportingFloors.
void tolerance_cdf(int distribution, int floor_mode, double z, double* P, double* f);

// P = F(z), S = 1 - F(z) and f = F'(z), each with full relative accuracy in
// the far tails (no floors; a tail below the smallest double is 0). Where
// tolerance_cdf is accurate to its last digits, P is its value.
void tolerance_cdf_exact(int distribution, double z, double* P, double* S, double* f);

// z = F^-1(p); p >= 1 gives 99, p <= 0 gives -99.
void tolerance_inverse(int distribution, double p, double* z);

// Standard normal distribution function; always returns 0.
int normal_cdf(double x, double* P);

// Standard normal quantile; returns 999 (x unwritten) unless 0 < p < 1.
int normal_quantile(double p, double* x);

}  // namespace varnalo
