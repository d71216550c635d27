// Fit step of the downhill-simplex program: starting values, editing, the
// Nelder-Mead simplex on the simplex objective (restarted from its best
// vertex until that no longer gains), the maximum log-likelihood block.
// Leaves params, max_loglik, lr_chi2 and iterations (evaluations counted
// over all restarts) in the state.
#pragma once

#include "foundation/arrays.h"
#include "foundation/state.h"
#include "fit/dfp.h"

namespace varnalo {

void fit_model_simplex(AnalysisState& s);

void Amoeba(AnalysisState& s, Matrix& simplex, DVector& y, int ndim, double tolerance,
            const ObjectiveFn& objective, int* evaluations);

double simplex_trial(Matrix& simplex, DVector& y, DVector& centroid_sum, int ndim,
                     const ObjectiveFn& objective, int worst, double factor);

}  // namespace varnalo
