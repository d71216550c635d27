// Parameter estimates (standard errors, Wald chi-squares) and the matrix of
// variances, covariances and correlations, in the fitted form (1: a, b, C, D)
// and the location/scale form (2: m, s, C, D), on screen and report.
// Inputs: params and the selected covariance matrix of the state (form 2
// derives derived_params / derived_cov from them). Each table ends with a
// pause, and the matrix pauses after every block of five columns. Variances
// that are not positive and finite, or a zero slope, are named in a
// one-line notice instead of being printed as numbers.
#pragma once

#include "foundation/arrays.h"
#include "foundation/pauses.h"
#include "foundation/state.h"
#include "model/model_family.h"

namespace varnalo {

// The notice that replaces standard errors that cannot be formed (a
// variance that is not positive and finite).
inline constexpr const char* kNoStandardErrors =
    "  Standard errors are not available for this fit (singular or non-positive variance "
    "matrix).\n";

void report_estimates(AnalysisState& s, int form, Pauses& pauses);
void report_covariance(AnalysisState& s, int form, Pauses& pauses);
void print_estimates(AnalysisState& s, DRef e, const Matrix& V, const LabelTable& labels,
                     Pauses& pauses);
void print_cov_matrix(AnalysisState& s, const Matrix& V, const LabelTable& labels,
                      Pauses& pauses);

}  // namespace varnalo
