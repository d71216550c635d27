// Gauss-Jordan elimination with full pivoting, in place.
//
// Method: Gauss-Jordan inversion with full (row and column) pivoting, as in
// Press et al., Numerical Recipes in C, 2nd ed. (1992), section 2.1. The
// pivot of each step is the largest remaining element in absolute value;
// columns are unscrambled at the end in reverse order of the exchanges.
// Accuracy: backward stable in practice for well-conditioned matrices; the
// relative error of the inverse grows with the condition number (about
// cond(A) times the unit round-off of a double).
#include "fit/gaussj.h"

#include <cmath>
#include <utility>


namespace varnalo {

namespace {

void swap_rows(Matrix& a, int r1, int r2, int n) {
  for (int l = 1; l <= n; ++l) std::swap(a[r1][l], a[r2][l]);
}

void swap_columns(Matrix& a, int c1, int c2, int n) {
  for (int k = 1; k <= n; ++k) std::swap(a[k][c1], a[k][c2]);
}

}  // namespace

InversionSummary gaussj(Matrix& a, int n) {
  InversionSummary summary;
  IVector pivot_count = ivector(1, n);
  IVector pivot_row = ivector(1, n);
  IVector pivot_col = ivector(1, n);

  for (int i = 1; i <= n; ++i) {
    // Search the whole remaining submatrix for the largest element.
    double big = 0.0;
    int pr = 0;
    int pc = 0;
    for (int j = 1; j <= n; ++j) {
      if (pivot_count[j] == 1) continue;
      for (int k = 1; k <= n; ++k) {
        if (pivot_count[k] == 0) {
          if (std::fabs(a[j][k]) >= big) {
            big = std::fabs(a[j][k]);
            pr = j;
            pc = k;
          }
        } else if (pivot_count[k] > 1) {
          summary.failures.push_back(PivotFailure::kRepeatedPivot);
        }
      }
    }

    // Not-a-number entries fail every comparison and can leave no candidate.
    // That is a singular matrix as much as a zero pivot is: take the first
    // unused column on the diagonal and go on as for a zero pivot.
    const bool no_candidate = (pc == 0);
    if (no_candidate) {
      for (int k = 1; k <= n && pc == 0; ++k)
        if (pivot_count[k] == 0) pc = k;
      pr = pc;
    }

    ++pivot_count[pc];
    if (pr != pc) swap_rows(a, pr, pc, n);
    pivot_row[i] = pr;
    pivot_col[i] = pc;

    if (no_candidate || a[pc][pc] == 0.0) summary.failures.push_back(PivotFailure::kZeroPivot);

    const double v = 1.0 / a[pc][pc];
    a[pc][pc] = 1.0;
    for (int l = 1; l <= n; ++l) a[pc][l] *= v;

    for (int h = 1; h <= n; ++h) {
      if (h == pc) continue;
      const double d = a[h][pc];
      a[h][pc] = 0.0;
      for (int l = 1; l <= n; ++l) a[h][l] -= a[pc][l] * d;
    }
  }

  for (int l = n; l >= 1; --l)
    if (pivot_row[l] != pivot_col[l]) swap_columns(a, pivot_row[l], pivot_col[l], n);

  ivector_free(pivot_col, 1, n);
  ivector_free(pivot_row, 1, n);
  ivector_free(pivot_count, 1, n);
  return summary;
}

}  // namespace varnalo
