// Projected Newton steps on the exact likelihood, and the certificate of a
// local maximum.
//
// From a point, each step minimises the quadratic model of the objective
// (saturated minus actual log-likelihood) within a trust region, solved
// through the arrow shape of its Hessian, for the entries not held on a
// bound; C and D stay in [0, 1) and
// C + D below 1 where both enter P = C + (1 - C - D) P0. A point is
// certified as a local maximum of the likelihood when the Hessian of its
// free entries is positive definite, the Newton step predicts a gain below
// kCertifiedGain of |^L|, and every rate on a bound has its gradient
// pointing out of the space. The rates can also be held where they are
// (the profile over the rates: the lines alone are fitted).
// Inputs: the fit's likelihood kernel, the state (model layout), a start
// [1..N]. Outputs: the point reached (in place) and a record of what
// happened. Nothing is printed.
#pragma once

#include "foundation/arrays.h"
#include "foundation/state.h"
#include "model/likelihood_kernel.h"

namespace varnalo {

// A Newton step that promises less than this fraction of max(1, |^L|) ends
// the iterations: far above the rounding of ^L (about 1e-15 of it), far
// below the gain that would replace an end point (1e-9 of it).
inline constexpr double kCertifiedGain = 1e-11;

struct NewtonOptions {
  bool hold_rates = false;   // fit the lines alone, C and D where they are
  bool hold_common_slope = false;  // and a common slope where it is
  int max_iterations = 60;
};

enum class NewtonStop {
  kCertified,        // a local minimum of the objective (maximum of ^L)
  kIterationLimit,   // still moving after max_iterations
  kNoDescent,        // the line search found no lower point (not certified)
  kOutsideSpace,     // the start's rates lie outside the space
};

struct NewtonSummary {
  NewtonStop stop = NewtonStop::kIterationLimit;
  bool certified_at_start = false;  // the start itself passed the certificate
  int iterations = 0;
  double value = 0.0;               // the objective at the point returned
  bool converged() const { return stop == NewtonStop::kCertified; }
};

NewtonSummary projected_newton(LikelihoodKernel& kernel, const AnalysisState& s, DRef p,
                               const NewtonOptions& options = {});

}  // namespace varnalo
