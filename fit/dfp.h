// Variable-metric (quasi-Newton) minimiser with backtracking line search.
// Inputs: a start vector, an objective and its gradient, and optionally a
// range of entries that must stay at or above 0. Outputs: the minimising
// point (in place), the objective value there, the inverse-Hessian
// approximation, left in the caller's matrix, and the record of the run:
// why it stopped (the step test, the gradient test, a line search that
// found no decrease, the iteration limit) with its iteration and evaluation
// counts. Nothing is printed.
#pragma once

#include <functional>

#include "fit/solver_summary.h"
#include "foundation/arrays.h"

namespace varnalo {

// Iterations of one run; a run that reaches it stops with kIterationLimit.
inline constexpr int kDfpMaxIterations = 1000;

using ObjectiveFn = std::function<double(DRef)>;
using GradientFn = std::function<void(DRef, DRef)>;

// Entries first..last of the parameter vector are bounded below by 0. The
// default, an empty range, leaves every entry free.
struct NonNegativeRange {
  int first = 1;
  int last = 0;
  bool contains(int i) const { return i >= first && i <= last; }
};

// Minimises objective from p. Entries in `bounded` never go below 0: the
// start is moved onto the bound, an entry at 0 whose gradient points
// outwards is held there for the iteration, and a step that would cross
// the bound is cut back to end on it. While no bound is touched the
// iterations are those of the unconstrained method.
SolverSummary DFP(Matrix& H, DRef p, int n, double gradient_tol, double* fmin,
                  const ObjectiveFn& objective, const GradientFn& grad,
                  NonNegativeRange bounded = {});

void line_search(int n, DRef x0, double f0, DRef g, DRef dir, DRef x, double* f, double smax,
                 int* check, const ObjectiveFn& objective);

}  // namespace varnalo
