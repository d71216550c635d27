// Variable-metric minimiser with a backtracking line search.
//
// Method: quasi-Newton minimisation with an inverse-Hessian approximation H
// built by the rank-two Davidon-Fletcher-Powell update plus the extra term
// that turns it into the Broyden-Fletcher-Goldfarb-Shanno update (Fletcher,
// Practical Methods of Optimization, 2nd ed. (1987), ch. 3; Press et al.,
// Numerical Recipes in C, 2nd ed. (1992), section 10.7, routine dfpmin).
// The line search backtracks along the quasi-Newton direction with a
// quadratic, then cubic, model of the objective until the Armijo condition
// holds (Dennis & Schnabel (1983), section 6.3; Numerical Recipes lnsrch).
// Entries bounded below by 0 are treated by an active-set strategy for
// simple bounds (Gill, Murray & Wright, Practical Optimization (1981),
// section 5.5.1): an entry on the bound whose gradient points outwards is
// held there, the direction is the quasi-Newton direction of the free
// entries, and a step that would cross the bound is cut back to end on it.
// The update of H sees no change in the held entries, so it builds the
// metric of the free ones; while no bound is reached the method is the
// unconstrained one, step for step.
// Accuracy: the run stops when the relative step falls below 4e-13 or the
// scaled gradient below the caller's tolerance; on smooth objectives the
// minimiser is then reached to about the square root of the objective's
// relative precision in the parameters; an entry held on its bound is
// exactly 0. H approximates the inverse Hessian
// at the minimum only as well as the last few steps sample the curvature.
#include "fit/dfp.h"

#include <algorithm>
#include <cmath>


namespace varnalo {

namespace {

constexpr int kMaxIterations = kDfpMaxIterations;
// Relative step below which the run has converged; also the smallest relative
// step the line search tries.
constexpr double kStepTolerance = 4e-13;
// The update is skipped when y.s is tiny against |y||s| (curvature unknown).
constexpr double kUpdateThreshold = 1e-13;
// Longest step allowed, in units of the size of the parameter vector.
constexpr double kStepScale = 100.0;
// Armijo constant: the accepted step must reach this fraction of the
// decrease the slope promises.
constexpr double kSufficientDecrease = 1e-4;
// Bounds of a new step factor relative to the previous one.
constexpr double kBacktrackLow = 0.1;
constexpr double kBacktrackHigh = 0.5;

// max over i of |v_i| / max(|x_i|, 1): the size of v relative to x.
double relative_size(int n, DRef v, DRef x) {
  double test = 0.0;
  for (int i = 1; i <= n; ++i) {
    const double t = std::fabs(v[i]) / std::max(std::fabs(x[i]), 1.0);
    if (t > test) test = t;
  }
  return test;
}

}  // namespace

void line_search(int n, DRef x0, double f0, DRef g, DRef dir, DRef x, double* f, double smax,
                 int* check, const ObjectiveFn& objective) {
  *check = 0;

  double norm = 0.0;
  for (int i = 1; i <= n; ++i) norm += dir[i] * dir[i];
  norm = std::sqrt(norm);
  if (norm > smax)
    for (int i = 1; i <= n; ++i) dir[i] *= smax / norm;

  double slope = 0.0;
  for (int i = 1; i <= n; ++i) slope += g[i] * dir[i];

  const double lambda_min = kStepTolerance / relative_size(n, dir, x0);
  double lambda = 1.0;
  double lambda2 = 0.0;
  double f2 = 0.0;

  for (;;) {
    for (int i = 1; i <= n; ++i) x[i] = x0[i] + lambda * dir[i];
    *f = objective(x);

    // Give up when the step is too small to matter. A step factor that is
    // not a finite number (from a not-a-number direction or objective) can
    // never get small, so it ends the search as well.
    if (!(lambda >= lambda_min) || !std::isfinite(lambda)) {
      for (int i = 1; i <= n; ++i) x[i] = x0[i];
      *f = f0;
      *check = 1;
      return;
    }
    if (*f <= f0 + kSufficientDecrease * lambda * slope) return;

    double t;
    if (lambda == 1.0) {
      t = -slope / (2.0 * (*f - f0 - slope));
    } else {
      const double r1 = *f - f0 - lambda * slope;
      const double r2 = f2 - f0 - lambda2 * slope;
      const double a = (r1 / (lambda * lambda) - r2 / (lambda2 * lambda2)) / (lambda - lambda2);
      const double b =
          (-lambda2 * r1 / (lambda * lambda) + lambda * r2 / (lambda2 * lambda2)) / (lambda - lambda2);
      if (a == 0.0) {
        t = -slope / (2.0 * b);
      } else {
        const double disc = b * b - 3.0 * a * slope;
        if (disc < 0.0)
          t = kBacktrackHigh * lambda;
        else if (b <= 0.0)
          t = (-b + std::sqrt(disc)) / (3.0 * a);
        else
          t = -slope / (b + std::sqrt(disc));
      }
      if (t > kBacktrackHigh * lambda) t = kBacktrackHigh * lambda;
    }
    lambda2 = lambda;
    f2 = *f;
    // A not-a-number factor falls back to the lower bound, so the search
    // still shrinks the step and ends.
    lambda = (t > kBacktrackLow * lambda) ? t : kBacktrackLow * lambda;
  }
}

namespace {

// Bounded entries at 0 whose gradient points outwards (decreasing them would
// lower the objective) are held for the iteration: held[i] = 1; with
// hold_all, every bounded entry at 0 is held. When any is held, the
// direction is rebuilt from the gradient with those entries cleared (gm), so
// the free entries follow the metric of their own block, and the held
// entries do not move. An entry at 0 that is not held but that the metric
// still sends outwards (through its coupling with the others) makes the
// direction fall back to the projected steepest descent -gm, which moves
// every entry at 0 inwards or not at all. Leaves the direction untouched
// when no entry at the bound is involved.
void constrain_direction(Matrix& H, DRef p, DRef g, DRef step, IVector& held, DRef gm, int n,
                         const NonNegativeRange& bounded, bool hold_all) {
  bool any_held = false;
  bool outwards = false;
  for (int i = 1; i <= n; ++i) {
    held[i] = bounded.contains(i) && p[i] <= 0.0 && (hold_all || g[i] > 0.0);
    if (held[i])
      any_held = true;
    else if (bounded.contains(i) && p[i] <= 0.0 && step[i] < 0.0)
      outwards = true;
  }
  if (!any_held && !outwards) return;

  for (int i = 1; i <= n; ++i) gm[i] = held[i] ? 0.0 : g[i];
  if (any_held) {
    for (int i = 1; i <= n; ++i) {
      step[i] = 0.0;
      if (held[i]) continue;
      for (int j = 1; j <= n; ++j) step[i] -= H[i][j] * gm[j];
    }
    outwards = false;
    for (int i = 1; i <= n; ++i)
      if (bounded.contains(i) && !held[i] && p[i] <= 0.0 && step[i] < 0.0) outwards = true;
  }
  if (outwards)
    for (int i = 1; i <= n; ++i) step[i] = -gm[i];
}

// Whether some bounded entry is at 0 without being held.
bool free_entry_at_bound(DRef p, const IVector& held, const NonNegativeRange& bounded) {
  for (int i = bounded.first; i <= bounded.last; ++i)
    if (p[i] <= 0.0 && !held[i]) return true;
  return false;
}

// Shortens the direction so that a unit step ends on the bound of the first
// bounded entry it would take below 0; that entry then lands on 0 exactly.
// Returns whether the direction was cut.
bool cut_at_bound(DRef p, DRef step, int n, const NonNegativeRange& bounded) {
  double lambda_max = 1.0;
  int limit = 0;
  for (int i = 1; i <= n; ++i) {
    if (!bounded.contains(i) || !(step[i] < 0.0)) continue;
    const double ratio = p[i] / -step[i];
    if (ratio < lambda_max) {
      lambda_max = ratio;
      limit = i;
    }
  }
  if (limit == 0) return false;
  for (int i = 1; i <= n; ++i) step[i] *= lambda_max;
  step[limit] = -p[limit];
  return true;
}

}  // namespace

SolverSummary DFP(Matrix& H, DRef p, int n, double gradient_tol, double* fmin,
                  const ObjectiveFn& objective_of, const GradientFn& gradient_of,
                  NonNegativeRange bounded) {
  bounded.first = std::max(bounded.first, 1);
  bounded.last = std::min(bounded.last, n);
  SolverSummary summary;
  const ObjectiveFn objective = [&](DRef x) {
    ++summary.evaluations;
    return objective_of(x);
  };
  auto grad = [&](DRef x, DRef g) {
    ++summary.gradient_evaluations;
    gradient_of(x, g);
  };

  DVector g = dvector(1, n);
  DVector y = dvector(1, n);
  DVector Hy = dvector(1, n);
  DVector q = dvector(1, n);
  DVector step = dvector(1, n);
  DVector gm = dvector(1, n);
  IVector held = ivector(1, n);
  auto release = [&] {
    ivector_free(held, 1, n);
    dvector_free(gm, 1, n);
    dvector_free(step, 1, n);
    dvector_free(q, 1, n);
    dvector_free(Hy, 1, n);
    dvector_free(y, 1, n);
    dvector_free(g, 1, n);
  };

  for (int i = bounded.first; i <= bounded.last; ++i)
    if (p[i] < 0.0) p[i] = 0.0;

  double fcur = objective(p);
  grad(p, g);

  double psum = 0.0;
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) H[i][j] = 0.0;
    H[i][i] = 1.0;
    step[i] = -g[i];
    psum += p[i] * p[i];
  }
  const double smax = kStepScale * std::max(std::sqrt(psum), static_cast<double>(n));

  for (int its = 1; its <= kMaxIterations; ++its) {
    summary.iterations = its;
    // Normally one attempt. When the search finds no decrease while an entry
    // at 0 was left free (its gradient pointed inwards, but moving it did not
    // pay, as when the only gain lies within rounding of the bound), the
    // iteration is tried once more with every entry at 0 held.
    int check = 0;
    for (int attempt = 1; attempt <= 2; ++attempt) {
      if (attempt == 2) {
        if (!free_entry_at_bound(p, held, bounded)) break;
        for (int i = 1; i <= n; ++i) {
          step[i] = 0.0;
          for (int j = 1; j <= n; ++j) step[i] -= H[i][j] * g[j];
        }
      }
      constrain_direction(H, p, g, step, held, gm, n, bounded, attempt == 2);
      const bool cut = cut_at_bound(p, step, n, bounded);

      check = 0;
      if (cut && relative_size(n, step, p) < kStepTolerance) {
        // An entry a rounding error away from its bound: the step onto it is
        // too short for the line search, which would refuse it and end the
        // run. It is taken as it is.
        for (int i = 1; i <= n; ++i) q[i] = p[i] + step[i];
        *fmin = objective(q);
      } else {
        line_search(n, p, fcur, g, step, q, fmin, smax, &check, objective);
      }
      if (check == 0) break;
    }
    const bool line_search_failed = check != 0;
    fcur = *fmin;

    // A step that ends on a bound is progress however short it is: the run
    // goes on, and the next iteration decides whether the entry stays there.
    bool reached_bound = false;
    for (int i = bounded.first; i <= bounded.last; ++i) {
      if (q[i] < 0.0) q[i] = 0.0;  // rounding of a step cut to end on 0
      if (q[i] == 0.0 && p[i] > 0.0) reached_bound = true;
    }
    for (int i = 1; i <= n; ++i) {
      step[i] = q[i] - p[i];
      p[i] = q[i];
    }

    // A failed line search leaves the point where it was: the step test
    // ends the run, but the point is not a verified minimum.
    if (!reached_bound && relative_size(n, step, p) < kStepTolerance) {
      summary.stop = line_search_failed ? SolverStop::kLineSearchFailed : SolverStop::kStepTolerance;
      release();
      return summary;
    }

    for (int i = 1; i <= n; ++i) y[i] = g[i];
    grad(p, g);

    // The gradient test ignores the outward gradient of an entry at 0.
    const double den = std::max(*fmin, 1.0);
    double test = 0.0;
    for (int i = 1; i <= n; ++i) {
      if (bounded.contains(i) && p[i] <= 0.0 && g[i] > 0.0) continue;
      const double t = std::fabs(g[i]) * std::max(std::fabs(p[i]), 1.0) / den;
      if (t > test) test = t;
    }
    if (test < gradient_tol) {
      summary.stop = SolverStop::kGradientTolerance;
      release();
      return summary;
    }

    // A held entry did not move; its gradient change is left out as well, so
    // the update builds the metric of the free entries alone.
    for (int i = 1; i <= n; ++i) y[i] = held[i] ? 0.0 : g[i] - y[i];
    for (int i = 1; i <= n; ++i) {
      Hy[i] = 0.0;
      for (int j = 1; j <= n; ++j) Hy[i] += H[i][j] * y[j];
    }

    double c1 = 0.0, c2 = 0.0, yy = 0.0, ss = 0.0;
    for (int i = 1; i <= n; ++i) {
      c1 += y[i] * step[i];
      c2 += y[i] * Hy[i];
      yy += y[i] * y[i];
      ss += step[i] * step[i];
    }

    // Update only along positive curvature (y.s > 0). A negative y.s would
    // make H indefinite and send the next search uphill, ending the run far
    // from the optimum as if it had converged.
    if (c1 > 0.0 && c1 * c1 > kUpdateThreshold * yy * ss) {
      const double alpha = 1.0 / c1;
      const double beta = 1.0 / c2;
      for (int i = 1; i <= n; ++i) y[i] = alpha * step[i] - beta * Hy[i];
      for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j)
          H[i][j] += alpha * step[i] * step[j] - beta * Hy[i] * Hy[j] + c2 * y[i] * y[j];
    }

    for (int i = 1; i <= n; ++i) {
      step[i] = 0.0;
      for (int j = 1; j <= n; ++j) step[i] -= H[i][j] * g[j];
    }
  }

  summary.stop = SolverStop::kIterationLimit;
  release();
  return summary;
}

}  // namespace varnalo
