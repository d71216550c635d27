// Tolerance distributions: distribution function, density and inverse of the
// Normal, Logistic and Complementary Log-Log tolerance distributions, plus the
// stand-alone standard normal distribution function and quantile.
// Inputs: the distribution code (1 Normal, 2 Logistic, 3 Complementary
// Log-Log), a linear predictor z or a probability p. Outputs through pointers.
// Pure functions; no allocation.
#pragma once

namespace varnalo {

// P = F(z) and f = F'(z). floor_mode 1: likelihood evaluation (Normal P
// floored at 1e-52); 2: reporting stages (Normal P floored at 1e-16).
void tolerance_cdf(int distribution, int floor_mode, double z, double* P, double* f);

// z = F^-1(p); p >= 1 gives 99, p <= 0 gives -99.
void tolerance_inverse(int distribution, double p, double* z);

// Standard normal distribution function; always returns 0.
int normal_cdf(double x, double* P);

// Standard normal quantile; returns 999 (x unwritten) unless 0 < p < 1.
int normal_quantile(double p, double* x);

}  // namespace varnalo
