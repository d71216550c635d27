// Fit step of the downhill-simplex program: its heading, the Nelder-Mead
// simplex on the simplex objective from the given start (restarted from its
// best vertex until that no longer gains), and the check that the end point
// is the maximum. Leaves params (C and D in their space), max_loglik,
// lr_chi2 and iterations (evaluations counted over all restarts) in the
// state; returns the records of the runs and of the check
// (fit/fit_result.h).
#pragma once

#include "fit/dfp.h"
#include "fit/fit_result.h"
#include "fit/solver_summary.h"
#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

FitResult fit_model_simplex(AnalysisState& s, DRef start);

// How a run of the simplex ends besides its fractional tolerance. noise: the
// rounding level of the objective; a simplex whose values agree within it
// has converged as far as the objective can tell. A restart (restart =
// true) stops there; a first run that reaches its evaluation limit with
// values that agree within the noise counts as converged.
struct AmoebaEnd {
  double noise = 0.0;
  bool restart = false;
};

// Runs the simplex until its values agree to the fractional tolerance
// (kValueTolerance), a restart's values agree within the noise
// (kWithinNoise), or the evaluation limit NMAX is reached
// (kEvaluationLimit; kWithinNoise when the values agree within the noise
// by then). The best vertex ends in row 1. Prints nothing.
SolverSummary Amoeba(Matrix& simplex, DVector& y, int ndim, double tolerance,
                     const ObjectiveFn& objective, AmoebaEnd end = {});

double simplex_trial(Matrix& simplex, DVector& y, DVector& centroid_sum, int ndim,
                     const ObjectiveFn& objective, int worst, double factor);

}  // namespace varnalo
