// Fit step of the variable-metric program.
//
// From the starting values it is given (by unweighted regression, perhaps
// edited), runs of the variable-metric minimiser on saturated minus
// actual log-likelihood with its analytic gradient, C and D held at or above
// 0. The last run starts from the best point found moved by a small amount
// in every coordinate and from a fresh identity matrix, so the
// inverse-Hessian approximation it leaves in fit_cov is built from steps
// taken near the optimum.
//
// A start with C or D exactly on the bound 0 (a group with no responders, or
// one where every subject responds) is a poor start: the regression behind
// it ignored that parameter, and from there the minimiser can follow a ridge
// where the slope grows without limit and the likelihood levels off below
// its maximum. Such a start is therefore also tried with those entries moved
// inside, and the better of the two fits is kept (the first one unless the
// other is clearly better), so fits that need no second start are unchanged.
//
// After the last run the end point is checked on the exact likelihood
// (fit/maximum_check.cpp): moved into the parameter space if a rate left it,
// and replaced by a clearly better point when there is one (the session
// says so). The value reported is that of the exact likelihood.
//
// The covariance left in fit_cov is the metric of the last run, except when
// the maximum lies on the bound or the end point was replaced (see
// maximiser_covariance).
//
// Source: maximum likelihood for quantal responses as in Finney, "Probit
// Analysis" (3rd ed., 1971), chapter 4; the minimiser is fit/dfp.cpp.
// Accuracy: the minimiser stops on a relative step of about 4e-13; estimates
// and ^L then agree with independent maximum-likelihood fits to at least six
// significant digits (C and D to 1e-6 absolute).
#include "fit/fit_driver.h"

#include <algorithm>
#include <cmath>

#include "foundation/output.h"
#include "fit/dfp.h"
#include "fit/gaussj.h"
#include "fit/maximum_check.h"
#include "model/likelihood.h"
#include "model/model_family.h"

namespace varnalo {

namespace {

// The gradient test is effectively off: runs end by the step test.
constexpr double kGradientTolerance = 1e-30;
// Shift of every coordinate before the last run.
constexpr double kRestartShift = 0.0003;
// A starting C or D below this is on the bound: observed proportions are
// at least 1/n, except the 1e-50 that stands for no responders.
constexpr double kOnBound = 1e-10;
// Value given to a C or D that starts on the bound, for the second start:
// well inside [0, 1), where a proportion of background responders or of
// immune subjects is plausible.
constexpr double kInsideStart = 0.1;
// The second start replaces the first only when its objective is lower by
// more than this fraction (of max(F, 1)); runs that reach the same maximum
// differ by rounding, far below it.
constexpr double kClearlyBetter = 1e-9;
// Relative step of the differences of the analytic gradient that form the
// Hessian at a maximum on the bound: second-order differences with this
// step are exact to about 1e-10, far below the 1e-5 of the metric itself.
constexpr double kHessianStep = 1e-5;

// Hessian of the objective at p by differences of the analytic gradient,
// central in every entry except a rate within one step of a limit of the
// space, where the one-sided second-order formula
// (-3 g(0) + 4 g(h) - g(2h)) / 2h (or its mirror image below an upper
// limit) stays inside. Rows and columns 1..npar of H, symmetrised.
void difference_hessian(AnalysisState& s, DRef p, const NonNegativeRange& extras,
                        const GradientFn& gradient, Matrix& H) {
  const int n = s.npar;
  DVector x = dvector(1, s.param_capacity());
  DVector g_plus = dvector(1, n);
  DVector g_minus = dvector(1, n);
  DVector g_zero = dvector(1, n);
  for (int i = 1; i <= s.param_capacity(); ++i) x[i] = p[i];
  gradient(x, g_zero);
  for (int j = 1; j <= n; ++j) {
    const double h = kHessianStep * std::max(std::fabs(p[j]), 1.0);
    // +1: forward from a lower limit, -1: backward from an upper one.
    int side = 0;
    if (extras.contains(j)) {
      x[j] = p[j] + 2.0 * h;
      if (p[j] < h)
        side = 1;
      else if (!rates_in_space(s, x))
        side = -1;
      x[j] = p[j];
    }
    const double step = side < 0 ? -h : h;
    x[j] = p[j] + step;
    gradient(x, g_plus);
    x[j] = side != 0 ? p[j] + 2.0 * step : p[j] - h;
    gradient(x, g_minus);
    x[j] = p[j];
    for (int i = 1; i <= n; ++i)
      H[i][j] = side != 0 ? (-3.0 * g_zero[i] + 4.0 * g_plus[i] - g_minus[i]) / (2.0 * step)
                          : (g_plus[i] - g_minus[i]) / (2.0 * h);
  }
  for (int i = 1; i <= n; ++i)
    for (int j = i + 1; j <= n; ++j) H[i][j] = H[j][i] = 0.5 * (H[i][j] + H[j][i]);
  dvector_free(x, 1, s.param_capacity());
  dvector_free(g_plus, 1, n);
  dvector_free(g_minus, 1, n);
  dvector_free(g_zero, 1, n);
}

// The maximiser's covariance is the metric of its last run, except where
// that metric does not describe the point reported: when the maximum has C
// or D on the bound 0 (the minimiser held that entry fixed in its last
// iterations, so its row and column carry no curvature), and when the end
// point was replaced by a better one. It is then the inverse of the
// Hessian itself (the inverse observed information the metric approximates
// at an interior maximum), by differences of the gradient the maximiser
// used, or of the exact gradient at a point the check moved; the record of
// that inversion is added to the result.
void maximiser_covariance(AnalysisState& s, DRef p, const NonNegativeRange& extras, bool moved,
                          FitResult& result) {
  bool on_bound = false;
  for (int i = extras.first; i <= extras.last; ++i) on_bound = on_bound || p[i] == 0.0;
  if (!on_bound && !moved) return;
  const GradientFn gradient = [&s, moved](DRef x, DRef g) {
    if (moved)
      exact_gradient(s, x, g);
    else
      loglik_gradient(s, x, g);
  };
  difference_hessian(s, p, extras, gradient, s.fit_cov);
  result.inversions.push_back(gaussj(s.fit_cov, s.npar));
}

}  // namespace

FitResult fit_model(AnalysisState& s, DRef start) {
  const int N = s.param_capacity();
  DVector p = dvector(1, N);
  for (int i = 1; i <= N; ++i) p[i] = start[i];
  FitResult result;

  both(s, "Optimization Algorithm\n  Davidon-Fletcher-Powell (Variable Metric Method)\n");
  screen(s, "  Maximizing the Log(Likelihood) Function.\n");

  const ObjectiveFn objective = [&s](DRef x) { return loglik_objective(s, x); };
  const GradientFn gradient = [&s](DRef x, DRef g) { loglik_gradient(s, x, g); };
  // C and D are proportions: the minimiser keeps them at or above 0.
  const NonNegativeRange extras{s.nprep + s.nslopes + 1, s.npar};

  // The second start, when the first has C or D on the bound.
  DVector inside = dvector(1, N);
  bool second_start = false;
  for (int i = 1; i <= N; ++i) inside[i] = p[i];
  for (int i = extras.first; i <= extras.last; ++i)
    if (inside[i] < kOnBound) {
      inside[i] = kInsideStart;
      second_start = true;
    }

  double fmin = 0.0;
  result.runs.push_back(
      DFP(s.fit_cov, p, s.npar, kGradientTolerance, &fmin, objective, gradient, extras));
  if (second_start) {
    double fmin_inside = 0.0;
    result.runs.push_back(DFP(s.fit_cov, inside, s.npar, kGradientTolerance, &fmin_inside,
                              objective, gradient, extras));
    if (fmin_inside < fmin - kClearlyBetter * std::max(std::fabs(fmin), 1.0)) {
      for (int i = 1; i <= N; ++i) p[i] = inside[i];
      fmin = fmin_inside;
    }
  }
  dvector_free(inside, 1, N);

  for (int i = 1; i <= N; ++i) p[i] += kRestartShift;
  result.runs.push_back(
      DFP(s.fit_cov, p, s.npar, kGradientTolerance, &fmin, objective, gradient, extras));
  const SolverSummary last = result.runs.back();

  // The end point is checked on the exact likelihood, whose value is the
  // one reported.
  result.check = check_maximum(s, p, &fmin, last.converged());

  s.max_loglik = saturated_loglik(s) - fmin;
  s.lr_chi2 = 2.0 * fmin;
  s.iterations = last.iterations;

  maximiser_covariance(s, p, extras, result.check.improved || result.check.outside, result);
  for (int i = 1; i <= N; ++i) s.params[i] = p[i];
  dvector_free(p, 1, N);
  return result;
}

}  // namespace varnalo
