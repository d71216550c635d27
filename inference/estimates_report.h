// Parameter estimates (standard errors, Wald chi-squares) and the matrix of
// variances, covariances and correlations, in the fitted form (1) and the
// location/scale form (2), on screen and report.
#pragma once

#include "driver/arrays.h"
#include "driver/state.h"
#include "model/model_family.h"

namespace varnalo {

void report_estimates(AnalysisState& s, int form);
void report_covariance(AnalysisState& s, int form);
void print_estimates(AnalysisState& s, DRef e, const Matrix& V, const LabelTable& labels);
void print_cov_matrix(AnalysisState& s, const Matrix& V, const LabelTable& labels);

}  // namespace varnalo
