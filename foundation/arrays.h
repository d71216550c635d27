// Numeric arrays with caller-chosen index bounds, and the fatal-error exit.
//
// Every numeric store of the program (GroupTable, parameter vectors,
// covariance matrices, work space of the maximisers) is one of four kinds:
// ivector and dvector (one index), matrix (two), d3tensor (three). The caller
// picks the lowest and highest valid index of every dimension; most ranges
// start at 1, some at 0. Storage is one contiguous block per array; a matrix
// can be walked as one run of doubles, row after row.
//
// Indexing never forms a pointer outside the block: a row or record is a view
// holding a pointer to its first element and its own bounds. Debug builds
// (NDEBUG not defined) check every index against the allocated bounds and
// abort with a message naming the index and the range.
//
// An allocation that fails ends the run through fatal_error, so callers never
// check results. The release operations take the same bounds as the
// allocation and leave the array empty.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#ifndef NDEBUG
#define VARNALO_BOUNDS_CHECK 1
#endif

namespace varnalo {

// Writes the three-line fatal message to the error stream and ends the run
// with status 1. Never returns.
[[noreturn]] void fatal_error(std::string_view text);

// Reports an index outside the allocated bounds and aborts (debug builds).
[[noreturn]] void index_out_of_bounds(long index, long lo, long hi);

inline void check_index(long i, long lo, long hi) {
#ifdef VARNALO_BOUNDS_CHECK
  if (i < lo || i > hi) index_out_of_bounds(i, lo, hi);
#else
  (void)i;
  (void)lo;
  (void)hi;
#endif
}

// Non-owning view of a run of elements addressed by indices lo..hi.
// A dvector, a matrix row and a d3tensor record all convert to it, so a
// routine that takes a parameter vector accepts any of them.
template <class T>
class VecView {
 public:
  VecView() = default;
  VecView(T* first, int lo, int hi) : first_(first), lo_(lo), hi_(hi) {}
  T& operator[](int i) const {
    check_index(i, lo_, hi_);
    return first_[i - lo_];
  }
  int lo() const { return lo_; }
  int hi() const { return hi_; }

 private:
  T* first_ = nullptr;
  int lo_ = 1;
  int hi_ = 0;
};

using DRef = VecView<double>;
using IRef = VecView<int>;

// One-index array, valid indices lo..hi.
template <class T>
class Vec {
 public:
  Vec() = default;
  Vec(int lo, int hi, std::vector<T> data) : lo_(lo), hi_(hi), data_(std::move(data)) {}
  T& operator[](int i) {
    check_index(i, lo_, hi_);
    return data_[static_cast<std::size_t>(i - lo_)];
  }
  const T& operator[](int i) const {
    check_index(i, lo_, hi_);
    return data_[static_cast<std::size_t>(i - lo_)];
  }
  operator VecView<T>() { return VecView<T>(data_.data(), lo_, hi_); }
  VecView<T> view() { return VecView<T>(data_.data(), lo_, hi_); }
  int lo() const { return lo_; }
  int hi() const { return hi_; }
  bool allocated() const { return !data_.empty() || hi_ >= lo_; }
  void release() {
    data_.clear();
    data_.shrink_to_fit();
    lo_ = 1;
    hi_ = 0;
  }

 private:
  int lo_ = 1;
  int hi_ = 0;
  std::vector<T> data_;
};

using IVector = Vec<int>;
using DVector = Vec<double>;

// Two-index array of doubles: rows rlo..rhi, columns clo..chi, stored row
// after row without gaps.
class Matrix {
 public:
  Matrix() = default;
  Matrix(int rlo, int rhi, int clo, int chi, std::vector<double> data)
      : rlo_(rlo), rhi_(rhi), clo_(clo), chi_(chi), data_(std::move(data)) {}

  DRef operator[](int i) {
    check_index(i, rlo_, rhi_);
    return DRef(data_.data() + static_cast<std::size_t>(i - rlo_) * ncols(), clo_, chi_);
  }
  VecView<const double> operator[](int i) const {
    check_index(i, rlo_, rhi_);
    return VecView<const double>(data_.data() + static_cast<std::size_t>(i - rlo_) * ncols(), clo_,
                                 chi_);
  }
  int row_lo() const { return rlo_; }
  int row_hi() const { return rhi_; }
  int col_lo() const { return clo_; }
  int col_hi() const { return chi_; }
  // The whole block as one run of doubles, row after row.
  double* data() { return data_.data(); }
  std::size_t size() const { return data_.size(); }
  bool allocated() const { return !data_.empty(); }
  void release() {
    data_.clear();
    data_.shrink_to_fit();
    rlo_ = clo_ = 1;
    rhi_ = chi_ = 0;
  }

 private:
  std::size_t ncols() const { return static_cast<std::size_t>(chi_ - clo_ + 1); }
  int rlo_ = 1, rhi_ = 0, clo_ = 1, chi_ = 0;
  std::vector<double> data_;
};

// Three-index array of doubles: [rlo..rhi][clo..chi][dlo..dhi]. Each pair
// (i, j) reaches its record of (dhi - dlo + 1) doubles through a handle; two
// neighbouring handles of one row can be exchanged to reorder the records of
// that row without moving data.
class D3Tensor {
 public:
  class Plane {
   public:
    Plane(D3Tensor* t, int i) : t_(t), i_(i) {}
    DRef operator[](int j) const { return t_->record(i_, j); }

   private:
    D3Tensor* t_;
    int i_;
  };

  D3Tensor() = default;
  D3Tensor(int rlo, int rhi, int clo, int chi, int dlo, int dhi);

  Plane operator[](int i) {
    check_index(i, rlo_, rhi_);
    return Plane(this, i);
  }
  DRef record(int i, int j) {
    check_index(i, rlo_, rhi_);
    check_index(j, clo_, chi_);
    std::size_t h = handle_[static_cast<std::size_t>(i - rlo_) * ncols() + (j - clo_)];
    return DRef(data_.data() + h, dlo_, dhi_);
  }
  // Exchanges the handles of records [i][j] and [i][j+1].
  void exchange_records(int i, int j);
  bool allocated() const { return !data_.empty(); }
  void release();

  int row_lo() const { return rlo_; }
  int row_hi() const { return rhi_; }
  int col_lo() const { return clo_; }
  int col_hi() const { return chi_; }
  int dep_lo() const { return dlo_; }
  int dep_hi() const { return dhi_; }

 private:
  std::size_t ncols() const { return static_cast<std::size_t>(chi_ - clo_ + 1); }
  int rlo_ = 1, rhi_ = 0, clo_ = 1, chi_ = 0, dlo_ = 1, dhi_ = 0;
  std::vector<std::size_t> handle_;
  std::vector<double> data_;
};

IVector ivector(int nl, int nh);
DVector dvector(int nl, int nh);
Matrix matrix(int nrl, int nrh, int ncl, int nch);
D3Tensor d3tensor(int nrl, int nrh, int ncl, int nch, int ndl, int ndh);

void ivector_free(IVector& v, int nl, int nh);
void dvector_free(DVector& v, int nl, int nh);
void matrix_free(Matrix& m, int nrl, int nrh, int ncl, int nch);
void d3tensor_free(D3Tensor& t, int nrl, int nrh, int ncl, int nch, int ndl, int ndh);

}  // namespace varnalo
