// Gauss-Jordan inversion with full pivoting, in place, of rows and columns
// 1..n of a matrix. A singular matrix does not stop the elimination: the
// record returned names every pivot step that found it singular, in the
// order met, and the session reports them.
// Inputs: the matrix (rows and columns 1..n). Outputs: the inverse, in place
// of the matrix; the record. Nothing is printed.
#pragma once

#include <vector>

#include "foundation/arrays.h"

namespace varnalo {

// kRepeatedPivot: the pivot search met a column already used twice;
// kZeroPivot: the pivot was zero, or no pivot was found (entries that are
// not numbers).
enum class PivotFailure { kRepeatedPivot, kZeroPivot };

struct InversionSummary {
  std::vector<PivotFailure> failures;  // in the order met
  bool singular() const { return !failures.empty(); }
};

InversionSummary gaussj(Matrix& a, int n);

}  // namespace varnalo
