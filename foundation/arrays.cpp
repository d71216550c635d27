#include "foundation/arrays.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include "foundation/process.h"

namespace varnalo {

void fatal_error(std::string_view text) {
  std::string message = "Numerical Recipes run-time error...\n";
  message.append(text);
  message += "\n...now exiting to system...\n";
  write_error(message);
  end_run(1);
}

void index_out_of_bounds(long index, long lo, long hi) {
  std::fprintf(stderr, "index %ld outside the allocated range %ld..%ld\n", index, lo, hi);
  std::abort();
}

namespace {

// Element count of a dimension lo..hi; an empty range (hi < lo) counts 0.
std::size_t extent(int lo, int hi) {
  return hi >= lo ? static_cast<std::size_t>(static_cast<long>(hi) - lo + 1) : 0;
}

// Allocates a zero-filled block, or ends the run with the given text.
template <class T>
std::vector<T> allocate_block(std::size_t count, const char* failure_text) {
  try {
    return std::vector<T>(count, T{});
  } catch (const std::bad_alloc&) {
    fatal_error(failure_text);
  } catch (const std::length_error&) {
    fatal_error(failure_text);
  }
}

void check_release(bool same, const char* what) {
#ifndef VARNALO_BOUNDS_CHECK
  same = true;
#endif
  if (!same) {
    std::fprintf(stderr, "%s released with bounds other than its allocation\n", what);
    std::abort();
  }
}

}  // namespace

IVector ivector(int nl, int nh) {
  return IVector(nl, nh, allocate_block<int>(extent(nl, nh), "allocation failure in ivector()"));
}

DVector dvector(int nl, int nh) {
  return DVector(nl, nh, allocate_block<double>(extent(nl, nh), "allocation failure in dvector()"));
}

Matrix matrix(int nrl, int nrh, int ncl, int nch) {
  // The row handles of the classic layout are implicit here (rows are
  // computed from the row index); the data block is the one allocation.
  return Matrix(nrl, nrh, ncl, nch,
                allocate_block<double>(extent(nrl, nrh) * extent(ncl, nch),
                                       "allocation failure 2 in matrix()"));
}

D3Tensor::D3Tensor(int rlo, int rhi, int clo, int chi, int dlo, int dhi)
    : rlo_(rlo), rhi_(rhi), clo_(clo), chi_(chi), dlo_(dlo), dhi_(dhi) {
  const std::size_t records = extent(rlo, rhi) * extent(clo, chi);
  const std::size_t depth = extent(dlo, dhi);
  handle_ = allocate_block<std::size_t>(records, "allocation failure 2 in d3tensor()");
  data_ = allocate_block<double>(records * depth, "allocation failure 3 in d3tensor()");
  for (std::size_t r = 0; r < records; ++r) handle_[r] = r * depth;
}

void D3Tensor::exchange_records(int i, int j) {
  check_index(i, rlo_, rhi_);
  check_index(j, clo_, chi_ - 1);
  const std::size_t at = static_cast<std::size_t>(i - rlo_) * ncols() + (j - clo_);
  std::swap(handle_[at], handle_[at + 1]);
}

void D3Tensor::release() {
  data_.clear();
  data_.shrink_to_fit();
  handle_.clear();
  handle_.shrink_to_fit();
  rlo_ = clo_ = dlo_ = 1;
  rhi_ = chi_ = dhi_ = 0;
}

D3Tensor d3tensor(int nrl, int nrh, int ncl, int nch, int ndl, int ndh) {
  return D3Tensor(nrl, nrh, ncl, nch, ndl, ndh);
}

void ivector_free(IVector& v, int nl, int nh) {
  check_release(v.lo() == nl && v.hi() == nh, "ivector");
  v.release();
}

void dvector_free(DVector& v, int nl, int nh) {
  check_release(v.lo() == nl && v.hi() == nh, "dvector");
  v.release();
}

void matrix_free(Matrix& m, int nrl, int nrh, int ncl, int nch) {
  check_release(m.row_lo() == nrl && m.row_hi() == nrh && m.col_lo() == ncl && m.col_hi() == nch,
                "matrix");
  m.release();
}

void d3tensor_free(D3Tensor& t, int nrl, int nrh, int ncl, int nch, int ndl, int ndh) {
  check_release(t.row_lo() == nrl && t.row_hi() == nrh && t.col_lo() == ncl &&
                    t.col_hi() == nch && t.dep_lo() == ndl && t.dep_hi() == ndh,
                "d3tensor");
  t.release();
}

}  // namespace varnalo
