// The likelihood kernel: one pass over the dose groups of a fit gives the
// objective (saturated minus actual binomial log-likelihood), its gradient
// and, when asked, the Hessian of the objective (the observed information)
// in the arrow shape of the parameter vector; a pass of its own gives the
// expected information. Everything that evaluates the likelihood reads it:
// both maximisers, the check of the maximum, the information matrices.
//
// The data are taken from the state once, when the kernel is made: per
// group x, n, r and the terms of the counts alone (ln m, ln r, n ln n); the
// work space is allocated then too, so a pass allocates and clears nothing
// but the partial sums of the parameters shared by all preparations.
//
// Three forms of the same likelihood (LikelihoodForm): the search form the
// variable-metric maximiser steps on (the distribution functions with their
// floors at every dose; arithmetic and order of the sums as they have always
// been, so its paths, iteration counts and covariances do not move), the
// simplex form (zero and infinite doses exact, the rates of a vertex read
// into the space without writing the vertex, a penalty outside), and the
// exact form that is reported and checked (accurate tails, exact zero and
// infinite doses, counts of 0 exact).
//
// Data larger than kParallelGroups groups are summed in fixed blocks of
// whole preparations (at least kBlockGroups groups each) on all cores; the
// blocks depend on the data alone and their partial sums are added in block
// order, so every result is the same at any thread count.
#pragma once

#include <atomic>
#include <vector>

#include "foundation/arrays.h"
#include "foundation/state.h"
#include "model/arrow_matrix.h"

namespace varnalo {

enum class LikelihoodForm { kSearch, kSimplex, kExact };

// Cap of the objective and the saturated log-likelihood: a point whose rates
// leave the space, or a likelihood beyond the doubles, gets this value.
inline constexpr double kObjectiveCap = 1e50;

// Data of at most this many groups are summed in one block, in the order
// the groups have always been summed in.
inline constexpr int kParallelGroups = 2048;
// Smallest block of a larger data set: a pass over it takes some 50
// microseconds, far more than handing it to a thread.
inline constexpr int kBlockGroups = 1024;

// The sums of the expected information of one preparation, over its groups
// w = n (A f)^2 / (P Q) with A = dP/dP0, and the C and D terms
// (gC = (dP/dC) / f and gD = (dP/dD) / f).
struct InformationSums {
  double Sw = 0, Sx = 0, Sxx = 0, SC = 0, SCx = 0, SCC = 0, SD = 0, SDx = 0, SDD = 0, SCD = 0;
};

// One preparation's share of the exact objective, with its gradient and
// Hessian over its own entries (local: intercept, and slope under separate
// slopes) and the border (a common slope, C, D in the layout's order).
struct PreparationTerms {
  double value = 0.0;
  double g_local[2] = {0.0, 0.0};
  double g_border[3] = {0.0, 0.0, 0.0};
  double h_local[2][2] = {};
  double h_coupling[2][3] = {};
  double h_border[3][3] = {};
};

class LikelihoodKernel {
 public:
  explicit LikelihoodKernel(const AnalysisState& s);

  // Whether the kernel was made from this state's current fit: the same
  // model, distribution, layout and GroupTable (in debug builds, the same
  // numbers in it, so a test that changes the groups in place is caught).
  bool describes(const AnalysisState& s) const;

  int npar() const { return npar_; }
  const ArrowLayout& layout() const { return layout_; }
  // The saturated log-likelihood (capped at 1e50).
  double saturated() const { return saturated_; }

  // The objective at p. The search and exact forms move a negative C or D
  // entry of p to 0; the simplex form reads p without writing it.
  double value(LikelihoodForm form, DRef p);
  // The gradient of the objective over entries 1..npar of g (same moves).
  void gradient(LikelihoodForm form, DRef p, DRef g);
  // Exact form: the objective, its gradient and its Hessian, and (when
  // asked) every preparation's terms, by_preparation[i] for preparation i.
  // Returns the cap (1e50) with g and H untouched where the rates lie
  // outside the space. The preparations' terms are summed in order.
  double value_gradient_hessian(DRef p, DRef g, ArrowMatrix& H,
                                std::vector<PreparationTerms>* by_preparation = nullptr);
  // Exact form: the expected information at p (the rates as p holds them,
  // a negative one as 0) in the arrow shape.
  void expected_information(DRef p, ArrowMatrix& I);
  // Exact form: one preparation's terms at p, in O(its groups). Returns its
  // share of the objective (the cap where the rates leave the space).
  // With locals_only, only the terms of its own entries (the border's are
  // left 0). Safe to call from several threads at once (with vectors of
  // their own).
  double preparation_terms(int prep, DRef p, PreparationTerms& terms,
                           bool locals_only = false) const;
  // Exact form: each preparation's share of the objective, out[i] for
  // preparation i (entry 0 unused); the cap where the rates leave the space.
  void values_by_preparation(DRef p, std::vector<double>& out);
  // The expected-information sums of every preparation at p (exact form,
  // the rates as given), sums[i] for preparation i (entry 0 unused).
  void information_sums(DRef p, std::vector<InformationSums>& sums);

  // Passes made so far (for the benchmarks and tests of the check's cost).
  long passes() const { return passes_; }
  // Passes' worth of groups evaluated one preparation at a time.
  double preparation_passes() const {
    return groups_.empty() ? 0.0 : static_cast<double>(preparation_groups_) / groups_.size();
  }

 private:
  struct Group {
    double x, n, r, m;          // counts as stored (floored at 1e-50)
    double log_m, log_r, n_log_n;
    bool zero_dose, infinite_dose;
    bool no_responders, all_responders;  // r, n - r at or below the floor
  };
  struct Block {
    int first_prep, last_prep;
  };

  int slope_index(int prep) const { return nslopes_ > 1 ? nprep_ + prep : nprep_ + 1; }
  void preparation_terms(int prep, double a, double b, double C, double D,
                         PreparationTerms& terms, bool expected = false,
                         bool locals_only = false) const;
  // P and Q = 1 - P of group g in the exact form (zero and infinite doses
  // exact, 1 - P from the accurate upper tail where P is near 1).
  void exact_probability(const Group& g, double a, double b, double C, double D, double* P,
                         double* Q) const;
  // C and D of p: the search and exact forms move a negative entry to 0.
  void rates(DRef p, double* C, double* D) const;
  bool rates_in_space(DRef p) const;
  // dP/dC with 1 - P0 from the accurate upper tail S0.
  double exact_rate_derivative(double P0, double S0, double D) const;
  void clamp_rates(DRef p, double* C, double* D, double* outside) const;
  template <typename Body>
  void for_blocks(Body body);

  // What describes() compares.
  double checksum(const AnalysisState& s) const;
  const double* table_ = nullptr;
  int total_groups_ = 0;
  double checksum_ = 0.0;
  int nprep_, nslopes_, npar_, model_;
  const struct ModelForm* form_;
  int distribution_;
  double fixed_c_;
  int c_index_, d_index_;
  // Border positions of a common slope, C and D (-1: none).
  int border_slope_ = -1, border_c_ = -1, border_d_ = -1;
  ArrowLayout layout_;
  std::vector<Group> groups_;
  std::vector<int> prep_first_;  // index of the first group of each preparation, [1..nprep+1]
  std::vector<Block> blocks_;
  double saturated_ = 0.0;
  long passes_ = 0;
  mutable std::atomic<long> preparation_groups_{0};

  // Per group of the last search-form value pass, reused by a gradient at
  // the same point.
  std::vector<double> cached_f_, cached_P0_, cached_P_, cached_Q_;
  std::vector<double> cached_point_;
  bool cache_valid_ = false;
  // Partial sums of the blocks: objective and border entries.
  std::vector<double> block_value_;
  std::vector<std::vector<double>> block_border_;
};

}  // namespace varnalo
