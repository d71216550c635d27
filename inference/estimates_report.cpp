#include "inference/estimates_report.h"

namespace varnalo {
// Placeholder until the reports land.
void report_estimates(AnalysisState&, int) {}
void report_covariance(AnalysisState&, int) {}
void print_estimates(AnalysisState&, DRef, const Matrix&, const LabelTable&) {}
void print_cov_matrix(AnalysisState&, const Matrix&, const LabelTable&) {}
}  // namespace varnalo
