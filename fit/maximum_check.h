// Check that a fit's end point is the maximum of the likelihood, and move it
// there when it is not.
//
// After an edition's maximiser has stopped, the point is searched from with
// a bound-constrained gradient method: from the end point itself (which
// verifies it: no free direction still leads uphill), and from a spread of
// starts over the rates, the steepness and the position of each curve. The
// best point is kept only when it raises ^L by more than a relative
// kKeepGain (and by a printable amount), so a fit the maximiser got right
// keeps its estimates and value exactly.
// Everything here is measured on the exact likelihood (exact_objective).
// An end point whose rates lie outside the parameter space (C or D at or
// above 1, C + D at or above 1 in models 2 to 4) describes no population:
// it is moved into the space and always replaced by the best point found.
// Data with no finite maximum (complete or quasi-complete separation) give
// searches that run away along a ridge towards a step; such a search yields
// no candidate, so those fits end as the maximiser left them.
// Inputs: the state (data, model, nprep, nslopes, npar) and the end point p
// [1..nprep+nslopes+2]. Outputs: p holds the point to report, *fmin its
// exact objective value; the result says whether the point left the space,
// whether it changed and by how much ^L rose. Nothing is printed here.
#pragma once

#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

// A better point must raise ^L by more than this fraction of |^L|: far above
// the rounding of ^L, far below any difference a reader of the estimates
// could notice.
inline constexpr double kKeepGain = 1e-9;
// ... and by at least half a unit of the last digit ^L is printed with: a
// rise the report could not show is no rise (near ^L = 0, where data fitted
// perfectly have no finite maximum, a relative rise means nothing).
inline constexpr double kSmallestShownGain = 5e-8;

struct MaximumCheck {
  bool outside = false;   // the end point's rates were outside the space
  bool improved = false;  // a better point replaced the end point
  double gain = 0.0;      // rise of ^L over the end point (inside the space)
};

MaximumCheck check_maximum(AnalysisState& s, DRef p, double* fmin);

// Prints, on screen and report, the line that says the end point was
// replaced, and why (nothing when it was kept).
void report_maximum_check(AnalysisState& s, const MaximumCheck& check);

}  // namespace varnalo
