// Probability functions for the tests and limits: upper-tail chi-square and
// F probabilities, two-tailed t probability and t quantile.
// Inputs: the statistic (or tail probability) and integer degrees of freedom.
// Output through the pointer; the result is status 0 (done) or 999 (argument
// out of range, output left as it was). Pure functions, no state.
#pragma once

namespace varnalo {

int chi2_prob(double x, int n, double* out);
int f_prob(double x, int d1, int d2, double* out);
int t_prob(double t, int n, double* out);
int t_quantile(double p, int n, double* out);
int t_quantile_search(double p, int n, double* out);
int t_series(double* v, int n, double e, double c, double a);

}  // namespace varnalo
