// Fit step of the downhill-simplex program: starting values, editing, the
// Nelder-Mead simplex on the simplex objective (restarted from its best
// vertex until that no longer gains), the check that the end point is the
// maximum, the maximum log-likelihood block. Leaves params (C and D in
// their space), max_loglik, lr_chi2 and iterations (evaluations counted
// over all restarts) in the state.
#pragma once

#include "foundation/arrays.h"
#include "foundation/state.h"
#include "fit/dfp.h"

namespace varnalo {

void fit_model_simplex(AnalysisState& s);

// How a run of the simplex ends besides its fractional tolerance. noise: the
// rounding level of the objective; a simplex whose values agree within it
// has converged as far as the objective can tell. A restart (restart =
// true) stops there; a first run reaches its evaluation limit without the
// NMAX message when its values agree within the noise.
struct AmoebaEnd {
  double noise = 0.0;
  bool restart = false;
};

void Amoeba(AnalysisState& s, Matrix& simplex, DVector& y, int ndim, double tolerance,
            const ObjectiveFn& objective, int* evaluations, AmoebaEnd end = {});

double simplex_trial(Matrix& simplex, DVector& y, DVector& centroid_sum, int ndim,
                     const ObjectiveFn& objective, int worst, double factor);

}  // namespace varnalo
