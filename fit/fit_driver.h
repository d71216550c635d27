// Fit step of the variable-metric program: starting values, editing, two
// maximiser runs, the maximum log-likelihood block. Leaves params,
// max_loglik, lr_chi2 and fit_cov in the state.
#pragma once

#include "driver/state.h"

namespace varnalo {

void fit_model(AnalysisState& s);

}  // namespace varnalo
