// Variable-metric (quasi-Newton) minimiser with backtracking line search; the
// inverse-Hessian approximation is left in the caller's matrix.
#pragma once

#include <functional>

#include "driver/arrays.h"
#include "driver/state.h"

namespace varnalo {

using ObjectiveFn = std::function<double(DRef)>;
using GradientFn = std::function<void(DRef, DRef)>;

void DFP(AnalysisState& s, Matrix& H, DRef p, int n, double gradient_tol, int* iter, double* fmin,
         const ObjectiveFn& objective, const GradientFn& grad);

void line_search(int n, DRef x0, double f0, DRef g, DRef dir, DRef x, double* f, double smax,
                 int* check, const ObjectiveFn& objective);

}  // namespace varnalo
