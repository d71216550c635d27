#include "inference/covariance.h"

namespace varnalo {
// Placeholder until the covariance matrices land.
void build_info_matrix(AnalysisState&) {}
Matrix& selected_cov(AnalysisState& s) { return s.variance_method == 1 ? s.fit_cov : s.info_cov; }
void scale_by_het_factor(AnalysisState&) {}
void derive_location_scale(const AnalysisState&, DRef, DRef, const Matrix&, Matrix&) {}
}  // namespace varnalo
