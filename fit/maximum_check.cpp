// Check of a fit's end point, and search for a better one.
//
// Method: local searches with sequential least-squares quadratic
// programming (SLSQP: Kraft, "A software package for sequential quadratic
// programming", DFVLR-FB 88-28, 1988), as implemented by the NLopt library,
// on the exact form of the objective saturated minus log-likelihood with
// its analytic gradient, the rates C and D bounded to [0, 1) and C + D below 1 as a
// linear constraint (models 2 to 4). One search starts at the maximiser's
// end point: when it gains nothing, no free direction led uphill there and
// the point is verified. Where the model estimates C or D, the likelihood
// often has a second, lower maximum (a steep curve with a large rate, or a
// falling one with C near the mean response); further searches start from
// the rates 0, 0.05, 0.15 and 0.3 (each rate, or every pair), with the
// intercepts and slopes of the regression start for those rates, so that
// the basin of the higher maximum is entered from at least one of them.
// Every point the searches evaluate inside the space counts: the best one
// is the candidate, from a search that converged.
// Accuracy: each search stops when a step changes the objective by less
// than 1e-13 relative or the parameters by less than 1e-10 relative; ^L at
// the point kept is then within rounding of the local maximum, far inside
// the kKeepGain that decides whether a point replaces the end point.
#include "fit/maximum_check.h"

#include <nlopt.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdlib>
#include <vector>

#include "foundation/output.h"
#include "model/initial_values.h"
#include "model/likelihood.h"
#include "model/model_family.h"

namespace varnalo {

namespace {

// Starting rates of the extra searches.
constexpr double kGridRates[] = {0.0, 0.05, 0.15, 0.3};
// Stopping rules of one search (relative change of the objective, of the
// parameters) and its evaluation limit; a search that reaches the limit has
// not converged (a ridge towards a step, say) and yields no candidate.
constexpr double kObjectiveTolerance = 1e-13;
constexpr double kParameterTolerance = 1e-10;
constexpr int kEvaluationsPerParameter = 400;
constexpr int kMinEvaluations = 2000;
// A slope steeper than this per log10 unit of dose is a step: the response
// goes from 1 to 99 per cent within a 1 per cent change of dose. A search
// that ends there has followed a ridge of data with no finite maximum
// (complete or quasi-complete separation), and its point is no maximum.
constexpr double kStepSlope = 1e3;

// Scratch shared with the callbacks of one search.
struct Search {
  AnalysisState* s = nullptr;
  DVector point;     // [1..N]: the trial vector the likelihood reads
  DVector gradient;  // [1..npar]
  double best_f = std::numeric_limits<double>::infinity();
  std::vector<double> best_x;
};

double search_objective(unsigned n, const double* x, double* grad, void* data) {
  Search& search = *static_cast<Search*>(data);
  AnalysisState& s = *search.s;
  for (unsigned i = 0; i < n; ++i) search.point[static_cast<int>(i) + 1] = x[i];
  const double f = exact_objective(s, search.point);
  if (grad != nullptr) {
    exact_gradient(s, search.point, search.gradient);
    for (unsigned i = 0; i < n; ++i) grad[i] = search.gradient[static_cast<int>(i) + 1];
  }
  if (f < search.best_f && std::isfinite(f) && rates_in_space(s, search.point)) {
    search.best_f = f;
    search.best_x.assign(x, x + n);
  }
  return f;
}

// C + D <= 1 - kRateMargin, for models with both rates in P = C + (1-C-D) P0.
double rate_sum_constraint(unsigned, const double* x, double* grad, void* data) {
  const RateIndices& at = *static_cast<const RateIndices*>(data);
  if (grad != nullptr) {
    std::fill(grad, grad + at.d, 0.0);  // at.d is the larger index
    grad[at.c - 1] = 1.0;
    grad[at.d - 1] = 1.0;
  }
  return x[at.c - 1] + x[at.d - 1] - (1.0 - kRateMargin);
}

// One local search from start (entries 1..npar; the others are copied into
// the trial vector as they are). Returns the best point evaluated and its
// value when the search converged; an empty vector otherwise.
std::vector<double> local_search(AnalysisState& s, DRef start, double* value) {
  const int n = s.npar;
  const int N = s.param_capacity();
  const RateIndices at = rate_indices(s);
  Search search;
  search.s = &s;
  search.point = dvector(1, N);
  search.gradient = dvector(1, N);
  for (int i = 1; i <= N; ++i) search.point[i] = start[i];

  std::vector<double> x(static_cast<std::size_t>(n)), lower(x.size()), upper(x.size());
  for (int i = 1; i <= n; ++i) {
    const bool rate = i == at.c || i == at.d;
    lower[i - 1] = rate ? 0.0 : -HUGE_VAL;
    upper[i - 1] = rate ? 1.0 - kRateMargin : HUGE_VAL;
    x[i - 1] = std::clamp(start[i], lower[i - 1], upper[i - 1]);
  }

  nlopt_algorithm alg = NLOPT_LD_SLSQP;
  if (getenv("ALG")) alg = static_cast<nlopt_algorithm>(atoi(getenv("ALG")));
  nlopt_opt opt = nlopt_create(alg, static_cast<unsigned>(n));
  bool converged = false;
  if (opt != nullptr) {
    nlopt_set_lower_bounds(opt, lower.data());
    nlopt_set_upper_bounds(opt, upper.data());
    nlopt_set_min_objective(opt, search_objective, &search);
    if (at.c != 0 && at.d != 0 && s.model >= 2 && s.model <= 4)
      nlopt_add_inequality_constraint(opt, rate_sum_constraint, const_cast<RateIndices*>(&at), 0.0);
    nlopt_set_ftol_rel(opt, kObjectiveTolerance);
    nlopt_set_xtol_rel(opt, kParameterTolerance);
    nlopt_set_maxeval(opt, std::max(kMinEvaluations, kEvaluationsPerParameter * n));
    double f = 0.0;
    const nlopt_result result = nlopt_optimize(opt, x.data(), &f);
    converged = result == NLOPT_SUCCESS || result == NLOPT_FTOL_REACHED ||
                result == NLOPT_XTOL_REACHED || result == NLOPT_ROUNDOFF_LIMITED;
    nlopt_destroy(opt);
  }
  dvector_free(search.point, 1, N);
  dvector_free(search.gradient, 1, N);
  if (!converged || search.best_x.empty()) return {};
  for (int i = s.nprep + 1; i <= s.nprep + s.nslopes; ++i)
    if (!(std::fabs(search.best_x[static_cast<std::size_t>(i) - 1]) <= kStepSlope)) return {};
  *value = search.best_f;
  return search.best_x;
}

// The starting rates of the grid searches: each grid value for a model with
// one estimated rate, every pair (inside the space) for two.
std::vector<std::pair<double, double>> grid_rates(const AnalysisState& s) {
  const RateIndices at = rate_indices(s);
  std::vector<std::pair<double, double>> rates;
  for (double c : kGridRates) {
    if (at.c == 0 && c != kGridRates[0]) break;
    for (double d : kGridRates) {
      if (at.d == 0 && d != kGridRates[0]) break;
      rates.emplace_back(c, d);
    }
  }
  if (at.c == 0 && at.d == 0) rates.clear();
  return rates;
}

}  // namespace

MaximumCheck check_maximum(AnalysisState& s, DRef p, double* fmin) {
  const int N = s.param_capacity();
  const RateIndices at = rate_indices(s);
  MaximumCheck check;
  check.outside = move_rates_into_space(s, p);
  *fmin = exact_objective(s, p);

  double best_f = std::numeric_limits<double>::infinity();
  std::vector<double> best_x;
  auto consider = [&](DRef start) {
    double f = 0.0;
    std::vector<double> x = local_search(s, start, &f);
    if (!x.empty() && f < best_f) {
      best_f = f;
      best_x = std::move(x);
    }
  };

  consider(p);
  DVector start = dvector(1, N);
  for (const auto& [c, d] : grid_rates(s)) {
    for (int i = 1; i <= N; ++i) start[i] = p[i];
    const double C0 = at.c != 0 ? c : (s.model == 5 || s.model == 7 ? s.fixed_c : 0.0);
    regression_lines(s, start, C0, d);
    if (at.c != 0) start[at.c] = c;
    if (at.d != 0) start[at.d] = d;
    consider(start);
  }
  dvector_free(start, 1, N);

  if (best_x.empty()) return check;
  const double loglik = saturated_loglik(s) - *fmin;
  const double gain = *fmin - best_f;
  if (check.outside ? best_f < *fmin : gain > kKeepGain * std::max(std::fabs(loglik), 1.0)) {
    for (int i = 1; i <= s.npar; ++i) p[i] = best_x[static_cast<std::size_t>(i) - 1];
    *fmin = best_f;
    check.improved = true;
    check.gain = gain;
  }
  return check;
}

void report_maximum_check(AnalysisState& s, const MaximumCheck& check) {
  if (check.outside && check.improved) {
    both(s, "  The maximiser left the parameter space (a rate at or above 1): the estimates\n"
            "  are those of the maximum that a bound-constrained search found inside it.\n");
  } else if (check.outside) {
    both(s, "  The maximiser left the parameter space (a rate at or above 1): its end point\n"
            "  was moved to the nearest point inside.\n");
  } else if (check.improved) {
    both(s, "  The maximiser stopped short of the maximum: a bound-constrained search\n"
            "  from several starts raised ^L by %.7lf.\n",
         check.gain);
  }
}

}  // namespace varnalo
