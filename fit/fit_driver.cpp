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
// The covariance left in fit_cov is the metric of the last run where that
// is the inverse observed information to a tenth of a per cent, and the
// inverse observed information itself elsewhere (see maximiser_covariance).
//
// Source: maximum likelihood for quantal responses as in Finney, "Probit
// Analysis" (3rd ed., 1971), chapter 4; the minimiser is fit/dfp.cpp.
// Accuracy: the minimiser stops on a relative step of about 4e-13; estimates
// and ^L then agree with independent maximum-likelihood fits to at least six
// significant digits (C and D to 1e-6 absolute).
#include "fit/fit_driver.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "foundation/output.h"
#include "fit/dfp.h"
#include "fit/gaussj.h"
#include "fit/maximum_check.h"
#include "model/arrow_matrix.h"
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
// The metric of the last run is the covariance while the variance it gives
// every combination of the estimates (an effective dose's, say) lies within
// this fraction of that of the inverse observed information: a twentieth of
// a per cent of a standard error.
constexpr double kMetricTolerance = 1e-3;
// Above this many fitted entries (five preparations with separate slopes
// and two rates, ten with a common slope) a run's metric starts from the
// inverse expected information; smaller problems keep the identity, and
// with it every iteration count they have always had.
constexpr int kLargeProblem = 24;
// Pivot floor of the expected information's factorisation.
constexpr double kPivotFloor = 1e-13;
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

// The observed information at p (the exact Hessian of the objective) into
// H, dense over 1..npar. False when the rates lie outside the space.
bool observed_information(AnalysisState& s, DRef p, Matrix& H) {
  LikelihoodKernel& kernel = fit_kernel(s);
  DVector g = dvector(1, s.param_capacity());
  ArrowMatrix arrow(kernel.layout());
  const bool inside = kernel.value_gradient_hessian(p, g, arrow) < kObjectiveCap;
  dvector_free(g, 1, s.param_capacity());
  if (inside) arrow.to_dense(H, s.npar);
  return inside;
}

// How far a covariance matrix A is from the inverse of the information H:
// the largest relative error of the variance of any combination of the
// estimates, |x'Ax / x'H^-1 x - 1| over all x, bounded above by the
// Frobenius norm of L'AL - I with H = LL' (Cholesky). Infinite where H is
// not positive definite.
double combination_error(const AnalysisState& s, const Matrix& A, const Matrix& H) {
  const int n = s.npar;
  std::vector<double> L(static_cast<std::size_t>(n * n), 0.0);  // lower triangle, row-major
  auto l = [&](int i, int j) -> double& { return L[static_cast<std::size_t>((i - 1) * n + (j - 1))]; };
  for (int j = 1; j <= n; ++j) {
    double d = H[j][j];
    for (int k = 1; k < j; ++k) d -= l(j, k) * l(j, k);
    if (!(d > 0.0) || !std::isfinite(d)) return HUGE_VAL;
    l(j, j) = std::sqrt(d);
    for (int i = j + 1; i <= n; ++i) {
      double v = H[i][j];
      for (int k = 1; k < j; ++k) v -= l(i, k) * l(j, k);
      l(i, j) = v / l(j, j);
    }
  }
  // M = L' A L; the sum of squares of M - I.
  std::vector<double> AL(static_cast<std::size_t>(n * n), 0.0);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double v = 0.0;
      for (int k = j; k <= n; ++k) v += A[i][k] * l(k, j);
      AL[static_cast<std::size_t>((i - 1) * n + (j - 1))] = v;
    }
  double sum = 0.0;
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double v = 0.0;
      for (int k = i; k <= n; ++k) v += l(k, i) * AL[static_cast<std::size_t>((k - 1) * n + (j - 1))];
      const double e = v - (i == j ? 1.0 : 0.0);
      sum += e * e;
    }
  return std::isfinite(sum) ? std::sqrt(sum) : HUGE_VAL;
}

// The maximiser's covariance is the metric of its last run: an
// approximation of the inverse observed information (the inverse Hessian
// of the objective) built from the steps of that run. Where that metric
// cannot describe the point reported (a maximum with C or D on the bound,
// whose entries the minimiser held fixed in its last iterations; an end
// point the check replaced) it is the inverse of the Hessian formed from
// differences of the gradient instead. Either is kept where it is the
// inverse observed information to kMetricTolerance of every variance and
// covariance (of every combination of the estimates); where it is not (a
// run too short to sample the curvature of every direction, differences of a gradient whose floors distort it next
// to a bound), the inverse observed information itself takes its place.
// The records of the inversions are added to the result.
void maximiser_covariance(AnalysisState& s, DRef p, const NonNegativeRange& extras, bool moved,
                          FitResult& result) {
  bool on_bound = false;
  for (int i = extras.first; i <= extras.last; ++i) on_bound = on_bound || p[i] == 0.0;
  if (on_bound || moved) {
    const GradientFn gradient = [&s, moved](DRef x, DRef g) {
      if (moved)
        exact_gradient(s, x, g);
      else
        loglik_gradient(s, x, g);
    };
    difference_hessian(s, p, extras, gradient, s.fit_cov);
    result.inversions.push_back(gaussj(s.fit_cov, s.npar));
  }
  Matrix V = matrix(1, s.npar, 1, s.npar);
  if (observed_information(s, p, V) && !(combination_error(s, s.fit_cov, V) <= kMetricTolerance)) {
    result.inversions.push_back(gaussj(V, s.npar));
    for (int i = 1; i <= s.npar; ++i)
      for (int j = 1; j <= s.npar; ++j) s.fit_cov[i][j] = V[i][j];
  }
  matrix_free(V, 1, s.npar, 1, s.npar);
}

// The starting metric of a run from p on a large problem: the inverse of
// the expected information there (through the arrow's factorisation), or
// nothing when that is not positive definite.
bool inverse_expected_information(AnalysisState& s, DRef p, Matrix& H0) {
  LikelihoodKernel& kernel = fit_kernel(s);
  ArrowMatrix I(kernel.layout());
  kernel.expected_information(p, I);
  if (!I.factor({}, kPivotFloor)) return false;
  const int N = s.param_capacity();
  DVector unit = dvector(1, N), column = dvector(1, N);
  for (int j = 1; j <= s.npar; ++j) {
    for (int i = 1; i <= N; ++i) unit[i] = i == j ? 1.0 : 0.0;
    I.solve(unit, column);
    for (int i = 1; i <= s.npar; ++i) H0[i][j] = column[i];
  }
  dvector_free(unit, 1, N);
  dvector_free(column, 1, N);
  return true;
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

  // On a large problem every run starts from the inverse expected
  // information at its start instead of the identity: with hundreds of
  // entries of very different scales, the identity would take hundreds of
  // iterations to learn what the expected information gives at once.
  const bool large = s.npar > kLargeProblem;
  Matrix H0 = large ? matrix(1, s.npar, 1, s.npar) : Matrix();
  auto metric_at = [&](DRef from) -> const Matrix* {
    return large && inverse_expected_information(s, from, H0) ? &H0 : nullptr;
  };

  double fmin = 0.0;
  result.runs.push_back(DFP(s.fit_cov, p, s.npar, kGradientTolerance, &fmin, objective, gradient,
                            extras, metric_at(p)));
  if (second_start) {
    double fmin_inside = 0.0;
    result.runs.push_back(DFP(s.fit_cov, inside, s.npar, kGradientTolerance, &fmin_inside,
                              objective, gradient, extras, metric_at(inside)));
    if (fmin_inside < fmin - kClearlyBetter * std::max(std::fabs(fmin), 1.0)) {
      for (int i = 1; i <= N; ++i) p[i] = inside[i];
      fmin = fmin_inside;
    }
  }
  dvector_free(inside, 1, N);

  for (int i = 1; i <= N; ++i) p[i] += kRestartShift;
  result.runs.push_back(DFP(s.fit_cov, p, s.npar, kGradientTolerance, &fmin, objective, gradient,
                            extras, metric_at(p)));
  if (large) matrix_free(H0, 1, s.npar, 1, s.npar);
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
