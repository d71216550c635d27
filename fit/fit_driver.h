// Fit step of the variable-metric program: starting values, editing, the
// maximiser runs (a second start when the first has C or D on the bound 0,
// then a last run from the best point slightly moved), the check that the
// end point is the maximum, the maximum log-likelihood block. Leaves
// params, max_loglik, lr_chi2, iterations (of the last run) and fit_cov
// (the last run's inverse-Hessian approximation, or the inverse Hessian at
// a maximum on the bound or at a replaced end point) in the state.
#pragma once

#include "foundation/state.h"

namespace varnalo {

void fit_model(AnalysisState& s);

}  // namespace varnalo
