// Fit step of the variable-metric program: its heading, the maximiser runs
// from the given start (a second start when the first has C or D on the
// bound 0, then a last run from the best point slightly moved), and the
// check that the end point is the maximum. Leaves params, max_loglik,
// lr_chi2, iterations (of the last run) and fit_cov (the last run's
// inverse-Hessian approximation, or the inverse Hessian at a maximum on the
// bound or at a replaced end point) in the state; returns the records of the
// runs, of the check and of the inversion (fit/fit_result.h).
#pragma once

#include "fit/fit_result.h"
#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

FitResult fit_model(AnalysisState& s, DRef start);

}  // namespace varnalo
