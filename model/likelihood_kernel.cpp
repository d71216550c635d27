// The likelihood kernel.
//
// Method: maximum likelihood for grouped binary responses (Finney, "Probit
// Analysis", 3rd ed. 1971, ch. 4): the objective is sum over groups of
// -(r ln P + m ln Q) + r ln r + m ln m - n ln n (half the deviance), with
// P = C + (1 - C - D) P0 (models 1-4) or C + (1 - C)(1 - D) P0 (5-8) and
// P0 = F(a + b x). Its gradient is -sum (r / P - m / Q) dP, and its Hessian
// (the observed information) is
//   sum (r / P^2 + m / Q^2) dP dP' - (r / P - m / Q) d2P,
// with dP and d2P through dP0/dz = f and df/dz = f' (McCullagh and Nelder,
// "Generalized Linear Models", 2nd ed., 1989, 4.4 and 4.5). The expected
// information is sum n dP dP' / (P Q).
//
// The search form repeats the arithmetic the maximisers have always stepped
// on, operation for operation (the terms of the counts alone are cached,
// which gives the same bits as forming them again). The exact form's
// probabilities are those of tolerance_cdf_exact: the search form's values
// wherever that is accurate to its last digits, accurate tails elsewhere;
// its gradient and Hessian take a count of 0 as 0 (the stored 1e-50 over a
// P at its floor of 1e-99 would weigh 1e49).
//
// Accuracy: double precision apart from the floors (P, Q and f at 1e-99,
// counts at 1e-50) and the Normal distribution function's 1.1e-9 absolute
// error within |z| < 3. Work: one evaluation of the distribution function
// per group and pass; two logarithms per group for the objective; none more
// for a search-form gradient at the point of the last objective.
#include "model/likelihood_kernel.h"

#include <algorithm>
#include <cmath>

#include "model/distributions.h"
#include "model/model_family.h"
#include "model/model_form.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace varnalo {

namespace {

// Penalty of a simplex vertex outside the parameter space, per unit of
// distance and of 1 + |F|: steep enough that no vertex is better outside
// than on the bound.
constexpr double kOutsidePenalty = 10.0;

double floored_count(double v) { return v <= kCountFloor ? kCountFloor : v; }

// The term m (ln Q - ln m) + r (ln P - ln r) + n ln n with the logarithms
// of the counts cached.
struct Counts {
  double n, r, m, log_m, log_r, n_log_n;
};
inline double group_term(const Counts& c, double P, double Q) {
  return c.m * (std::log(Q) - c.log_m) + c.r * (std::log(P) - c.log_r) + c.n_log_n;
}

// The derivative of the density, f'(z), from the values at z.
double density_slope(int distribution, double z, double P0, double S0, double f) {
  switch (distribution) {
    case 1:
      return -z * f;
    case 2:
      return f * (S0 - P0);
    default:
      return f * (1.0 - std::exp(z));
  }
}

}  // namespace

LikelihoodKernel::LikelihoodKernel(const AnalysisState& cs)
    : nprep_(cs.nprep),
      nslopes_(cs.nslopes),
      npar_(cs.npar),
      model_(cs.model),
      form_(&model_form(cs)),
      distribution_(cs.distribution),
      fixed_c_(cs.fixed_c) {
  // The GroupTable's accessors are non-const; it is only read.
  AnalysisState& s = const_cast<AnalysisState&>(cs);
  const RateIndices at = rate_indices(s);
  c_index_ = at.c;
  d_index_ = at.d;
  layout_ = ArrowLayout::make(nprep_, nslopes_, c_index_, d_index_);
  for (int k = 0; k < layout_.globals(); ++k) {
    const int e = layout_.global_index[static_cast<std::size_t>(k)];
    if (e == c_index_) border_c_ = k;
    if (e == d_index_) border_d_ = k;
    if (nslopes_ == 1 && e == nprep_ + 1) border_slope_ = k;
  }

  prep_first_.assign(static_cast<std::size_t>(nprep_) + 2, 0);
  double S = 0.0;
  for (int i = 1; i <= nprep_; ++i) {
    prep_first_[static_cast<std::size_t>(i)] = static_cast<int>(groups_.size());
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      DRef g = s.groups[i][j];
      Group grp;
      grp.x = g[1];
      grp.n = g[2];
      grp.r = g[3];
      grp.m = floored_count(grp.n - grp.r);
      grp.log_m = std::log(grp.m);
      grp.log_r = std::log(grp.r);
      grp.n_log_n = grp.n * std::log(grp.n);
      grp.zero_dose = grp.x <= kZeroDoseLog;
      grp.infinite_dose = grp.x >= kInfiniteDoseLog;
      grp.no_responders = grp.r <= kCountFloor;
      grp.all_responders = grp.n - grp.r <= kCountFloor;
      groups_.push_back(grp);
      // The saturated log-likelihood, summed as it always has been.
      S += grp.m * grp.log_m + grp.r * grp.log_r - grp.n_log_n;
      if (S > kObjectiveCap) S = kObjectiveCap;
    }
  }
  prep_first_[static_cast<std::size_t>(nprep_) + 1] = static_cast<int>(groups_.size());
  saturated_ = S;
  table_ = nprep_ > 0 ? &s.groups[1][0][1] : nullptr;
  total_groups_ = static_cast<int>(groups_.size());
  checksum_ = checksum(cs);

  // Blocks of whole preparations, fixed by the data alone.
  const int total = static_cast<int>(groups_.size());
  if (total <= kParallelGroups || nprep_ <= 1) {
    blocks_.push_back({1, nprep_});
  } else {
    int first = 1, count = 0;
    for (int i = 1; i <= nprep_; ++i) {
      count += prep_first_[static_cast<std::size_t>(i) + 1] - prep_first_[static_cast<std::size_t>(i)];
      if (count >= kBlockGroups || i == nprep_) {
        blocks_.push_back({first, i});
        first = i + 1;
        count = 0;
      }
    }
  }
  block_value_.assign(blocks_.size(), 0.0);
  // A block's partial sums: the gradient's border entries (by vector index)
  // or the Hessian pass's border gradient and matrix (at most 3 + 9).
  constexpr std::size_t kHessianBorder = 12;
  block_border_.assign(blocks_.size(),
                       std::vector<double>(std::max(static_cast<std::size_t>(npar_) + 1, kHessianBorder), 0.0));
  cached_f_.assign(groups_.size(), 0.0);
  cached_P0_.assign(groups_.size(), 0.0);
  cached_P_.assign(groups_.size(), 0.0);
  cached_Q_.assign(groups_.size(), 0.0);
  cached_point_.assign(static_cast<std::size_t>(npar_) + 1, 0.0);
}

double LikelihoodKernel::checksum(const AnalysisState& cs) const {
#ifdef VARNALO_BOUNDS_CHECK
  AnalysisState& s = const_cast<AnalysisState&>(cs);
  double sum = 0.0;
  for (int i = 1; i <= s.nprep; ++i)
    for (int j = 1; j <= s.ngroups[i]; ++j)
      sum += (j + 0.5) * s.groups[i][j][1] + (i + 1.5) * s.groups[i][j][2] + 3.25 * s.groups[i][j][3];
  return sum;
#else
  (void)cs;
  return 0.0;
#endif
}

bool LikelihoodKernel::describes(const AnalysisState& cs) const {
  if (cs.nprep != nprep_ || cs.nslopes != nslopes_ || cs.npar != npar_ || cs.model != model_ ||
      cs.distribution != distribution_ || cs.fixed_c != fixed_c_)
    return false;
  AnalysisState& s = const_cast<AnalysisState&>(cs);
  if ((nprep_ > 0 ? &s.groups[1][0][1] : nullptr) != table_) return false;
  int total = 0;
  for (int i = 1; i <= nprep_; ++i) total += s.ngroups[i];
  return total == total_groups_ && checksum(cs) == checksum_;
}

template <typename Body>
void LikelihoodKernel::for_blocks(Body body) {
  const int nblocks = static_cast<int>(blocks_.size());
  if (nblocks == 1) {
    body(0);
    return;
  }
  // Each block writes only its own partial sums and its own preparations'
  // entries, so the order in which the threads take the blocks does not
  // matter.
  tbb::parallel_for(tbb::blocked_range<int>(0, nblocks, 1), [&](const tbb::blocked_range<int>& range) {
    for (int k = range.begin(); k != range.end(); ++k) body(k);
  });
}

double LikelihoodKernel::exact_rate_derivative(double P0, double S0, double D) const {
  // 1 - P0 (All or Nothing) or 1 - (1 - D) P0 = S0 + D P0 (Preference).
  return form_->rates_share_population() ? S0 : S0 + D * P0;
}

void LikelihoodKernel::rates(DRef p, double* C, double* D) const {
  *C = form_->known_c() ? fixed_c_ : 0.0;
  *D = 0.0;
  if (c_index_ != 0) {
    if (p[c_index_] < 0.0) p[c_index_] = 0.0;
    *C = p[c_index_];
  }
  if (d_index_ != 0) {
    if (p[d_index_] < 0.0) p[d_index_] = 0.0;
    *D = p[d_index_];
  }
}

bool LikelihoodKernel::rates_in_space(DRef p) const {
  const double C = c_index_ != 0 ? p[c_index_] : 0.0;
  const double D = d_index_ != 0 ? p[d_index_] : 0.0;
  if (!(C >= 0.0 && C < 1.0 && D >= 0.0 && D < 1.0)) return false;
  return !form_->rates_share_population() || C + D < 1.0;
}

void LikelihoodKernel::clamp_rates(DRef p, double* C, double* D, double* outside) const {
  *C = form_->known_c() ? fixed_c_ : 0.0;
  *D = 0.0;
  if (c_index_ != 0) *C = std::clamp(p[c_index_], 0.0, kHighestRate);
  if (d_index_ != 0) *D = std::clamp(p[d_index_], 0.0, kHighestRate);
  if (form_->rates_share_population() && *C + *D > kHighestRate) {
    const double scale = kHighestRate / (*C + *D);
    *C *= scale;
    *D *= scale;
  }
  *outside = 0.0;
  if (c_index_ != 0) *outside += std::fabs(p[c_index_] - *C);
  if (d_index_ != 0) *outside += std::fabs(p[d_index_] - *D);
}

double LikelihoodKernel::value(LikelihoodForm form, DRef p) {
  ++passes_;
  double C = 0.0, D = 0.0, outside = 0.0;
  if (form == LikelihoodForm::kSimplex) {
    clamp_rates(p, &C, &D, &outside);
  } else {
    rates(p, &C, &D);
    // Rates at or above 1 describe no population.
    if (form == LikelihoodForm::kExact && !rates_in_space(p)) return kObjectiveCap;
  }
  const bool search = form == LikelihoodForm::kSearch;

  for_blocks([&](int k) {
    double F = 0.0;
    for (int i = blocks_[k].first_prep; i <= blocks_[k].last_prep; ++i) {
      const double a = p[i];
      const double b = p[slope_index(i)];
      for (int j = prep_first_[i]; j < prep_first_[i + 1]; ++j) {
        const Group& g = groups_[static_cast<std::size_t>(j)];
        double P0 = 0.0, f = 0.0, P = 0.0, Q = 0.0;
        if (search) {
          tolerance_cdf(distribution_, kSearchFloors, a + b * g.x, &P0, &f);
          form_->probability(P0, C, D, &P, &Q);
          cached_f_[j] = f;
          cached_P0_[j] = P0;
          cached_P_[j] = P;
          cached_Q_[j] = Q;
        } else if (form == LikelihoodForm::kSimplex) {
          if (g.zero_dose)
            P0 = 0.0;
          else if (g.infinite_dose)
            P0 = 1.0;
          else
            tolerance_cdf(distribution_, kSearchFloors, a + b * g.x, &P0, &f);
          form_->probability(P0, C, D, &P, &Q);
        } else {
          exact_probability(g, a, b, C, D, &P, &Q);
        }
        F -= group_term({g.n, g.r, g.m, g.log_m, g.log_r, g.n_log_n}, P, Q);
        if (F > kObjectiveCap) F = kObjectiveCap;
      }
    }
    block_value_[k] = F;
  });
  double F = block_value_[0];
  for (std::size_t k = 1; k < blocks_.size(); ++k) {
    F += block_value_[k];
    if (F > kObjectiveCap) F = kObjectiveCap;
  }
  if (search) {
    for (int e = 1; e <= npar_; ++e) cached_point_[e] = p[e];
    cache_valid_ = true;
  }
  if (form == LikelihoodForm::kSimplex && outside != 0.0)
    return F + kOutsidePenalty * outside * (1.0 + std::fabs(F));
  return F;
}

void LikelihoodKernel::gradient(LikelihoodForm form, DRef p, DRef g) {
  for (int e = 1; e <= npar_; ++e) g[e] = 0.0;
  double C = 0.0, D = 0.0, outside = 0.0;
  if (form == LikelihoodForm::kSimplex)
    clamp_rates(p, &C, &D, &outside);
  else
    rates(p, &C, &D);
  const bool search = form == LikelihoodForm::kSearch;
  bool reuse = search && cache_valid_;
  for (int e = 1; e <= npar_ && reuse; ++e) reuse = cached_point_[e] == p[e];
  if (!reuse) ++passes_;

  // dP/dz = A f: the share of the population that the tolerance decides;
  // dP/dD = -d_scale P0.
  const double A = form_->share(C, D);
  const double d_scale = form_->d_scale(C);
  const bool shared_border = blocks_.size() > 1;
  const bool common_slope = nslopes_ == 1;

  for_blocks([&](int blk) {
    // Entries shared by all preparations go to the block's partial sums
    // when there are several blocks, straight into g when there is one.
    double* border = shared_border ? block_border_[blk].data() : nullptr;
    if (border != nullptr) std::fill(block_border_[blk].begin(), block_border_[blk].end(), 0.0);
    auto shared = [&](int e) -> double& { return border != nullptr ? border[e] : g[e]; };
    for (int i = blocks_[blk].first_prep; i <= blocks_[blk].last_prep; ++i) {
      const int si = slope_index(i);
      const double a = p[i];
      const double b = p[si];
      double& g_slope = common_slope ? shared(si) : g[si];
      for (int j = prep_first_[i]; j < prep_first_[i + 1]; ++j) {
        const Group& grp = groups_[static_cast<std::size_t>(j)];
        const double x = grp.x, n = grp.n, r = grp.r;
        double P0 = 0.0, S0 = 1.0, f = 0.0, P = 0.0, Q = 0.0, w = 0.0;
        if (reuse) {
          f = cached_f_[j];
          P0 = cached_P0_[j];
          P = cached_P_[j];
          Q = cached_Q_[j];
        } else if (search) {
          tolerance_cdf(distribution_, kSearchFloors, a + b * x, &P0, &f);
          form_->probability(P0, C, D, &P, &Q);
        } else if (form == LikelihoodForm::kSimplex) {
          if (grp.zero_dose)
            P0 = 0.0;
          else if (grp.infinite_dose)
            P0 = 1.0;
          else
            tolerance_cdf(distribution_, kSearchFloors, a + b * x, &P0, &f);
          form_->probability(P0, C, D, &P, &Q);
        } else {
          if (grp.infinite_dose) {
            P0 = 1.0;
            S0 = 0.0;
          } else if (!grp.zero_dose) {
            tolerance_cdf_exact(distribution_, a + b * x, &P0, &S0, &f);
          }
          form_->probability(P0, C, D, &P, &Q);
          if (Q < kSubtractionDigitsLost) form_->probability(P0, S0, C, D, &P, &Q);
        }
        if (form == LikelihoodForm::kExact) {
          // -d(r ln P + m ln Q)/dP with counts of 0 as 0.
          w = (grp.no_responders ? 0.0 : r / P) - (grp.all_responders ? 0.0 : grp.m / Q);
        } else {
          w = ((r - n * P) / P) / Q;
        }

        // A zero or infinite dose carries no information on intercept or slope.
        if (!grp.zero_dose && !grp.infinite_dose) {
          g[i] -= A * w * f;
          g_slope -= A * w * f * x;
        }

        if (c_index_ != 0) {
          // dP/dC; the exact form takes 1 - P0 from the accurate upper tail,
          // where m / Q can reach 1e23 while 1 - P0 has rounded to 0.
          const double dC = form == LikelihoodForm::kExact ? exact_rate_derivative(P0, S0, D)
                                                           : form_->derivatives(P0, C, D).dC;
          shared(c_index_) -= dC * w;
        }
        if (d_index_ != 0) shared(d_index_) -= -d_scale * w * P0;
      }
    }
  });
  if (shared_border) {
    for (const int e : layout_.global_index)
      for (std::size_t blk = 0; blk < blocks_.size(); ++blk) g[e] += block_border_[blk][e];
  }
}

void LikelihoodKernel::preparation_terms(int i, double a, double b, double C, double D,
                                         PreparationTerms& t, bool expected,
                                         bool locals_only) const {
  t = PreparationTerms{};
  // Where each of a, b, C, D goes: local entry u (>= 0), border entry k
  // (as -1 - k), or nowhere (kAbsent).
  constexpr int kAbsent = -100;
  const int slot[4] = {0, nslopes_ > 1 ? 1 : (locals_only ? kAbsent : -1 - border_slope_),
                       border_c_ >= 0 && !locals_only ? -1 - border_c_ : kAbsent,
                       border_d_ >= 0 && !locals_only ? -1 - border_d_ : kAbsent};
  for (int j = prep_first_[i]; j < prep_first_[i + 1]; ++j) {
    const Group& grp = groups_[static_cast<std::size_t>(j)];
    double P0 = 0.0, S0 = 1.0, f = 0.0, f1 = 0.0, P = 0.0, Q = 0.0;
    const bool dosed = !grp.zero_dose && !grp.infinite_dose;
    if (grp.infinite_dose) {
      P0 = 1.0;
      S0 = 0.0;
    } else if (dosed) {
      const double z = a + b * grp.x;
      tolerance_cdf_exact(distribution_, z, &P0, &S0, &f);
      f1 = density_slope(distribution_, z, P0, S0, f);
    }
    form_->probability(P0, C, D, &P, &Q);
    if (Q < kSubtractionDigitsLost) form_->probability(P0, S0, C, D, &P, &Q);
    t.value -= group_term({grp.n, grp.r, grp.m, grp.log_m, grp.log_r, grp.n_log_n}, P, Q);
    if (t.value > kObjectiveCap) t.value = kObjectiveCap;

    const double r = grp.no_responders ? 0.0 : grp.r;
    const double m = grp.all_responders ? 0.0 : grp.m;
    // -dF/dP and d2F/dP2; for the expected information n / (P Q) and no
    // second derivatives of P.
    const double c2 = expected ? 0.0 : r / P - m / Q;
    const double c1 = expected ? grp.n / (P * Q) : r / (P * P) + m / (Q * Q);
    // dP and d2P over a, b, C, D; dP/dC from the accurate upper tail.
    const ResponseDerivatives dP = form_->derivatives(P0, C, D);
    const double A = dP.dP0, A_C = dP.dP0C, A_D = dP.dP0D;
    const double x = dosed ? grp.x : 0.0;
    const double v[4] = {A * f, A * f * x, exact_rate_derivative(P0, S0, D), dP.dD};
    const double U[4][4] = {{A * f1, A * f1 * x, A_C * f, A_D * f},
                            {A * f1 * x, A * f1 * x * x, A_C * f * x, A_D * f * x},
                            {A_C * f, A_C * f * x, 0.0, dP.dCD},
                            {A_D * f, A_D * f * x, dP.dCD, 0.0}};
    for (int u = 0; u < 4; ++u) {
      if (slot[u] == kAbsent) continue;
      const double grad_u = -c2 * v[u];
      if (slot[u] >= 0)
        t.g_local[slot[u]] += grad_u;
      else
        t.g_border[-1 - slot[u]] += grad_u;
      for (int w = 0; w < 4; ++w) {
        if (slot[w] == kAbsent) continue;
        const double h = c1 * v[u] * v[w] - c2 * U[u][w];
        if (slot[u] >= 0 && slot[w] >= 0)
          t.h_local[slot[u]][slot[w]] += h;
        else if (slot[u] >= 0)
          t.h_coupling[slot[u]][-1 - slot[w]] += h;
        else if (slot[w] < 0)
          t.h_border[-1 - slot[u]][-1 - slot[w]] += h;
      }
    }
  }
}

double LikelihoodKernel::preparation_terms(int prep, DRef p, PreparationTerms& terms,
                                           bool locals_only) const {
  preparation_groups_.fetch_add(
      prep_first_[static_cast<std::size_t>(prep) + 1] - prep_first_[static_cast<std::size_t>(prep)],
      std::memory_order_relaxed);
  double C = 0.0, D = 0.0;
  rates(p, &C, &D);
  if (!rates_in_space(p)) return kObjectiveCap;
  preparation_terms(prep, p[prep], p[slope_index(prep)], C, D, terms, false, locals_only);
  return terms.value;
}

void LikelihoodKernel::expected_information(DRef p, ArrowMatrix& I) {
  double C = 0.0, D = 0.0;
  rates(p, &C, &D);
  ++passes_;
  I.reset(layout_);
  const int G = layout_.globals();
  const int L = layout_.local;
  PreparationTerms t;
  for (int i = 1; i <= nprep_; ++i) {
    preparation_terms(i, p[i], p[slope_index(i)], C, D, t, true);
    for (int u = 0; u < L; ++u) {
      for (int w = 0; w < L; ++w) I.local(i, u, w) = t.h_local[u][w];
      for (int k = 0; k < G; ++k) I.coupling(i, u, k) = t.h_coupling[u][k];
    }
    for (int k = 0; k < G; ++k)
      for (int l = 0; l < G; ++l) I.global(k, l) += t.h_border[k][l];
  }
}

double LikelihoodKernel::value_gradient_hessian(DRef p, DRef g, ArrowMatrix& H,
                                                std::vector<PreparationTerms>* by_preparation) {
  double C = 0.0, D = 0.0;
  rates(p, &C, &D);
  if (!rates_in_space(p)) return kObjectiveCap;
  ++passes_;
  for (int e = 1; e <= npar_; ++e) g[e] = 0.0;
  if (H.layout().nprep != nprep_ || H.layout().local != layout_.local ||
      H.layout().globals() != layout_.globals())
    H.reset(layout_);
  else
    H.set_zero();
  if (by_preparation != nullptr) by_preparation->resize(static_cast<std::size_t>(nprep_) + 1);
  const int G = layout_.globals();
  const int L = layout_.local;

  for_blocks([&](int blk) {
    // The block's partial sums: objective, border gradient, border Hessian.
    double F = 0.0;
    double border_g[3] = {0.0, 0.0, 0.0};
    double border_h[3][3] = {};
    PreparationTerms t;
    for (int i = blocks_[blk].first_prep; i <= blocks_[blk].last_prep; ++i) {
      preparation_terms(i, p[i], p[slope_index(i)], C, D, t);
      if (by_preparation != nullptr) (*by_preparation)[static_cast<std::size_t>(i)] = t;
      F += t.value;
      if (F > kObjectiveCap) F = kObjectiveCap;
      for (int u = 0; u < L; ++u) {
        g[layout_.local_index(i, u)] = t.g_local[u];
        for (int w = 0; w < L; ++w) H.local(i, u, w) = t.h_local[u][w];
        for (int k = 0; k < G; ++k) H.coupling(i, u, k) = t.h_coupling[u][k];
      }
      for (int k = 0; k < G; ++k) {
        border_g[k] += t.g_border[k];
        for (int l = 0; l < G; ++l) border_h[k][l] += t.h_border[k][l];
      }
    }
    block_value_[blk] = F;
    std::vector<double>& partial = block_border_[blk];
    for (int k = 0; k < G; ++k) {
      partial[static_cast<std::size_t>(k)] = border_g[k];
      for (int l = 0; l < G; ++l) partial[static_cast<std::size_t>(G + k * G + l)] = border_h[k][l];
    }
  });
  double F = 0.0;
  for (std::size_t blk = 0; blk < blocks_.size(); ++blk) {
    F += block_value_[blk];
    if (F > kObjectiveCap) F = kObjectiveCap;
    const std::vector<double>& partial = block_border_[blk];
    for (int k = 0; k < G; ++k) {
      g[layout_.global_index[static_cast<std::size_t>(k)]] += partial[static_cast<std::size_t>(k)];
      for (int l = 0; l < G; ++l) H.global(k, l) += partial[static_cast<std::size_t>(G + k * G + l)];
    }
  }
  return F;
}

void LikelihoodKernel::exact_probability(const Group& g, double a, double b, double C, double D,
                                         double* P, double* Q) const {
  double P0 = 0.0, S0 = 1.0, f = 0.0;
  if (g.infinite_dose) {
    P0 = 1.0;
    S0 = 0.0;
  } else if (!g.zero_dose) {
    tolerance_cdf_exact(distribution_, a + b * g.x, &P0, &S0, &f);
  }
  form_->probability(P0, C, D, P, Q);
  if (*Q < kSubtractionDigitsLost) form_->probability(P0, S0, C, D, P, Q);
}

void LikelihoodKernel::values_by_preparation(DRef p, std::vector<double>& out) {
  ++passes_;
  out.assign(static_cast<std::size_t>(nprep_) + 1, 0.0);
  double C = 0.0, D = 0.0;
  rates(p, &C, &D);
  if (!rates_in_space(p)) {
    std::fill(out.begin(), out.end(), kObjectiveCap);
    return;
  }
  for_blocks([&](int blk) {
    for (int i = blocks_[blk].first_prep; i <= blocks_[blk].last_prep; ++i) {
      const double a = p[i];
      const double b = p[slope_index(i)];
      double F = 0.0;
      for (int j = prep_first_[i]; j < prep_first_[i + 1]; ++j) {
        const Group& g = groups_[static_cast<std::size_t>(j)];
        double P = 0.0, Q = 0.0;
        exact_probability(g, a, b, C, D, &P, &Q);
        F -= group_term({g.n, g.r, g.m, g.log_m, g.log_r, g.n_log_n}, P, Q);
      }
      out[static_cast<std::size_t>(i)] = F;
    }
  });
}

void LikelihoodKernel::information_sums(DRef p, std::vector<InformationSums>& sums) {
  ++passes_;
  sums.assign(static_cast<std::size_t>(nprep_) + 1, InformationSums{});
  // The rates as the fit left them.
  double C = form_->known_c() ? fixed_c_ : 0.0, D = 0.0;
  if (c_index_ != 0) C = p[c_index_];
  if (d_index_ != 0) D = p[d_index_];
  for_blocks([&](int blk) {
    for (int i = blocks_[blk].first_prep; i <= blocks_[blk].last_prep; ++i) {
      InformationSums& S = sums[static_cast<std::size_t>(i)];
      const double a = p[i];
      const double b = p[slope_index(i)];
      for (int j = prep_first_[i]; j < prep_first_[i + 1]; ++j) {
        const Group& grp = groups_[static_cast<std::size_t>(j)];
        const double x = grp.x;
        const double n = grp.n;
        // The exact probabilities: both tails keep their relative accuracy,
        // so a group far out in a tail adds the little information it
        // holds (a floored P would add n f^2 / floor).
        double P0 = 0.0, S0 = 1.0, f = 0.0, Pm = 0.0, Qm = 0.0;
        if (grp.infinite_dose) {
          P0 = 1.0;
          S0 = 0.0;
        } else if (!grp.zero_dose) {
          tolerance_cdf_exact(distribution_, a + b * x, &P0, &S0, &f);
        }
        // A zero or infinite dose has f = 0: it carries no information on
        // a and b. The density at its floor keeps the C and D terms, which
        // are formed by dividing by f, finite.
        if (f < kProbabilityFloor) f = kProbabilityFloor;
        form_->probability(P0, C, D, &Pm, &Qm);
        if (Qm < kSubtractionDigitsLost) form_->probability(P0, S0, C, D, &Pm, &Qm);
        // dP/dP0, and the derivatives of P in C and D divided by f.
        const ResponseDerivatives dP = form_->derivatives(P0, C, D);
        const double w0 = dP.dP0;
        const double gC = dP.dC / f;
        const double gD = dP.dD / f;
        const double w = w0 * w0 * f * f * n / Pm / Qm;
        S.Sw += w;
        S.Sx += w * x;
        S.Sxx += w * x * x;
        if (form_->extra_count() == 0) continue;
        S.SC += w * gC / w0;
        S.SCx += w * gC * x / w0;
        S.SCC += w * gC * gC / w0 / w0;
        S.SD += w * gD / w0;
        S.SDx += w * gD * x / w0;
        S.SDD += w * gD * gD / w0 / w0;
        S.SCD += w * gD * gC / w0 / w0;
      }
    }
  });
}

}  // namespace varnalo
