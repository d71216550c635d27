// Gauss-Jordan inversion with full pivoting, in place, of rows and columns
// 1..n of a matrix. Singular matrices are reported on the screen and the
// elimination goes on.
// Inputs: the matrix (rows and columns 1..n) and the state (for the screen).
// Output: the inverse, in place of the matrix.
#pragma once

#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

void gaussj(AnalysisState& s, Matrix& a, int n);

}  // namespace varnalo
