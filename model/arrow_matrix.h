// Symmetric matrices in the arrow shape of the parameter vector: one small
// block per preparation (its intercept, and its slope when every
// preparation has its own), a border of the entries shared by all (a
// common slope, C and D), and nothing else. The likelihood's Hessian and
// information have this shape, so a factorisation, a solve and a test of
// positive definiteness cost O(preparations) instead of O(parameters^3).
// Inputs: the layout (preparations, slopes, the vector indices of the rates)
// and entries added by the likelihood; a mask of entries held fixed.
// Outputs: entries, the Cholesky factorisation of the free part, solves, and
// a dense copy for the reports.
#pragma once

#include <vector>

#include "foundation/arrays.h"

namespace varnalo {

// Where the entries of the parameter vector [1..npar] sit in the arrow.
struct ArrowLayout {
  int nprep = 0;
  int local = 1;    // entries per preparation: 1 (intercept) or 2 (and slope)
  std::vector<int> global_index;  // vector index of each border entry

  // Builds the layout of nprep preparations with nslopes slopes and the
  // rates at the given vector indices (0: not estimated).
  static ArrowLayout make(int nprep, int nslopes, int c_index, int d_index);
  int globals() const { return static_cast<int>(global_index.size()); }
  // Vector index of local entry u (0 intercept, 1 slope) of preparation i.
  int local_index(int i, int u) const { return u == 0 ? i : nprep + i; }
  int size() const { return nprep * local + globals(); }
};

class ArrowMatrix {
 public:
  ArrowMatrix() = default;
  explicit ArrowMatrix(const ArrowLayout& layout) { reset(layout); }
  void reset(const ArrowLayout& layout);
  void set_zero();
  const ArrowLayout& layout() const { return layout_; }

  // Entry (u, v) of preparation i's block (0-based, u, v < local).
  double& local(int i, int u, int v) { return local_[block(i) + u * layout_.local + v]; }
  double local(int i, int u, int v) const { return local_[block(i) + u * layout_.local + v]; }
  // Entry (u, k) between preparation i's local entry u and border entry k.
  double& coupling(int i, int u, int k) { return coupling_[couple(i) + u * layout_.globals() + k]; }
  double coupling(int i, int u, int k) const {
    return coupling_[couple(i) + u * layout_.globals() + k];
  }
  // Entry (k, l) of the border.
  double& global(int k, int l) { return global_[k * layout_.globals() + l]; }
  double global(int k, int l) const { return global_[k * layout_.globals() + l]; }

  // Entry (i, j) of the full matrix over vector indices 1..npar (0 outside
  // the arrow).
  double at(int i, int j) const;
  // Rows and columns 1..npar into a dense matrix.
  void to_dense(Matrix& out, int npar) const;
  // Adds lambda to every diagonal entry; or lambda * w[e] to the entry of
  // vector index e (w over 1..npar, entry 0 unused).
  void add_to_diagonal(double lambda);
  void add_to_diagonal(double lambda, const std::vector<double>& w);
  // y = (this matrix) x over vector indices 1..npar.
  void multiply(DRef x, DRef y) const;

  // Cholesky factorisation of the matrix restricted to the entries not held
  // (held[k] for border entry k; local entries are never held), by the
  // Schur complement of the border. Returns false when that part is not
  // positive definite (a pivot at or below pivot_floor times the largest
  // diagonal entry of its block). The matrix itself is kept.
  bool factor(const std::vector<bool>& held, double pivot_floor);
  // Solves (restricted matrix) x = rhs with the last factorisation; rhs and
  // x are vectors over 1..npar; held entries of x are 0.
  void solve(DRef rhs, DRef x) const;

 private:
  int block(int i) const { return (i - 1) * layout_.local * layout_.local; }
  int couple(int i) const { return (i - 1) * layout_.local * layout_.globals(); }

  ArrowLayout layout_;
  std::vector<double> local_, coupling_, global_;
  // Factorisation: each preparation's block inverse, L^-1 B per block, and
  // the Cholesky factor of the Schur complement of the free border.
  std::vector<double> local_inverse_, reduced_coupling_, schur_factor_;
  std::vector<int> free_globals_;
};

}  // namespace varnalo
