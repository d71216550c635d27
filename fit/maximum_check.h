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
// An end point where the maximiser's last run did not converge (a line
// search that found no decrease, an iteration or evaluation limit) is
// marked unverified; it is searched from like any other.
// Inputs: the state (data, model, nprep, nslopes, npar), the end point p
// [1..nprep+nslopes+2] and whether the maximiser converged there. Outputs:
// p holds the point to report, *fmin its exact objective value; the record
// says whether the point left the space, whether it was verified by the
// maximiser, whether it changed and by how much ^L rose, and how many
// searches (and evaluations) the check took. Nothing is printed.
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
  bool outside = false;     // the end point's rates were outside the space
  bool unverified = false;  // the maximiser did not converge at the end point
  bool improved = false;    // a better point replaced the end point
  double gain = 0.0;        // rise of ^L over the end point (inside the space)
  int searches = 0;         // local searches started
  int candidates = 0;       // ... that converged off any ridge to a step
  int evaluations = 0;      // objective evaluations of all searches
};

MaximumCheck check_maximum(AnalysisState& s, DRef p, double* fmin, bool maximiser_converged);

}  // namespace varnalo
