// Variance-covariance matrices: the inverse expected information (info_cov),
// the choice between it and the maximiser's matrix, rescaling by the
// heterogeneity factor, and the location/scale (m = -a/b, s = 1/b) form.
#pragma once

#include "driver/arrays.h"
#include "driver/state.h"

namespace varnalo {

void build_info_matrix(AnalysisState& s);
// fit_cov under variance method 1, info_cov under 2.
Matrix& selected_cov(AnalysisState& s);
void scale_by_het_factor(AnalysisState& s);
void derive_location_scale(const AnalysisState& s, DRef in, DRef out, const Matrix& V, Matrix& U);

}  // namespace varnalo
