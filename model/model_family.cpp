#include "model/model_family.h"

namespace varnalo {
// Placeholder until the model family lands.
void current_c_d(const AnalysisState&, DRef, double* C, double* D) { *C = *D = 0; }
void fitted_c_d(const AnalysisState&, double* C, double* D) { *C = *D = 0; }
void response_probability(int, double P0, double* P, double* Q, double, double) { *P = P0; *Q = 1 - P0; }
void background_free_proportion(int, double P, double* P0, double, double) { *P0 = P; }
void c_d_variances(const AnalysisState&, const Matrix&, double* varC, double* varD) { *varC = *varD = 0; }
void make_param_labels(const AnalysisState& s, int, LabelTable& labels) {
  labels.assign(static_cast<std::size_t>(s.nprep + s.nslopes + 3), "");
}
}  // namespace varnalo
