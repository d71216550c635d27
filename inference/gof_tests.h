// Goodness-of-fit: the Pearson chi-square of each fit (from the expected
// counts in GroupTable column 4), the Pearson and likelihood-ratio test
// tables (parallelism, heterogeneity, total), the choice of test and the
// heterogeneity factor het_factor, which rescales both covariance matrices.
// Rows with less than one degree of freedom show "-" for MS and p and count
// as not significant.
// Inputs: the GroupTable with expected counts, the LR and Pearson
// chi-squares and DF of the common- and separate-slope fits. Outputs:
// pearson_chi2, chi2_level and chi_choice as answered, het_factor (both
// covariance matrices rescaled by it); screen and report text.
#pragma once

#include "foundation/state.h"

namespace varnalo {

void compute_pearson(AnalysisState& s);
void chi_square_tests(AnalysisState& s);
void print_test_table(AnalysisState& s, int* het_flag, int* par_flag, double* x, double* xs,
                      double* f, double* fs);

}  // namespace varnalo
