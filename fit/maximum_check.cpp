// Check of a fit's end point, and search for a better one.
//
// Method: local searches with sequential least-squares quadratic
// programming (SLSQP: Kraft, "A software package for sequential quadratic
// programming", DFVLR-FB 88-28, 1988) as implemented by the NLopt library,
// on the exact form of the objective saturated minus log-likelihood with its
// analytic gradient, the rates C and D bounded to [0, 1) and C + D below 1
// as a linear constraint (models 2 to 4); each search is run again from its
// best point while that gains, since SLSQP can stop on a short step with a
// stale quasi-Newton matrix. Problems with many parameters use NLopt's
// limited-memory BFGS instead (Nocedal 1980; Liu and Nocedal 1989).
//
// One search starts at the maximiser's end point: when it gains nothing, no
// free direction led uphill there and the point is verified. With C or D
// the likelihood often has several maxima: a steep curve with large rates
// against a shallow one with small rates, or, under a common slope, the
// curve of a preparation with shallow data settling between any two of its
// doses. Further searches therefore start from the regression lines for
// rates on a grid, made steeper and shallower about their ED50s; and, around
// the two best maxima found, from the same curves with the rates moved to
// each grid value, and with each preparation's curve moved to stand with its
// ED50 at each of its doses. The best point of a converged search that is not
// on a ridge towards a step is the candidate.
//
// Accuracy: each search stops when a step changes the objective by less
// than 1e-13 relative or the parameters by less than 1e-10 relative; ^L at
// the point kept is then within rounding of the local maximum, far inside
// the gain that decides whether a point replaces the end point. On the
// random battery of tests/reference (890 fits, one to three preparations,
// the three distributions, models with and without C and D) every fit ends
// within 1e-6 relative of the maximum found independently in R.
#include "fit/maximum_check.h"

#include <nlopt.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "model/initial_values.h"
#include "model/likelihood.h"
#include "model/model_family.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

// Starting rates of the searches: C and D on this grid.
constexpr double kStartRates[] = {0.0, 0.05, 0.15, 0.3, 0.5};
// Multiples of the regression slopes at each starting rate: with C or D
// the likelihood often has its higher maximum at a much steeper curve than
// the unweighted regression suggests.
constexpr double kStartSlopeScales[] = {0.25, 0.5, 1.0, 2.0, 4.0, 8.0, 16.0};
// Best maxima around which the rates are tried again.
constexpr std::size_t kNeighbourhoods = 2;
// Stand-in for a gradient component beyond the doubles.
constexpr double kHugeGradient = 1e100;
// Stopping rules of one search (relative change of the objective, of the
// parameters) and its evaluation limit; a search that reaches the limit has
// not converged (a ridge towards a step, say) and yields no candidate.
constexpr double kObjectiveTolerance = 1e-13;
constexpr double kParameterTolerance = 1e-10;
constexpr int kEvaluationsPerParameter = 400;
// Runs of one search: a run that lowers the objective by more than kRunGain
// (relative to max(F, 1)) is followed by another from its best point.
constexpr int kMaxRuns = 10;
constexpr double kRunGain = 1e-12;
constexpr int kMinEvaluations = 2000;
// Data with no finite maximum (complete or quasi-complete separation) let
// the likelihood rise towards a step: making every curve twice as steep
// about its own ED50 (all intercepts and slopes doubled) does not lower it
// by more than this fraction of max(F, 1). At a maximum it falls by a
// sizeable amount.
constexpr double kRidgeTolerance = 1e-6;

// Scratch shared with the callbacks of one search over the entries `free`
// of the trial vector; the other entries keep their values.
struct Search {
  AnalysisState* s = nullptr;
  std::vector<int> free;
  DVector point;     // [1..N]: the trial vector the likelihood reads
  DVector gradient;  // [1..npar]
  double best_f = std::numeric_limits<double>::infinity();
  std::vector<double> best_point;  // entries 1..npar of the best point
  int evaluations = 0;
};

double search_objective(unsigned n, const double* x, double* grad, void* data) {
  Search& search = *static_cast<Search*>(data);
  AnalysisState& s = *search.s;
  ++search.evaluations;
  for (unsigned i = 0; i < n; ++i) search.point[search.free[i]] = x[i];
  const double f = exact_objective(s, search.point);
  if (grad != nullptr) {
    exact_gradient(s, search.point, search.gradient);
    for (unsigned i = 0; i < n; ++i) {
      // A gradient beyond the doubles (responders where P sits on its
      // floor) would stop the search; it is held at a huge finite value.
      const double g = search.gradient[search.free[i]];
      grad[i] = std::isfinite(g) ? g : std::copysign(kHugeGradient, g);
    }
  }
  if (f < search.best_f && std::isfinite(f) && rates_in_space(s, search.point)) {
    search.best_f = f;
    search.best_point.assign(&search.point[1], &search.point[1] + s.npar);
  }
  return f;
}

// C + D <= kHighestRate, for models with both rates in P = C + (1-C-D) P0;
// data holds the positions of C and D in the searched vector.
double rate_sum_constraint(unsigned n, const double* x, double* grad, void* data) {
  const auto* at = static_cast<const std::pair<int, int>*>(data);
  if (grad != nullptr) {
    std::fill(grad, grad + n, 0.0);
    grad[at->first] = 1.0;
    grad[at->second] = 1.0;
  }
  return x[at->first] + x[at->second] - kHighestRate;
}

// Up to this many fitted parameters (five preparations with separate
// slopes, ten with a common one, and two rates) the searches use SLSQP, whose
// work per step grows with the cube of the parameters, and start from every
// start listed below; larger problems (up to 200 parameters with 99
// preparations) use the limited-memory quasi-Newton method of Nocedal and
// Liu (NLopt's LBFGS, linear work per step) from the end point and the
// grid of rates only.
constexpr int kSmallProblem = 24;

bool small_problem(const AnalysisState& s) { return s.npar <= kSmallProblem; }

// Whether the point x (entries 1..npar, objective value f) lies on a ridge
// that rises towards a step, where the likelihood has no finite maximum.
bool on_a_ridge_to_a_step(AnalysisState& s, const std::vector<double>& x, double f) {
  const int N = s.param_capacity();
  DVector steeper = dvector(1, N);
  for (int i = 1; i <= N; ++i) steeper[i] = i <= s.npar ? x[static_cast<std::size_t>(i) - 1] : 0.0;
  for (int i = 1; i <= s.nprep + s.nslopes; ++i) steeper[i] *= 2.0;
  const double f_steeper = exact_objective(s, steeper);
  dvector_free(steeper, 1, N);
  return f_steeper <= f + kRidgeTolerance * std::max(f, 1.0);
}

// One local search from start over the entries 1..npar. Returns the best
// point evaluated (entries 1..npar) and its value when the search converged
// and the point is not on a ridge towards a step; an empty vector otherwise.
// Adds its objective evaluations to *evaluations.
std::vector<double> local_search(AnalysisState& s, DRef start, double* value, int* evaluations) {
  const int N = s.param_capacity();
  const RateIndices at = rate_indices(s);
  Search search;
  search.s = &s;
  search.point = dvector(1, N);
  search.gradient = dvector(1, N);
  for (int i = 1; i <= N; ++i) search.point[i] = start[i];
  std::pair<int, int> rate_positions{-1, -1};
  std::vector<double> x, lower, upper;
  for (int i = 1; i <= s.npar; ++i) {
    const bool rate = i == at.c || i == at.d;
    if (i == at.c) rate_positions.first = static_cast<int>(x.size());
    if (i == at.d) rate_positions.second = static_cast<int>(x.size());
    search.free.push_back(i);
    lower.push_back(rate ? 0.0 : -HUGE_VAL);
    upper.push_back(rate ? kHighestRate : HUGE_VAL);
    x.push_back(std::clamp(start[i], lower.back(), upper.back()));
  }
  const unsigned n = static_cast<unsigned>(x.size());

  // SLSQP can stop on a small step while still away from the maximum (its
  // quasi-Newton matrix has gone stale); each run that gains starts again
  // from its best point with a fresh matrix.
  bool converged = false;
  double f_before = std::numeric_limits<double>::infinity();
  const bool small = small_problem(s);
  for (int run = 1; run <= kMaxRuns; ++run) {
    nlopt_opt opt = nlopt_create(small ? NLOPT_LD_SLSQP : NLOPT_LD_LBFGS, n);
    if (opt == nullptr) break;
    nlopt_set_lower_bounds(opt, lower.data());
    nlopt_set_upper_bounds(opt, upper.data());
    nlopt_set_min_objective(opt, search_objective, &search);
    // (The limited-memory method takes bounds only; for it the objective's
    // cap keeps C + D below 1.)
    if (small && rate_positions.first >= 0 && rate_positions.second >= 0 &&
        model_form(s).rates_share_population())
      nlopt_add_inequality_constraint(opt, rate_sum_constraint, &rate_positions, 0.0);
    nlopt_set_ftol_rel(opt, kObjectiveTolerance);
    nlopt_set_xtol_rel(opt, kParameterTolerance);
    nlopt_set_maxeval(opt, std::max(kMinEvaluations, kEvaluationsPerParameter * static_cast<int>(n)));
    double f = 0.0;
    const nlopt_result result = nlopt_optimize(opt, x.data(), &f);
    nlopt_destroy(opt);
    converged = result == NLOPT_SUCCESS || result == NLOPT_FTOL_REACHED ||
                result == NLOPT_XTOL_REACHED || result == NLOPT_ROUNDOFF_LIMITED;
    if (!converged || search.best_point.empty()) break;
    if (!(f_before - search.best_f > kRunGain * std::max(std::fabs(search.best_f), 1.0))) break;
    f_before = search.best_f;
    for (unsigned i = 0; i < n; ++i)
      x[i] = std::clamp(search.best_point[static_cast<std::size_t>(search.free[i]) - 1], lower[i], upper[i]);
  }
  dvector_free(search.point, 1, N);
  dvector_free(search.gradient, 1, N);
  *evaluations += search.evaluations;
  if (!converged || search.best_point.empty()) return {};
  if (on_a_ridge_to_a_step(s, search.best_point, search.best_f)) return {};
  *value = search.best_f;
  return search.best_point;
}

// The starting rates: (C, D) on the grid for a model with both (C + D below
// 1 where both are shares of one population), one rate over the grid for a
// model with one; a model without them (a known C alone can also give
// several maxima) starts from its regression lines alone.
std::vector<std::pair<double, double>> start_rates(const AnalysisState& s) {
  const RateIndices at = rate_indices(s);
  std::vector<std::pair<double, double>> rates;
  const bool sum_below_one = model_form(s).rates_share_population();
  for (double c : kStartRates) {
    if (at.c == 0 && c != kStartRates[0]) break;
    for (double d : kStartRates) {
      if (at.d == 0 && d != kStartRates[0]) break;
      if (sum_below_one && c + d >= 1.0) continue;
      rates.emplace_back(c, d);
    }
  }
  return rates;
}

}  // namespace

MaximumCheck check_maximum(AnalysisState& s, DRef p, double* fmin, bool maximiser_converged) {
  const int N = s.param_capacity();
  const RateIndices at = rate_indices(s);
  MaximumCheck check;
  check.unverified = !maximiser_converged;
  check.outside = move_rates_into_space(s, p);
  *fmin = exact_objective(s, p);

  // Every local maximum found, as objective value and point.
  struct Found {
    double f;
    std::vector<double> x;
  };
  std::vector<Found> found;
  DVector start = dvector(1, N);
  auto search_from = [&](const std::vector<double>& from) {
    for (int i = 1; i <= N; ++i) start[i] = i <= s.npar ? from[static_cast<std::size_t>(i) - 1] : p[i];
    double f = 0.0;
    ++check.searches;
    std::vector<double> x = local_search(s, start, &f, &check.evaluations);
    if (!x.empty()) found.push_back({f, std::move(x)});
  };

  // From the end point itself: when this search gains nothing, the point
  // is verified.
  search_from(std::vector<double>(&p[1], &p[1] + s.npar));

  // Starts spread over the rates and the steepness: for rates on a grid,
  // the regression lines for those rates, and the same lines made steeper
  // about their ED50s.
  for (const auto& [c, d] : start_rates(s)) {
    for (int i = 1; i <= N; ++i) start[i] = p[i];
    const double C0 = at.c != 0 ? c : (model_form(s).known_c() ? s.fixed_c : 0.0);
    regression_lines(s, start, C0, d);
    if (at.c != 0) start[at.c] = c;
    if (at.d != 0) start[at.d] = d;
    const std::vector<double> regression(&start[1], &start[1] + s.npar);
    for (double scale : kStartSlopeScales) {
      if (!small_problem(s) && scale != 1.0) continue;
      std::vector<double> from = regression;
      for (int i = 1; i <= s.nprep + s.nslopes; ++i) from[static_cast<std::size_t>(i) - 1] *= scale;
      search_from(from);
    }
  }

  // Near the best maxima found, which are often right in all but one
  // respect: their rates moved to each grid value; and each preparation's
  // curve moved, with its slope, to stand with its ED50 at each of its
  // doses (a steep common slope lets the curve of a preparation with
  // shallow data settle between any two of its doses).
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.f < b.f; });
  std::vector<std::vector<double>> neighbours;
  for (const Found& f : found) {
    if (neighbours.size() == kNeighbourhoods || !small_problem(s)) break;
    bool distinct = true;
    for (const std::vector<double>& x : neighbours)
      distinct = distinct && f.x != x;
    if (distinct) neighbours.push_back(f.x);
  }
  for (const std::vector<double>& centre : neighbours)
    for (const auto& [c, d] : start_rates(s)) {
      std::vector<double> from = centre;
      if (at.c != 0) from[static_cast<std::size_t>(at.c) - 1] = c;
      if (at.d != 0) from[static_cast<std::size_t>(at.d) - 1] = d;
      search_from(from);
    }
  for (const std::vector<double>& centre : neighbours)
    for (int i = 1; i <= s.nprep; ++i) {
      const double b = centre[static_cast<std::size_t>(s.nslopes > 1 ? s.nprep + i : s.nprep + 1) - 1];
      for (int j = 1; j <= s.ngroups[i]; ++j) {
        const double x = s.groups[i][j][1];
        if (x <= kZeroDoseLog || x >= kInfiniteDoseLog) continue;
        std::vector<double> from = centre;
        from[static_cast<std::size_t>(i) - 1] = -b * x;
        search_from(from);
      }
    }
  dvector_free(start, 1, N);
  check.candidates = static_cast<int>(found.size());

  if (found.empty()) return check;
  const auto best = std::min_element(found.begin(), found.end(),
                                     [](const Found& a, const Found& b) { return a.f < b.f; });
  const double best_f = best->f;
  const std::vector<double>& best_x = best->x;
  const double loglik = saturated_loglik(s) - *fmin;
  const double gain = *fmin - best_f;
  const double needed = std::max(kKeepGain * std::fabs(loglik), kSmallestShownGain);
  if (check.outside ? best_f < *fmin : gain > needed) {
    for (int i = 1; i <= s.npar; ++i) p[i] = best_x[static_cast<std::size_t>(i) - 1];
    *fmin = best_f;
    check.improved = true;
    check.gain = gain;
  }
  return check;
}

}  // namespace varnalo
