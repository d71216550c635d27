// Fit step of the variable-metric program.
//
// Starting values by unweighted regression (with the user's chance to edit
// them), then runs of the variable-metric minimiser on saturated minus
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
// Source: maximum likelihood for quantal responses as in Finney, "Probit
// Analysis" (3rd ed., 1971), chapter 4; the minimiser is fit/dfp.cpp.
// Accuracy: the minimiser stops on a relative step of about 4e-13; estimates
// and ^L then agree with independent maximum-likelihood fits to at least six
// significant digits (C and D to 1e-6 absolute).
#include "fit/fit_driver.h"

#include <algorithm>
#include <cmath>

#include "driver/output.h"
#include "fit/dfp.h"
#include "model/initial_values.h"
#include "model/likelihood.h"

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

}  // namespace

void fit_model(AnalysisState& s) {
  const int N = s.param_capacity();
  DVector p = dvector(1, N);

  initial_values(s, p);
  edit_initial_values(s, p);

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

  int iterations = 0;
  double fmin = 0.0;
  DFP(s, s.fit_cov, p, s.npar, kGradientTolerance, &iterations, &fmin, objective, gradient, extras);
  if (second_start) {
    double fmin_inside = 0.0;
    DFP(s, s.fit_cov, inside, s.npar, kGradientTolerance, &iterations, &fmin_inside, objective,
        gradient, extras);
    if (fmin_inside < fmin - kClearlyBetter * std::max(std::fabs(fmin), 1.0)) {
      for (int i = 1; i <= N; ++i) p[i] = inside[i];
      fmin = fmin_inside;
    }
  }
  dvector_free(inside, 1, N);

  for (int i = 1; i <= N; ++i) p[i] += kRestartShift;
  DFP(s, s.fit_cov, p, s.npar, kGradientTolerance, &iterations, &fmin, objective, gradient, extras);

  both(s, "\n");
  s.max_loglik = saturated_loglik(s) - fmin;
  s.lr_chi2 = 2.0 * fmin;
  s.iterations = iterations;
  both(s, "The Maximum Log-Likelihood\n  ^L =%13.7lf    Iterations : %d\n\n", s.max_loglik, iterations);

  for (int i = 1; i <= N; ++i) s.params[i] = p[i];
  dvector_free(p, 1, N);
}

}  // namespace varnalo
