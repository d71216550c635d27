// Goodness-of-fit: the Pearson chi-square of each fit, the Pearson and
// likelihood-ratio test tables (heterogeneity, parallelism, total), the
// choice of test and the heterogeneity factor.
#pragma once

#include "driver/state.h"

namespace varnalo {

void compute_pearson(AnalysisState& s);
void chi_square_tests(AnalysisState& s);
void print_test_table(AnalysisState& s, int* het_flag, int* par_flag, double* x, double* xs,
                      double* f, double* fs);

}  // namespace varnalo
