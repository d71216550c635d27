#include "inference/gof_tests.h"

namespace varnalo {
// Placeholder until the tests land.
void compute_pearson(AnalysisState&) {}
void chi_square_tests(AnalysisState&) {}
void print_test_table(AnalysisState&, int*, int*, double*, double*, double*, double*) {}
}  // namespace varnalo
