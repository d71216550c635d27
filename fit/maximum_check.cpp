// Check of a fit's end point, and search for a better one.
//
// Method. The end point is first certified or polished: projected Newton
// steps on the exact likelihood through the arrow Hessian
// (fit/projected_newton.cpp) stop at once when the point is a local
// maximum (free Hessian positive definite, no gain promised, rates on a
// bound pushed out of the space) and otherwise climb to one. With the
// probit, logit or complementary log-log tolerance and no rates the
// log-likelihood is concave in the lines (the three distribution functions
// are log-concave; Wedderburn, Biometrika 63 (1976) 27-32), so that maximum
// is the maximum. With C, D or a known C it can have several: a steep curve
// with large rates against a shallow one with small rates, or, under a
// common slope, the curve of a preparation with sparse data settling
// between any two of its doses. They are found by the structure of the
// problem rather than by many full searches:
// - the profile over the rates: with C and D fixed on a grid the lines
//   alone are fitted, warm-started along the grid. Under separate slopes
//   the preparations are then independent: each climbs its own likelihood
//   (O(its groups) a step) from the warm line, the regression line at those
//   rates and the warm line made steeper and shallower about its ED50, and
//   keeps its best. Under a common slope the lines are one arrow system;
//   every curve is made steeper and shallower together later;
//   Under a common slope the scan of the slope (every curve steeper and
//   shallower about its ED50) runs at the best grid points and on a
//   coarser grid of the rates, and a steeper curve's intercept is also
//   started in each gap between its doses and half a gap beyond each end:
//   with a large rate a shallow preparation's responses can be the rate's
//   and its curve a step anywhere among its doses. A known C alone is a
//   grid of one point;
// - the best grid points polished with the rates free;
// - around the best maximum (or the end point, where it is no maximum: a
//   curve may lie flat under a known C), each preparation's curve moved on
//   its own (to stand with its ED50 at each of its doses, a curve that fell
//   the wrong way also rising; with a slope of its own, steeper and
//   shallower), each start climbing that preparation's own likelihood with
//   everything else held; an alternative is polished only when the
//   quadratic model of the whole objective there (the arrow Hessian with
//   that preparation's terms replaced, one Newton step of all entries,
//   O(preparations)) promises a higher maximum, and every preparation's
//   most promising move is also polished at once (their gains nearly add
//   up); repeated while it finds one.
// The same rules at every size. A point on a ridge that rises towards a
// step (complete or quasi-complete separation: the likelihood has no finite
// maximum) is no candidate: making every curve twice as steep about its
// ED50 does not lower it.
//
// A rate the maximiser left a rounding error above 0 where the maximum lies
// on the bound is put on the bound (see put_rates_on_bound).
//
// Accuracy: a point is taken as a maximum when a Newton step promises less
// than kCertifiedGain (1e-11) of |^L|; a better point replaces the end point
// only when it raises ^L by more than kKeepGain of |^L| (and by a
// printable amount).
#include "fit/maximum_check.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include <tbb/parallel_for.h>

#include "fit/projected_newton.h"
#include "model/initial_values.h"
#include "model/likelihood.h"
#include "model/model_family.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

// Starting rates of the profile: C and D on this grid (with separate slopes
// 1 per cent apart from 0: a small natural response can absorb a few early
// responders of one preparation and let its curve be steep, where 5 per
// cent already makes it a step).
constexpr double kGridRates[] = {0.0, 0.01, 0.05, 0.15, 0.3, 0.5};
// The grid value that only separate slopes take (see grid_rates).
constexpr double kFineRate = 0.01;
// Multiples of a slope about the ED50s, tried for each preparation of a
// profile point (separate slopes), for all curves together (common slope)
// and in the moves of one preparation: with C or D the higher maximum often
// has a much steeper (or shallower) curve than the regression suggests.
constexpr double kSteepness[] = {0.25, 0.5, 2.0, 4.0, 8.0, 16.0};
// Factors of the common slope in its scan (1 is the point itself).
constexpr double kSlopeScan[] = {0.125, 0.25, 0.5, 1.0, 2.0, 4.0, 8.0, 16.0, 32.0, 64.0, 128.0};
// Grid points polished with the rates free, and maxima (besides the end
// point's) whose curves are all made steeper and shallower together.
constexpr std::size_t kBestGridPoints = 3;
constexpr std::size_t kSteepnessBases = 1;
// Two points are the same maximum when every entry agrees to this
// fraction of max(1, |entry|).
constexpr double kSamePoint = 1e-6;
// Data with no finite maximum (complete or quasi-complete separation) let
// the likelihood rise towards a step: making every curve twice as steep
// about its own ED50 (all intercepts and slopes doubled) does not lower it
// by more than this fraction of max(F, 1). At a maximum it falls by a
// sizeable amount.
constexpr double kRidgeTolerance = 1e-6;
// The coarser grid of rates (a subset of kGridRates) at whose every point
// the common slope is scanned, besides the best points of the profile.
constexpr double kScanRates[] = {0.0, 0.15, 0.5};
// Gaps of a preparation's doses whose starts climb in the slope scan (the
// best by the share where they start).
constexpr std::size_t kClimbedGaps = 2;
// Rates below this print as 0 (with seven decimals); one there whose
// maximum lies on the bound is put on it.
constexpr double kRateAtBound = 5e-8;
// Newton iterations of a profile point (warm-started, it needs a few).
constexpr int kProfileIterations = 30;
// Positions tried per preparation in its moves: its doses, at most this
// many (evenly chosen when it has more: a preparation with many doses has
// no sparse gaps for its curve to settle in).
constexpr int kMaxPositions = 16;
// Newton steps of one preparation's own entries: a climb still rising after
// these runs up a ridge towards a step (its curve has no finite best).
constexpr int kLocalIterations = 15;
// A curvature below this fraction of the largest counts as none; the shift
// that makes an indefinite block positive definite leaves this fraction of
// the largest eigenvalue above 0.
constexpr double kLocalCurvatureFloor = 1e-10;
constexpr double kLocalShift = 1e-3;
// Armijo constant and halvings of a step of one preparation's entries.
constexpr double kSufficientDecrease = 1e-4;
constexpr int kMaxHalvings = 30;
// Alternatives polished per round of moves, and rounds (a round repeats
// from the better maximum its polish found).
constexpr std::size_t kMovePolishes = 3;
constexpr int kMoveRounds = 8;
// Pivot floor of the quadratic model's factorisation (see
// fit/projected_newton.cpp).
constexpr double kModelPivotFloor = 1e-13;

using Point = std::vector<double>;  // entries 1..N at [0..N-1]

struct Candidate {
  double f;
  Point x;
};

std::size_t at(int index) { return static_cast<std::size_t>(index) - 1; }

// Runs body(i) for the preparations 1..nprep on as many threads as there
// are; each call writes only its own preparation's results.
template <typename Body>
void for_preparations(int nprep, Body body) {
  tbb::parallel_for(1, nprep + 1, [&](int i) { body(i); });
}

bool same_point(const Point& a, const Point& b) {
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::fabs(a[i] - b[i]) > kSamePoint * std::max(1.0, std::fabs(a[i]))) return false;
  return true;
}

// Keeps the n best distinct candidates, best first.
void keep_best(std::vector<Candidate>& list, std::size_t n) {
  std::sort(list.begin(), list.end(), [](const Candidate& a, const Candidate& b) { return a.f < b.f; });
  std::vector<Candidate> kept;
  for (const Candidate& c : list) {
    if (kept.size() == n) break;
    bool distinct = true;
    for (const Candidate& k : kept) distinct = distinct && !same_point(k.x, c.x);
    if (distinct) kept.push_back(c);
  }
  list = kept;
}

const Candidate& best_of(const std::vector<Candidate>& list) {
  return *std::min_element(list.begin(), list.end(),
                           [](const Candidate& a, const Candidate& b) { return a.f < b.f; });
}

// The state, the kernel and a work vector of one check.
class Search {
 public:
  Search(AnalysisState& s, DRef end)
      : s_(s), kernel_(fit_kernel(s)), N_(s.param_capacity()), rates_(rate_indices(s)) {
    work_ = dvector(1, N_);
    end_.assign(&end[1], &end[1] + N_);
  }
  ~Search() { dvector_free(work_, 1, N_); }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  // Newton from x (rates, and a common slope, held or free); the point
  // reached and its value. True when it is a maximum not on a ridge.
  bool polish(Point& x, double* f, bool hold_rates = false, bool hold_slope = false,
              int iterations = 60) {
    load(x);
    NewtonOptions options;
    options.hold_rates = hold_rates;
    options.hold_common_slope = hold_slope;
    options.max_iterations = iterations;
    const NewtonSummary result = projected_newton(kernel_, s_, work_, options);
    if (polishes_ == 0) certified_at_start_ = result.certified_at_start;
    ++polishes_;
    store(x);
    *f = result.value;
    return result.converged() && !on_a_ridge(x, result.value);
  }

  // Whether x lies on a ridge that rises towards a step.
  bool on_a_ridge(const Point& x, double f) {
    load(x);
    for (int i = 1; i <= s_.nprep + s_.nslopes; ++i) work_[i] *= 2.0;
    const double f_steeper = kernel_.value(LikelihoodForm::kExact, work_);
    return f_steeper <= f + kRidgeTolerance * std::max(f, 1.0);
  }

  // The regression lines at rates (C, D), and those rates.
  Point regression(double C, double D) {
    load(end_);
    const double C0 = rates_.c != 0 ? C : (known_c() ? s_.fixed_c : 0.0);
    regression_lines(s_, work_, C0, D);
    set_rates(work_, C, D);
    Point x;
    store(x);
    return x;
  }

  // Of the ED50 positions given, the `keep` where preparation i's share of
  // the objective (x's other entries, its slope b) is least, best first.
  std::vector<double> best_starts(const Point& x, int i, double b, const std::vector<double>& positions,
                                  std::size_t keep) const {
    if (positions.size() <= keep) return positions;
    DVector work = dvector(1, N_);
    for (int k = 1; k <= N_; ++k) work[k] = x[at(k)];
    if (s_.nslopes > 1) work[slope_of(i)] = b;
    std::vector<std::pair<double, double>> ranked;
    PreparationTerms t;
    for (double position : positions) {
      work[i] = -b * position;
      const double share = kernel_.preparation_terms(i, work, t, true);
      ranked.emplace_back(std::isfinite(share) ? share : HUGE_VAL, position);
    }
    dvector_free(work, 1, N_);
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& u, const auto& v) { return u.first < v.first; });
    std::vector<double> best;
    for (std::size_t q = 0; q < keep; ++q) best.push_back(ranked[q].second);
    return best;
  }

  // Climbs from (a, b) to a maximum of preparation i's own share of the
  // objective, every other entry of x held (the slope too under a common
  // slope). Returns that share.
  double climb(const Point& x, int i, double* a, double* b) const {
    // A vector of its own: preparations climb on several threads at once.
    DVector work = dvector(1, N_);
    for (int k = 1; k <= N_; ++k) work[k] = x[at(k)];
    const double value = climb_in(work, i, a, b);
    dvector_free(work, 1, N_);
    return value;
  }

 private:
  double climb_in(DRef work, int i, double* a, double* b) const {
    const int slope = slope_of(i);
    const bool two = s_.nslopes > 1;
    work[i] = *a;
    if (two) work[slope] = *b;
    PreparationTerms t;
    double value = kernel_.preparation_terms(i, work, t, true);
    for (int it = 0; it < kLocalIterations; ++it) {
      const double g0 = t.g_local[0], g1 = two ? t.g_local[1] : 0.0;
      double d0 = 0.0, d1 = 0.0;
      if (!two) {
        // Newton, or a step of one unit of curvature where there is none.
        const double h = t.h_local[0][0];
        d0 = h > 0.0 ? -g0 / h : -g0 / (1.0 + std::fabs(h));
      } else {
        // Newton with the block shifted to be positive definite where it is
        // not (Levenberg-Marquardt): the shift just exceeds the most
        // negative eigenvalue.
        const double h00 = t.h_local[0][0], h01 = t.h_local[0][1], h11 = t.h_local[1][1];
        const double mean = 0.5 * (h00 + h11);
        const double radius = std::hypot(0.5 * (h00 - h11), h01);
        const double smallest = mean - radius, largest = mean + radius;
        double shift = 0.0;
        if (!(smallest > kLocalCurvatureFloor * std::fabs(largest)))
          shift = -smallest + kLocalShift * std::max(std::fabs(largest), 1.0);
        const double k00 = h00 + shift, k11 = h11 + shift;
        const double det = k00 * k11 - h01 * h01;
        d0 = -(k11 * g0 - h01 * g1) / det;
        d1 = -(k00 * g1 - h01 * g0) / det;
      }
      const double slope_of_step = g0 * d0 + g1 * d1;
      if (!(slope_of_step < 0.0) ||
          -slope_of_step <= kCertifiedGain * std::max(1.0, std::fabs(value)))
        break;
      double step = 1.0, trial = value;
      bool accepted = false;
      PreparationTerms u;
      for (int k = 0; k < kMaxHalvings; ++k, step *= 0.5) {
        work[i] = *a + step * d0;
        if (two) work[slope] = *b + step * d1;
        trial = kernel_.preparation_terms(i, work, u, true);
        if (trial <= value + kSufficientDecrease * step * slope_of_step) {
          accepted = true;
          break;
        }
      }
      if (!accepted) break;
      t = u;
      *a = work[i];
      if (two) *b = work[slope];
      value = trial;
    }
    return value;
  }

 public:
  // What one Newton step of every entry from x promises: the value of the
  // quadratic model of the objective at its minimum (x's value where the
  // model has none: its Hessian is not positive definite there).
  double promise(const Point& x) {
    load(x);
    const ArrowLayout& layout = kernel_.layout();
    const int G = layout.globals();
    DVector g = dvector(1, N_), step = dvector(1, N_);
    ArrowMatrix H(layout);
    const double F = kernel_.value_gradient_hessian(work_, g, H);
    double value = F;
    // Rates on a bound that x presses against stay there.
    std::vector<bool> held(static_cast<std::size_t>(G), false);
    for (int k = 0; k < G; ++k) {
      const int e = layout.global_index[static_cast<std::size_t>(k)];
      if ((e == rates_.c || e == rates_.d) && work_[e] <= 0.0 && g[e] >= 0.0)
        held[static_cast<std::size_t>(k)] = true;
    }
    if (F < HUGE_VAL && H.factor(held, kModelPivotFloor)) {
      for (int e = 1; e <= N_; ++e) g[e] = -g[e];
      H.solve(g, step);
      double gain = 0.0;
      for (int e = 1; e <= s_.npar; ++e) gain += g[e] * step[e];
      if (gain > 0.0) value -= 0.5 * gain;
    }
    dvector_free(g, 1, N_);
    dvector_free(step, 1, N_);
    return value;
  }

  const Point& end() const { return end_; }
  // Newton runs so far, and whether the first one certified its start.
  int polishes() const { return polishes_; }
  bool certified_at_start() const { return certified_at_start_; }
  LikelihoodKernel& kernel() { return kernel_; }
  // x loaded into the work vector.
  DRef work(const Point& x) {
    load(x);
    return work_;
  }
  RateIndices rates() const { return rates_; }
  bool known_c() const { return model_form(s_).known_c(); }
  int slope_of(int prep) const { return s_.nslopes > 1 ? s_.nprep + prep : s_.nprep + 1; }
  void set_rates(DRef x, double C, double D) const {
    if (rates_.c != 0) x[rates_.c] = C;
    if (rates_.d != 0) x[rates_.d] = D;
  }
  void set_rates(Point& x, double C, double D) const {
    if (rates_.c != 0) x[at(rates_.c)] = C;
    if (rates_.d != 0) x[at(rates_.d)] = D;
  }

 private:
  void load(const Point& x) {
    for (int i = 1; i <= N_; ++i) work_[i] = x[at(i)];
  }
  void store(Point& x) { x.assign(&work_[1], &work_[1] + N_); }

  AnalysisState& s_;
  LikelihoodKernel& kernel_;
  int N_;
  RateIndices rates_;
  DVector work_;
  Point end_;
  int polishes_ = 0;
  bool certified_at_start_ = false;
};

// The grid of starting rates: (C, D) for a model with both (C + D below 1
// where both enter P = C + (1 - C - D) P0), one rate over the grid for a
// model with one, a single point for a model without (a known C).
std::vector<std::pair<double, double>> grid_rates(const AnalysisState& s, RateIndices rates) {
  std::vector<std::pair<double, double>> grid;
  const bool sum_below_one = model_form(s).rates_share_population();
  for (double c : kGridRates) {
    if (rates.c == 0 && c != kGridRates[0]) break;
    for (double d : kGridRates) {
      if (rates.d == 0 && d != kGridRates[0]) break;
      if (sum_below_one && c + d >= 1.0) continue;
      // Under a common slope the rates rest on every preparation's data and
      // the grid's first step is 5 per cent.
      if (s.nslopes == 1 && (c == kFineRate || d == kFineRate)) continue;
      grid.emplace_back(c, d);
    }
  }
  return grid;
}

// x with every curve (all intercepts and slopes) made `scale` times as
// steep about its ED50.
Point steeper(const AnalysisState& s, Point x, double scale) {
  for (int i = 1; i <= s.nprep + s.nslopes; ++i) x[at(i)] *= scale;
  return x;
}

// Under separate slopes, each preparation's best line at x's rates, its
// own likelihood climbed from the lines of `starts` (and, when steep, from
// the best of those made steeper and shallower about its ED50).
Candidate separate_lines(Search& search, AnalysisState& s, const Point& x,
                         const std::vector<const Point*>& starts, bool steep) {
  Point best = x;
  std::vector<double> shares(static_cast<std::size_t>(s.nprep) + 1, 0.0);
  // Each preparation on its own, on as many threads as there are; the
  // shares are added in preparation order after.
  for_preparations(s.nprep, [&](int i) {
    const int slope = search.slope_of(i);
    double best_share = HUGE_VAL, best_a = x[at(i)], best_b = x[at(slope)];
    auto from = [&](double a, double b) {
      const double share = search.climb(x, i, &a, &b);
      if (share < best_share && std::isfinite(a) && std::isfinite(b)) {
        best_share = share;
        best_a = a;
        best_b = b;
      }
    };
    for (const Point* start : starts) from((*start)[at(i)], (*start)[at(slope)]);
    if (steep) {
      const double a0 = best_a, b0 = best_b;
      for (double scale : kSteepness) from(a0 * scale, b0 * scale);
    }
    best[at(i)] = best_a;
    best[at(slope)] = best_b;
    shares[static_cast<std::size_t>(i)] = best_share;
  });
  double total = 0.0;
  for (int i = 1; i <= s.nprep; ++i) total += shares[static_cast<std::size_t>(i)];
  return {total, best};
}

// The kBestGridPoints best points of a profile's grid, and the best of
// each value of the first rate (a steep line may exist only with some
// natural response).
std::vector<Candidate> best_of_rows(const Search& search, const std::vector<Candidate>& grid) {
  const RateIndices rates = search.rates();
  std::vector<Candidate> chosen = grid;
  keep_best(chosen, kBestGridPoints);
  const int first_rate = rates.c != 0 ? rates.c : rates.d;
  if (first_rate == 0) return chosen;
  for (double value : kGridRates) {
    std::vector<Candidate> row;
    for (const Candidate& g : grid)
      if (g.x[at(first_rate)] == value) row.push_back(g);
    if (row.empty()) continue;
    const Candidate& best = best_of(row);
    if (std::none_of(chosen.begin(), chosen.end(), [&](const Candidate& c) { return same_point(c.x, best.x); }))
      chosen.push_back(best);
  }
  return chosen;
}

// The profile over the rates under separate slopes: the preparations are
// independent with the rates fixed; at every grid point each fits its line
// from the warm line and the regression line, and at the best grid points
// also from those made steeper and shallower.
std::vector<Candidate> separate_profile(Search& search, AnalysisState& s) {
  std::vector<Candidate> grid;
  Point warm = search.end();
  for (const auto& [c, d] : grid_rates(s, search.rates())) {
    search.set_rates(warm, c, d);
    const Point regression = search.regression(c, d);
    const Candidate lines = separate_lines(search, s, warm, {&warm, &regression}, false);
    grid.push_back(lines);
    warm = lines.x;
  }
  // The steeper and shallower lines at the best grid point of each value
  // of the first rate (a steep line may exist only with some natural
  // response), and at the best points overall.
  std::vector<Candidate> chosen = best_of_rows(search, grid);
  for (Candidate& g : chosen) {
    g = separate_lines(search, s, g.x, {&g.x}, true);
  }
  return chosen;
}

// The middles of the gaps between preparation i's distinct log doses
// (controls and infinite doses aside) and half a gap beyond each end, at
// most kMaxPositions of them, evenly chosen.
std::vector<double> gap_middles(AnalysisState& s, int i) {
  std::vector<double> doses;
  for (int j = 1; j <= s.ngroups[i]; ++j) {
    const double dose = s.groups[i][j][1];
    if (dose > kZeroDoseLog && dose < kInfiniteDoseLog) doses.push_back(dose);
  }
  std::sort(doses.begin(), doses.end());
  doses.erase(std::unique(doses.begin(), doses.end()), doses.end());
  std::vector<double> middles;
  if (doses.size() < 2) return middles;
  // Beyond the lowest and the highest dose too: a curve whose responses a
  // known or large natural rate explains can stand past the last dose.
  middles.push_back(doses[0] - 0.5 * (doses[1] - doses[0]));
  for (std::size_t j = 1; j < doses.size(); ++j) middles.push_back(0.5 * (doses[j - 1] + doses[j]));
  middles.push_back(doses.back() + 0.5 * (doses.back() - doses[doses.size() - 2]));
  if (middles.size() <= static_cast<std::size_t>(kMaxPositions)) return middles;
  std::vector<double> chosen;
  for (int q = 0; q < kMaxPositions; ++q)
    chosen.push_back(middles[static_cast<std::size_t>(q) * (middles.size() - 1) / (kMaxPositions - 1)]);
  return chosen;
}

// The profile over the common slope at x's rates: every curve made
// steeper or shallower about its ED50 by each factor of kSlopeScan, each
// intercept then fitted to its own preparation (independent problems given
// the slope and the rates). Returns the points at the scan's local minima
// other than x itself, best first.
std::vector<Candidate> slope_scan(Search& search, AnalysisState& s, const Point& x,
                                  bool every_point = false) {
  std::vector<Candidate> scan;
  for (double scale : kSlopeScan) {
    Point y = steeper(s, x, scale);
    const Point scaled = y;
    std::vector<double> shares(static_cast<std::size_t>(s.nprep) + 1, 0.0);
    for_preparations(s.nprep, [&](int i) {
      const double b = scaled[at(s.nprep + 1)];
      double best_a = scaled[at(i)], best_b = b;
      double best = search.climb(scaled, i, &best_a, &best_b);
      // A steeper curve can settle in any gap between the doses: its ED50
      // is also started in the middle of each (of up to kMaxPositions).
      // Only the kClimbedGaps best of them (by the share where they start)
      // climb: with a steep curve the share hardly moves within a gap.
      if (scale > 1.0)
        for (double position : search.best_starts(scaled, i, b, gap_middles(s, i), kClimbedGaps)) {
          double a = -b * position, b_held = b;
          const double share = search.climb(scaled, i, &a, &b_held);
          if (share < best && std::isfinite(a)) {
            best = share;
            best_a = a;
          }
        }
      shares[static_cast<std::size_t>(i)] = best;
      y[at(i)] = best_a;
    });
    double total = 0.0;
    for (int i = 1; i <= s.nprep; ++i) total += shares[static_cast<std::size_t>(i)];
    scan.push_back({total, y});
  }
  std::vector<Candidate> minima;
  if (every_point) {
    for (std::size_t k = 0; k < scan.size(); ++k)
      if (kSlopeScan[k] != 1.0 && std::isfinite(scan[k].f)) minima.push_back(scan[k]);
    return minima;
  }
  for (std::size_t k = 0; k < scan.size(); ++k) {
    const bool lower_than_left = k == 0 || scan[k].f < scan[k - 1].f;
    const bool lower_than_right = k + 1 == scan.size() || scan[k].f <= scan[k + 1].f;
    if (lower_than_left && lower_than_right && kSlopeScan[k] != 1.0 && std::isfinite(scan[k].f))
      minima.push_back(scan[k]);
  }
  std::sort(minima.begin(), minima.end(), [](const Candidate& a, const Candidate& b) { return a.f < b.f; });
  return minima;
}

// The profile over the rates under a common slope: the lines as one arrow
// system at each grid point, from the warm lines and the regression lines;
// at the best grid points also from the minima of the slope scan.
std::vector<Candidate> common_profile(Search& search, AnalysisState& s) {
  std::vector<Candidate> grid;
  Point warm = search.end();
  for (const auto& [c, d] : grid_rates(s, search.rates())) {
    search.set_rates(warm, c, d);
    Candidate best{HUGE_VAL, warm};
    for (Point start : {warm, search.regression(c, d)}) {
      double f = 0.0;
      // A profile point need not be a maximum of its own (with the rates
      // held a curve may run to a step): any finite value guides the
      // search, the polish with the rates free decides.
      search.polish(start, &f, true, false, kProfileIterations);
      if (std::isfinite(f) && f < best.f) best = {f, start};
    }
    if (!std::isfinite(best.f)) continue;
    grid.push_back(best);
    warm = best.x;
  }
  // The slope scan at the best grid points, the best of each value of the
  // first rate and every point of the coarser grid of kScanRates: with a
  // large natural response a shallow preparation's responses can be the
  // rate's, and the common slope that of the steep preparations, a maximum
  // the lines fitted at that grid point do not reach (nor those of its best
  // neighbours).
  std::vector<Candidate> best_points = best_of_rows(search, grid);
  const RateIndices rates = search.rates();
  auto on_scan_grid = [&](int e, const Point& x) {
    return e == 0 || std::find(std::begin(kScanRates), std::end(kScanRates), x[at(e)]) !=
                         std::end(kScanRates);
  };
  for (const Candidate& g : grid)
    if (on_scan_grid(rates.c, g.x) && on_scan_grid(rates.d, g.x) &&
        std::none_of(best_points.begin(), best_points.end(), [&](const Candidate& c) { return same_point(c.x, g.x); }))
      best_points.push_back(g);
  for (const Candidate& g : best_points)
    for (Candidate c : slope_scan(search, s, g.x)) {
      double f = 0.0;
      search.polish(c.x, &f, true, false, kProfileIterations);
      if (std::isfinite(f)) grid.push_back({f, c.x});
    }
  return grid;
}

// Each preparation's curve moved on its own around the maximum `base`;
// the maxima that the alternatives promising more than `beat` lead to.
std::vector<Candidate> preparation_moves(Search& search, AnalysisState& s, const Candidate& base,
                                         double beat) {
  LikelihoodKernel& kernel = search.kernel();
  const ArrowLayout& layout = kernel.layout();
  const int N = s.param_capacity();
  const int L = layout.local, G = layout.globals();
  const RateIndices rates = search.rates();
  DVector g0 = dvector(1, N), g1 = dvector(1, N), step = dvector(1, N);
  ArrowMatrix H0(layout), H1(layout);
  std::vector<PreparationTerms> terms0;
  DRef x = search.work(base.x);
  const double F0 = kernel.value_gradient_hessian(x, g0, H0, &terms0);
  // Rates on a bound that the base point presses against stay there.
  std::vector<bool> held(static_cast<std::size_t>(G), false);
  for (int k = 0; k < G; ++k) {
    const int e = layout.global_index[static_cast<std::size_t>(k)];
    if ((e == rates.c || e == rates.d) && x[e] <= 0.0 && g0[e] >= 0.0)
      held[static_cast<std::size_t>(k)] = true;
  }

  struct Move {
    double promise;
    int prep;
    double a, b;
  };
  std::vector<Move> moves;
  // Each preparation's other curves, on as many threads as there are.
  std::vector<std::vector<std::pair<double, double>>> optima_of(static_cast<std::size_t>(s.nprep) + 1);
  for_preparations(s.nprep, [&](int i) {
    const int slope = search.slope_of(i);
    const double a0 = base.x[at(i)], b0 = base.x[at(slope)];
    // The starts: ED50 at (up to kMaxPositions of) the doses, and, with a
    // slope of its own, the curve steeper and shallower about its ED50.
    std::vector<std::pair<double, double>> starts;
    std::vector<double> doses;
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      const double dose = s.groups[i][j][1];
      if (dose > kZeroDoseLog && dose < kInfiniteDoseLog) doses.push_back(dose);
    }
    const std::size_t count = std::min<std::size_t>(doses.size(), kMaxPositions);
    for (std::size_t q = 0; q < count; ++q) {
      const std::size_t pick = count == doses.size() ? q : q * (doses.size() - 1) / (count - 1);
      starts.emplace_back(-b0 * doses[pick], b0);
      // With a slope of its own, a curve that fell the wrong way (a known
      // C above its lowest responses can turn it) is also started rising,
      // and rising steeply.
      if (L == 2 && b0 < 0.0)
        for (double b : {-b0, -kSteepness[std::size(kSteepness) - 1] * b0})
          starts.emplace_back(-b * doses[pick], b);
    }
    if (L == 2)
      for (double scale : kSteepness) starts.emplace_back(a0 * scale, b0 * scale);
    std::vector<std::pair<double, double>>& optima = optima_of[static_cast<std::size_t>(i)];
    auto same = [](double u, double v) {
      return std::fabs(u - v) <= kSamePoint * std::max(1.0, std::fabs(v));
    };
    for (auto [a, b] : starts) {
      search.climb(base.x, i, &a, &b);
      bool seen = same(a, a0) && same(b, b0);
      for (const auto& [oa, ob] : optima) seen = seen || (same(a, oa) && same(b, ob));
      if (!seen && std::isfinite(a) && std::isfinite(b)) optima.emplace_back(a, b);
    }
  });
  for (int i = 1; i <= s.nprep; ++i) {
    const int slope = search.slope_of(i);
    for (const auto& [a, b] : optima_of[static_cast<std::size_t>(i)]) {
      // The whole objective's quadratic model with this curve.
      x = search.work(base.x);
      x[i] = a;
      if (L == 2) x[slope] = b;
      PreparationTerms t;
      kernel.preparation_terms(i, x, t);
      const PreparationTerms& t0 = terms0[static_cast<std::size_t>(i)];
      H1 = H0;
      for (int e = 1; e <= N; ++e) g1[e] = g0[e];
      for (int u = 0; u < L; ++u) {
        g1[layout.local_index(i, u)] = t.g_local[u];
        for (int w = 0; w < L; ++w) H1.local(i, u, w) = t.h_local[u][w];
        for (int k = 0; k < G; ++k) H1.coupling(i, u, k) = t.h_coupling[u][k];
      }
      for (int k = 0; k < G; ++k) {
        g1[layout.global_index[static_cast<std::size_t>(k)]] += t.g_border[k] - t0.g_border[k];
        for (int l = 0; l < G; ++l) H1.global(k, l) += t.h_border[k][l] - t0.h_border[k][l];
      }
      double promise = F0 - t0.value + t.value;
      if (H1.factor(held, kModelPivotFloor)) {
        for (int e = 1; e <= N; ++e) g1[e] = -g1[e];
        H1.solve(g1, step);
        double gain = 0.0;
        for (int e = 1; e <= s.npar; ++e) gain += g1[e] * step[e];
        if (gain > 0.0) promise -= 0.5 * gain;
      }
      if (promise < beat) moves.push_back({promise, i, a, b});
    }
  }
  dvector_free(g0, 1, N);
  dvector_free(g1, 1, N);
  dvector_free(step, 1, N);

  std::sort(moves.begin(), moves.end(),
            [](const Move& m, const Move& n) { return m.promise < n.promise; });
  std::vector<Candidate> found;
  // Every preparation's most promising move at once: the preparations
  // share only the border, so the gains of moves of different ones nearly
  // add up, and data with many preparations often need several moved.
  std::vector<bool> moved(static_cast<std::size_t>(s.nprep) + 1, false);
  Point together = base.x;
  int count = 0;
  for (const Move& m : moves) {
    if (moved[static_cast<std::size_t>(m.prep)]) continue;
    moved[static_cast<std::size_t>(m.prep)] = true;
    together[at(m.prep)] = m.a;
    if (L == 2) together[at(search.slope_of(m.prep))] = m.b;
    ++count;
  }
  if (count > 1) {
    double f = 0.0;
    if (search.polish(together, &f)) found.push_back({f, together});
  }
  for (std::size_t q = 0; q < moves.size() && q < kMovePolishes; ++q) {
    Point y = base.x;
    y[at(moves[q].prep)] = moves[q].a;
    if (L == 2) y[at(search.slope_of(moves[q].prep))] = moves[q].b;
    double f = 0.0;
    if (search.polish(y, &f)) found.push_back({f, y});
  }
  return found;
}

// Maxima other than the end point's, where the model allows several.
// `start` is the end point as its polish left it, a maximum or not (the
// moves and the scan start from it when nothing else was found).
void other_maxima(Search& search, AnalysisState& s, double needed, const Candidate& start,
                  std::vector<Candidate>& found) {
  const std::optional<Candidate> end_point =
      found.empty() ? std::nullopt : std::optional<Candidate>(found.front());
  const Candidate* end_maximum = end_point ? &*end_point : nullptr;
  const RateIndices rates = search.rates();
  const bool has_rates = rates.c != 0 || rates.d != 0;
  if (!has_rates && !search.known_c()) return;

  // The profile over the rates (with a known C alone, its one point: the
  // lines at that C, where the end point may have left a curve flat under
  // the known responses); its best points polished with the rates free.
  {
    std::vector<Candidate> grid =
        s.nslopes > 1 ? separate_profile(search, s) : common_profile(search, s);
    keep_best(grid, kBestGridPoints);
    for (Candidate c : grid) {
      double f = 0.0;
      if (search.polish(c.x, &f)) found.push_back({f, c.x});
    }
  }
  // The best maximum so far, or the end point where there is none yet (a
  // curve of it may lie flat under the rates, off any maximum).
  auto top_of = [&]() { return found.empty() ? start : best_of(found); };
  if (!std::isfinite(start.f) && found.empty()) return;

  // Under a common slope, the slope scan at the end point's maximum and the
  // best one so far, its minima polished with everything free.
  if (s.nslopes == 1) {
    std::vector<Candidate> bases = found.empty() ? std::vector<Candidate>{start} : found;
    keep_best(bases, kSteepnessBases);
    if (end_maximum != nullptr && std::none_of(bases.begin(), bases.end(), [&](const Candidate& c) {
          return same_point(c.x, end_maximum->x);
        }))
      bases.push_back(*end_maximum);
    // Every scan point whose quadratic model (the rates free) promises a
    // higher maximum: a steeper curve often pays only once the rates follow.
    for (const Candidate& base : bases)
      for (Candidate c : slope_scan(search, s, base.x, true)) {
        if (!(search.promise(c.x) < top_of().f - needed)) continue;
        double f = 0.0;
        if (search.polish(c.x, &f)) found.push_back({f, c.x});
      }
  }

  // Each preparation's curve moved on its own, while that finds more.
  for (int round = 0; round < kMoveRounds; ++round) {
    const Candidate top = top_of();
    std::vector<Candidate> moved = preparation_moves(search, s, top, top.f - needed);
    bool better = false;
    for (const Candidate& c : moved) better = better || c.f < top.f - needed;
    found.insert(found.end(), moved.begin(), moved.end());
    if (!better) break;
  }
}

// A rate left a rounding error above 0 (below kRateAtBound: it prints as
// 0) is put on the bound when that costs no more than kCertifiedGain of ^L:
// the maximum lies there, and the variance matrices, whose entries for
// groups far in a tail move with the rate's least digits, are those of the
// bound.
void put_rates_on_bound(AnalysisState& s, LikelihoodKernel& kernel, DRef p, double* fmin) {
  const RateIndices rates = rate_indices(s);
  for (int e : {rates.c, rates.d}) {
    if (e == 0 || !(p[e] > 0.0 && p[e] < kRateAtBound)) continue;
    const double kept = p[e];
    p[e] = 0.0;
    const double at_bound = kernel.value(LikelihoodForm::kExact, p);
    const double loss = at_bound - *fmin;
    if (loss <= kCertifiedGain * std::max(1.0, std::fabs(kernel.saturated() - *fmin)))
      *fmin = at_bound;
    else
      p[e] = kept;
  }
}

}  // namespace

MaximumCheck check_maximum(AnalysisState& s, DRef p, double* fmin, bool maximiser_converged) {
  const int N = s.param_capacity();
  MaximumCheck check;
  check.unverified = !maximiser_converged;
  check.outside = move_rates_into_space(s, p);
  LikelihoodKernel& kernel = fit_kernel(s);
  const long passes_before = kernel.passes();
  *fmin = kernel.value(LikelihoodForm::kExact, p);
  const double loglik = kernel.saturated() - *fmin;
  const double needed = std::max(kKeepGain * std::fabs(loglik), kSmallestShownGain);

  Search search(s, p);
  std::vector<Candidate> found;
  // The end point, certified as it is or polished to the maximum nearby.
  Point end = search.end();
  double f = 0.0;
  const bool end_is_maximum = search.polish(end, &f);
  if (end_is_maximum) found.push_back({f, end});
  check.certified = search.certified_at_start();
  other_maxima(search, s, needed, {f, end}, found);
  check.searches = search.polishes();
  check.candidates = static_cast<int>(found.size());
  check.evaluations = static_cast<int>(kernel.passes() - passes_before);
  if (found.empty()) return check;

  const Candidate& best = best_of(found);
  const double gain = *fmin - best.f;
  if (check.outside ? best.f < *fmin : gain > needed) {
    for (int i = 1; i <= N; ++i) p[i] = best.x[at(i)];
    *fmin = best.f;
    check.improved = true;
    check.gain = gain;
  }
  put_rates_on_bound(s, kernel, p, fmin);
  return check;
}

}  // namespace varnalo
