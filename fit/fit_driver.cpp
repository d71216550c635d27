// Fit step of the variable-metric program.
//
// Starting values by unweighted regression (with the user's chance to edit
// them), then two runs of the variable-metric minimiser on saturated minus
// actual log-likelihood with its analytic gradient. The second run starts
// from the first run's point moved by a small amount in every coordinate and
// from a fresh identity matrix, so the inverse-Hessian approximation it
// leaves in fit_cov is built from steps taken near the optimum.
#include "fit/fit_driver.h"

#include "driver/output.h"
#include "fit/dfp.h"
#include "model/initial_values.h"
#include "model/likelihood.h"

namespace varnalo {

namespace {

// The gradient test is effectively off: runs end by the step test.
constexpr double kGradientTolerance = 1e-30;
// Shift of every coordinate before the second run.
constexpr double kRestartShift = 0.0003;

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

  int iterations = 0;
  double fmin = 0.0;
  DFP(s, s.fit_cov, p, s.npar, kGradientTolerance, &iterations, &fmin, objective, gradient);
  for (int i = 1; i <= N; ++i) p[i] += kRestartShift;
  DFP(s, s.fit_cov, p, s.npar, kGradientTolerance, &iterations, &fmin, objective, gradient);

  both(s, "\n");
  s.max_loglik = saturated_loglik(s) - fmin;
  s.lr_chi2 = 2.0 * fmin;
  s.iterations = iterations;
  both(s, "The Maximum Log-Likelihood\n  ^L =%13.7lf    Iterations : %d\n\n", s.max_loglik, iterations);

  for (int i = 1; i <= N; ++i) s.params[i] = p[i];
  dvector_free(p, 1, N);
}

}  // namespace varnalo
