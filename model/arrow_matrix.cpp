// Arrow-shaped symmetric matrices and their factorisation.
//
// Method: block elimination of the per-preparation blocks (each 1 x 1 or
// 2 x 2, inverted in closed form after a Cholesky test of its pivots),
// followed by the Cholesky factorisation of the Schur complement of the
// border (Golub and Van Loan, "Matrix Computations", 4th ed., 2013,
// sections 4.2 and 3.2.10 on block elimination). Work and storage are
// linear in the number of preparations; the border has at most three
// entries (a common slope, C and D).
// Accuracy: that of Cholesky on each block and on the Schur complement,
// backward stable; the error of a solve grows with the condition number.
// A pivot at or below pivot_floor times the diagonal entry it started from
// counts as not positive: the matrix is then taken as not positive
// definite, which is the test the check of a maximum needs.
#include "model/arrow_matrix.h"

#include <cmath>

namespace varnalo {

ArrowLayout ArrowLayout::make(int nprep, int nslopes, int c_index, int d_index) {
  ArrowLayout layout;
  layout.nprep = nprep;
  layout.local = nslopes > 1 ? 2 : 1;
  if (nslopes == 1) layout.global_index.push_back(nprep + 1);
  // The rates in vector order.
  const int first = c_index != 0 && (d_index == 0 || c_index < d_index) ? c_index : d_index;
  const int second = first == c_index ? d_index : c_index;
  if (first != 0) layout.global_index.push_back(first);
  if (second != 0) layout.global_index.push_back(second);
  return layout;
}

void ArrowMatrix::reset(const ArrowLayout& layout) {
  layout_ = layout;
  const int L = layout.local, G = layout.globals(), P = layout.nprep;
  local_.assign(static_cast<std::size_t>(P * L * L), 0.0);
  coupling_.assign(static_cast<std::size_t>(P * L * G), 0.0);
  global_.assign(static_cast<std::size_t>(G * G), 0.0);
}

void ArrowMatrix::set_zero() {
  std::fill(local_.begin(), local_.end(), 0.0);
  std::fill(coupling_.begin(), coupling_.end(), 0.0);
  std::fill(global_.begin(), global_.end(), 0.0);
}

double ArrowMatrix::at(int i, int j) const {
  const int P = layout_.nprep;
  // Position of a vector index: preparation and local entry, or border k.
  auto where = [&](int index, int* prep, int* u, int* k) {
    *prep = 0;
    *k = -1;
    for (int g = 0; g < layout_.globals(); ++g)
      if (layout_.global_index[static_cast<std::size_t>(g)] == index) *k = g;
    if (*k >= 0) return;
    if (index >= 1 && index <= P) {
      *prep = index;
      *u = 0;
    } else if (layout_.local == 2 && index > P && index <= 2 * P) {
      *prep = index - P;
      *u = 1;
    }
  };
  int pi = 0, ui = 0, ki = -1, pj = 0, uj = 0, kj = -1;
  where(i, &pi, &ui, &ki);
  where(j, &pj, &uj, &kj);
  if (ki >= 0 && kj >= 0) return global(ki, kj);
  if (ki >= 0 && pj > 0) return coupling(pj, uj, ki);
  if (kj >= 0 && pi > 0) return coupling(pi, ui, kj);
  if (pi > 0 && pi == pj) return local(pi, ui, uj);
  return 0.0;
}

void ArrowMatrix::to_dense(Matrix& out, int npar) const {
  for (int i = 1; i <= npar; ++i)
    for (int j = 1; j <= npar; ++j) out[i][j] = at(i, j);
}

void ArrowMatrix::add_to_diagonal(double lambda) {
  const int L = layout_.local;
  for (int i = 1; i <= layout_.nprep; ++i)
    for (int u = 0; u < L; ++u) local(i, u, u) += lambda;
  for (int k = 0; k < layout_.globals(); ++k) global(k, k) += lambda;
}

void ArrowMatrix::add_to_diagonal(double lambda, const std::vector<double>& w) {
  const int L = layout_.local;
  for (int i = 1; i <= layout_.nprep; ++i)
    for (int u = 0; u < L; ++u) local(i, u, u) += lambda * w[static_cast<std::size_t>(layout_.local_index(i, u))];
  for (int k = 0; k < layout_.globals(); ++k)
    global(k, k) += lambda * w[static_cast<std::size_t>(layout_.global_index[static_cast<std::size_t>(k)])];
}

void ArrowMatrix::multiply(DRef x, DRef y) const {
  const int L = layout_.local, G = layout_.globals();
  for (int k = 0; k < G; ++k) {
    double sum = 0.0;
    for (int l = 0; l < G; ++l) sum += global(k, l) * x[layout_.global_index[static_cast<std::size_t>(l)]];
    y[layout_.global_index[static_cast<std::size_t>(k)]] = sum;
  }
  for (int i = 1; i <= layout_.nprep; ++i)
    for (int u = 0; u < L; ++u) {
      double sum = 0.0;
      for (int w = 0; w < L; ++w) sum += local(i, u, w) * x[layout_.local_index(i, w)];
      for (int k = 0; k < G; ++k) {
        const int e = layout_.global_index[static_cast<std::size_t>(k)];
        sum += coupling(i, u, k) * x[e];
        y[e] += coupling(i, u, k) * x[layout_.local_index(i, u)];
      }
      y[layout_.local_index(i, u)] = sum;
    }
}

bool ArrowMatrix::factor(const std::vector<bool>& held, double pivot_floor) {
  const int L = layout_.local, G = layout_.globals(), P = layout_.nprep;
  free_globals_.clear();
  for (int k = 0; k < G; ++k)
    if (k >= static_cast<int>(held.size()) || !held[static_cast<std::size_t>(k)])
      free_globals_.push_back(k);
  const int F = static_cast<int>(free_globals_.size());
  local_inverse_.assign(static_cast<std::size_t>(P * L * L), 0.0);
  reduced_coupling_.assign(static_cast<std::size_t>(P * L * F), 0.0);
  std::vector<double> schur(static_cast<std::size_t>(F * F), 0.0);
  for (int a = 0; a < F; ++a)
    for (int b = 0; b < F; ++b)
      schur[static_cast<std::size_t>(a * F + b)] = global(free_globals_[a], free_globals_[b]);

  for (int i = 1; i <= P; ++i) {
    double* inv = &local_inverse_[static_cast<std::size_t>(block(i))];
    if (L == 1) {
      const double d = local(i, 0, 0);
      if (!(d > 0.0) || !std::isfinite(d)) return false;
      inv[0] = 1.0 / d;
    } else {
      const double a = local(i, 0, 0), b = local(i, 0, 1), c = local(i, 1, 1);
      // Cholesky pivots of [[a, b], [b, c]]: a, then c - b^2 / a.
      if (!(a > 0.0) || !std::isfinite(a)) return false;
      const double second = c - b * b / a;
      if (!(second > pivot_floor * std::fabs(c)) || !std::isfinite(second)) return false;
      const double det = a * second;
      inv[0] = c / det;
      inv[1] = inv[2] = -b / det;
      inv[3] = a / det;
    }
    // R = L^-1 B over the free border, and S -= B^T L^-1 B.
    double* R = &reduced_coupling_[static_cast<std::size_t>((i - 1) * L * F)];
    for (int u = 0; u < L; ++u)
      for (int f = 0; f < F; ++f) {
        double sum = 0.0;
        for (int v = 0; v < L; ++v) sum += inv[u * L + v] * coupling(i, v, free_globals_[f]);
        R[u * F + f] = sum;
      }
    for (int a = 0; a < F; ++a)
      for (int b = 0; b < F; ++b) {
        double sum = 0.0;
        for (int u = 0; u < L; ++u) sum += coupling(i, u, free_globals_[a]) * R[u * F + b];
        schur[static_cast<std::size_t>(a * F + b)] -= sum;
      }
  }

  // Cholesky of the Schur complement, lower triangle in place.
  schur_factor_.assign(static_cast<std::size_t>(F * F), 0.0);
  for (int j = 0; j < F; ++j) {
    double d = schur[static_cast<std::size_t>(j * F + j)];
    for (int k = 0; k < j; ++k) d -= schur_factor_[j * F + k] * schur_factor_[j * F + k];
    const double start = global(free_globals_[j], free_globals_[j]);
    if (!(d > pivot_floor * std::fabs(start)) || !std::isfinite(d)) return false;
    const double root = std::sqrt(d);
    schur_factor_[j * F + j] = root;
    for (int i = j + 1; i < F; ++i) {
      double s = schur[static_cast<std::size_t>(i * F + j)];
      for (int k = 0; k < j; ++k) s -= schur_factor_[i * F + k] * schur_factor_[j * F + k];
      schur_factor_[i * F + j] = s / root;
    }
  }
  return true;
}

void ArrowMatrix::solve(DRef rhs, DRef x) const {
  const int L = layout_.local, P = layout_.nprep;
  const int F = static_cast<int>(free_globals_.size());
  // y = S^-1 (s - sum B^T L^-1 r), x_i = L^-1 r_i - R_i y.
  std::vector<double> y(static_cast<std::size_t>(F), 0.0);
  for (int f = 0; f < F; ++f) y[f] = rhs[layout_.global_index[free_globals_[f]]];
  for (int i = 1; i <= P; ++i) {
    const double* inv = &local_inverse_[static_cast<std::size_t>(block(i))];
    double li_r[2] = {0.0, 0.0};
    for (int u = 0; u < L; ++u)
      for (int v = 0; v < L; ++v) li_r[u] += inv[u * L + v] * rhs[layout_.local_index(i, v)];
    for (int f = 0; f < F; ++f)
      for (int u = 0; u < L; ++u) y[f] -= coupling(i, u, free_globals_[f]) * li_r[u];
  }
  // Forward and back substitution with the factor.
  for (int i = 0; i < F; ++i) {
    for (int k = 0; k < i; ++k) y[i] -= schur_factor_[i * F + k] * y[k];
    y[i] /= schur_factor_[i * F + i];
  }
  for (int i = F - 1; i >= 0; --i) {
    for (int k = i + 1; k < F; ++k) y[i] -= schur_factor_[k * F + i] * y[k];
    y[i] /= schur_factor_[i * F + i];
  }
  for (int k = 0; k < layout_.globals(); ++k) x[layout_.global_index[static_cast<std::size_t>(k)]] = 0.0;
  for (int f = 0; f < F; ++f) x[layout_.global_index[free_globals_[f]]] = y[f];
  for (int i = 1; i <= P; ++i) {
    const double* inv = &local_inverse_[static_cast<std::size_t>(block(i))];
    const double* R = &reduced_coupling_[static_cast<std::size_t>((i - 1) * L * F)];
    for (int u = 0; u < L; ++u) {
      double v = 0.0;
      for (int w = 0; w < L; ++w) v += inv[u * L + w] * rhs[layout_.local_index(i, w)];
      for (int f = 0; f < F; ++f) v -= R[u * F + f] * y[f];
      x[layout_.local_index(i, u)] = v;
    }
  }
}

}  // namespace varnalo
