#include "fit/dfp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>


namespace varnalo {
namespace {


// The step test stops at a relative step of 4e-13; on a well-conditioned
// quadratic (cond(A) < 5) the point is then exact to a few hundred ulps.
constexpr double kQuadraticPointTol = 1e-12;
// On a quadratic the backtrack's quadratic model finds the exact line
// minimum, so the update has quadratic termination: after n steps H equals
// A^-1 up to rounding, amplified a little by the later tiny steps.
constexpr double kInverseHessianRelTol = 1e-9;
// At the minimum the gradient is of order 1e-12 and the Hessian well
// scaled in the parameters; the point comes out to near machine precision.
constexpr double kRosenbrockPointTol = 1e-10;
// Rosenbrock's function is not quadratic: the last steps sample the
// curvature slightly off the minimum (cond of the Hessian ~ 2500), which
// leaves H about 1e-5 from the true inverse; 1e-3 leaves margin.
constexpr double kRosenbrockHessianRelTol = 1e-3;
constexpr double kGradientTolerance = 1e-30;
// cos x is flat to second order at pi: a step test of 4e-13 leaves the point
// within about sqrt(4e-13) * pi of it at worst.
constexpr double kCosinePointTol = 1e-6;

// f(x) = 0.5 x'Ax - b'x + 4 with A symmetric positive definite.
struct Quadratic {
  double A[3][3] = {{4, 1, 0.5}, {1, 3, -0.5}, {0.5, -0.5, 2}};
  double b[3] = {1, -2, 0.5};
  double value(DRef x) const {
    double f = 4.0;
    for (int i = 0; i < 3; ++i) {
      f -= b[i] * x[i + 1];
      for (int j = 0; j < 3; ++j) f += 0.5 * x[i + 1] * A[i][j] * x[j + 1];
    }
    return f;
  }
  void gradient(DRef x, DRef g) const {
    for (int i = 0; i < 3; ++i) {
      g[i + 1] = -b[i];
      for (int j = 0; j < 3; ++j) g[i + 1] += A[i][j] * x[j + 1];
    }
  }
};

// Inverse of a 3x3 matrix by cofactors (an independent closed form).
void inverse3(const double A[3][3], double inv[3][3]) {
  const double det = A[0][0] * (A[1][1] * A[2][2] - A[1][2] * A[2][1]) -
                     A[0][1] * (A[1][0] * A[2][2] - A[1][2] * A[2][0]) +
                     A[0][2] * (A[1][0] * A[2][1] - A[1][1] * A[2][0]);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int r1 = (j + 1) % 3, r2 = (j + 2) % 3, c1 = (i + 1) % 3, c2 = (i + 2) % 3;
      inv[i][j] = (A[r1][c1] * A[r2][c2] - A[r1][c2] * A[r2][c1]) / det;
    }
}

TEST(Dfp, MinimisesAConvexQuadraticAndLeavesItsInverseHessian) {
  Quadratic q;
  double inv[3][3];
  inverse3(q.A, inv);

  Matrix H = matrix(0, 3, 1, 3);
  DVector p = dvector(1, 3);
  p[1] = 3;
  p[2] = -4;
  p[3] = 5;
  double fmin = 0;
  const SolverSummary run = DFP(H, p, 3, kGradientTolerance, &fmin,
                                [&](DRef x) { return q.value(x); },
                                [&](DRef x, DRef g) { q.gradient(x, g); });
  const int iter = run.iterations;

  double fstar = 4.0;
  for (int i = 0; i < 3; ++i) {
    double xi = 0;
    for (int j = 0; j < 3; ++j) xi += inv[i][j] * q.b[j];
    EXPECT_NEAR(p[i + 1], xi, kQuadraticPointTol) << "x" << i + 1;
    fstar -= 0.5 * q.b[i] * xi;
  }
  EXPECT_NEAR(fmin, fstar, kQuadraticPointTol);
  EXPECT_GT(iter, 1);
  EXPECT_LT(iter, 1000);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      EXPECT_NEAR(H[i + 1][j + 1], inv[i][j], kInverseHessianRelTol * std::fabs(inv[i][i]))
          << i + 1 << "," << j + 1;
}

TEST(Dfp, FollowsTheCurvedValleyOfRosenbrocksFunction) {
  auto f = [](DRef x) {
    const double u = 1 - x[1], v = x[2] - x[1] * x[1];
    return u * u + 100 * v * v;
  };
  auto grad = [](DRef x, DRef g) {
    const double v = x[2] - x[1] * x[1];
    g[1] = -2 * (1 - x[1]) - 400 * x[1] * v;
    g[2] = 200 * v;
  };
  Matrix H = matrix(1, 2, 1, 2);
  DVector p = dvector(1, 2);
  p[1] = -1.2;
  p[2] = 1.0;
  double fmin = 0;
  const int iter = DFP(H, p, 2, kGradientTolerance, &fmin, f, grad).iterations;
  EXPECT_NEAR(p[1], 1.0, kRosenbrockPointTol);
  EXPECT_NEAR(p[2], 1.0, kRosenbrockPointTol);
  EXPECT_LT(iter, 1000);
  // Hessian at (1,1) is [[802,-400],[-400,200]]; its inverse [[0.5,1],[1,2.005]].
  const double inv[2][2] = {{0.5, 1.0}, {1.0, 2.005}};
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j)
      EXPECT_NEAR(H[i + 1][j + 1], inv[i][j], kRosenbrockHessianRelTol * std::fabs(inv[i][j]))
          << i + 1 << "," << j + 1;
}

TEST(Dfp, NegativeCurvatureStepsLeaveTheMetricPositiveDefinite) {
  // cos x from 0.5: the first steps cross a concave stretch, where the
  // gradient change opposes the step (y.s < 0). An update there would make H
  // negative and send the next search uphill; skipped, the run goes on to
  // the minimum at pi.
  auto f = [](DRef x) { return std::cos(x[1]); };
  auto grad = [](DRef x, DRef g) { g[1] = -std::sin(x[1]); };
  Matrix H = matrix(1, 1, 1, 1);
  DVector p = dvector(1, 1);
  p[1] = 0.5;
  double fmin = 0;
  DFP(H, p, 1, kGradientTolerance, &fmin, f, grad);
  EXPECT_NEAR(p[1], M_PI, kCosinePointTol);
  EXPECT_NEAR(fmin, -1.0, kQuadraticPointTol);
  EXPECT_GT(H[1][1], 0.0);
}

TEST(Dfp, ZeroGradientStartEndsInTheFirstIterationWithThePointUnchanged) {
  auto f = [](DRef x) { return 5.0 + (x[1] - 1) * (x[1] - 1) + (x[2] + 2) * (x[2] + 2); };
  auto grad = [](DRef x, DRef g) {
    g[1] = 2 * (x[1] - 1);
    g[2] = 2 * (x[2] + 2);
  };
  Matrix H = matrix(1, 2, 1, 2);
  H[1][2] = 9;  // stale contents are replaced by the identity
  DVector p = dvector(1, 2);
  p[1] = 1;
  p[2] = -2;
  double fmin = 0;
  const SolverSummary run = DFP(H, p, 2, kGradientTolerance, &fmin, f, grad);
  EXPECT_EQ(run.iterations, 1);
  // No step from a stationary point decreases the objective.
  EXPECT_EQ(run.stop, SolverStop::kLineSearchFailed);
  EXPECT_EQ(p[1], 1.0);
  EXPECT_EQ(p[2], -2.0);
  EXPECT_EQ(fmin, 5.0);
  EXPECT_EQ(H[1][1], 1.0);
  EXPECT_EQ(H[1][2], 0.0);
  EXPECT_EQ(H[2][2], 1.0);
}

// Why a run stopped, and its counts: the gradient test; a line search that
// finds no decrease, at the minimum (where rounding leaves no decrease to
// find: the usual end of a run whose gradient test is off) or from the start
// (a gradient that points the wrong way); and the iteration limit (an
// objective without a minimum).
TEST(Dfp, TheRecordSaysWhyTheRunStopped) {
  const Quadratic q;
  const ObjectiveFn value = [&](DRef x) { return q.value(x); };
  const GradientFn gradient = [&](DRef x, DRef g) { q.gradient(x, g); };
  struct Case {
    const char* what;
    ObjectiveFn f;
    GradientFn grad;
    double gradient_tol;
    SolverStop stop;
    bool moved;
  };
  const Case cases[] = {
      {"gradient test", value, gradient, 1e-3, SolverStop::kGradientTolerance, true},
      {"at the minimum", value, gradient, kGradientTolerance, SolverStop::kLineSearchFailed, true},
      {"uphill", value,
       [&](DRef x, DRef g) {
         q.gradient(x, g);
         for (int i = 1; i <= 3; ++i) g[i] = -g[i];
       },
       kGradientTolerance, SolverStop::kLineSearchFailed, false},
      {"iteration limit", [](DRef x) { return -x[1] - x[2] - x[3]; },
       [](DRef, DRef g) { g[1] = g[2] = g[3] = -1; }, kGradientTolerance,
       SolverStop::kIterationLimit, true},
  };
  for (const Case& c : cases) {
    Matrix H = matrix(1, 3, 1, 3);
    DVector p = dvector(1, 3);
    p[1] = 3;
    p[2] = -4;
    p[3] = 5;
    double fmin = 0;
    const SolverSummary run = DFP(H, p, 3, c.gradient_tol, &fmin, c.f, c.grad);
    EXPECT_EQ(run.stop, c.stop) << c.what;
    EXPECT_EQ(run.converged(), c.stop == SolverStop::kGradientTolerance) << c.what;
    EXPECT_EQ(p[1] != 3.0, c.moved) << c.what;
    EXPECT_EQ(run.iterations == 1, !c.moved) << c.what;
    EXPECT_GE(run.evaluations, run.iterations + 1) << c.what;
    EXPECT_GE(run.gradient_evaluations, run.iterations) << c.what;
  }
}

TEST(Dfp, IterationLimitStopsTheRunWhereItStands) {
  // An objective without a minimum: every step of length 1 along (1, 1) is
  // accepted, the gradient never changes (so H stays the identity) and the
  // relative step never falls to the tolerance within 1000 iterations. One
  // evaluation of each per iteration, and one of each at the start.
  auto f = [](DRef x) { return -x[1] - x[2]; };
  auto grad = [](DRef, DRef g) {
    g[1] = -1;
    g[2] = -1;
  };
  Matrix H = matrix(1, 2, 1, 2);
  DVector p = dvector(1, 2);
  double fmin = 0;
  const SolverSummary run = DFP(H, p, 2, kGradientTolerance, &fmin, f, grad);
  EXPECT_EQ(run.stop, SolverStop::kIterationLimit);
  EXPECT_EQ(run.iterations, kDfpMaxIterations);
  EXPECT_EQ(run.evaluations, kDfpMaxIterations + 1);
  EXPECT_EQ(run.gradient_evaluations, kDfpMaxIterations + 1);
  EXPECT_EQ(p[1], 1000.0);
  EXPECT_EQ(p[2], 1000.0);
  EXPECT_EQ(fmin, -2000.0);
}

// f(x) = 0.5 x'Ax - b'x with the matrix of Quadratic and b3 chosen by the
// caller: with x3 held at 0 the minimum of the other two entries solves
// A_ff x_f = b_f, that is x1 = 5/11, x2 = -9/11 (Cramer's rule), where
// df/dx3 = 0.5 x1 - 0.5 x2 - b3 = 7/11 - b3. For b3 < 7/11 the unbounded
// minimum therefore has x3 < 0 and the bounded one is on x3 = 0; for
// b3 > 7/11 the minimum is inside.
Quadratic quadratic_with_b3(double b3) {
  Quadratic q;
  q.b[2] = b3;
  return q;
}

struct DfpRun {
  Matrix H = matrix(1, 3, 1, 3);
  DVector p = dvector(1, 3);
  int iter = 0;
  double fmin = 0;
};

void run_dfp(const Quadratic& q, DfpRun& run, NonNegativeRange bounded) {
  run.iter = DFP(run.H, run.p, 3, kGradientTolerance, &run.fmin,
                 [&](DRef x) { return q.value(x); }, [&](DRef x, DRef g) { q.gradient(x, g); },
                 bounded)
                 .iterations;
}

TEST(DfpBounds, AMinimumBeyondTheBoundEndsOnItAtTheConstrainedMinimum) {
  const Quadratic q = quadratic_with_b3(-3.0);
  const double x1 = 5.0 / 11.0, x2 = -9.0 / 11.0;
  const double fstar = 4.0 - 0.5 * (q.b[0] * x1 + q.b[1] * x2);
  // From inside (the steps must be cut at the bound), from below the bound
  // (the start is moved onto it) and from on it (held from the start).
  for (double x3_start : {5.0, -2.0, 0.0}) {
    DfpRun run;
    run.p[1] = 3;
    run.p[2] = -4;
    run.p[3] = x3_start;
    run_dfp(q, run, {3, 3});
    EXPECT_EQ(run.p[3], 0.0) << "start x3 = " << x3_start;
    // Entry 2 is outside the range: it goes negative freely.
    EXPECT_NEAR(run.p[1], x1, kQuadraticPointTol) << "start x3 = " << x3_start;
    EXPECT_NEAR(run.p[2], x2, kQuadraticPointTol) << "start x3 = " << x3_start;
    EXPECT_NEAR(run.fmin, fstar, kQuadraticPointTol) << "start x3 = " << x3_start;
    EXPECT_LT(run.iter, 1000);
  }
}

TEST(DfpBounds, AStartOnTheBoundWithTheMinimumInsideLeavesIt) {
  const Quadratic q = quadratic_with_b3(3.0);
  double inv[3][3];
  inverse3(q.A, inv);
  DfpRun run;
  run.p[1] = 1;
  run.p[2] = 1;
  run.p[3] = 0;  // the gradient of entry 3 points inwards here
  run_dfp(q, run, {3, 3});
  for (int i = 0; i < 3; ++i) {
    double xi = 0;
    for (int j = 0; j < 3; ++j) xi += inv[i][j] * q.b[j];
    EXPECT_NEAR(run.p[i + 1], xi, kQuadraticPointTol) << "x" << i + 1;
  }
  EXPECT_GT(run.p[3], 0.0);
}

TEST(DfpBounds, ARunThatNeverReachesTheBoundIsTheUnboundedRun) {
  // The minimum and the whole path stay inside the bound: the bound must not
  // change a single bit of the point, the value, the count or the metric.
  const Quadratic q = quadratic_with_b3(3.0);
  DfpRun free_run, bounded_run;
  for (DfpRun* run : {&free_run, &bounded_run}) {
    run->p[1] = 0;
    run->p[2] = -1;
    run->p[3] = 1.5;
  }
  double lowest_x3 = 1e300;  // over every point the unbounded run evaluates
  free_run.iter = DFP(free_run.H, free_run.p, 3, kGradientTolerance, &free_run.fmin,
                      [&](DRef x) {
                        lowest_x3 = std::min(lowest_x3, x[3]);
                        return q.value(x);
                      },
                      [&](DRef x, DRef g) { q.gradient(x, g); })
                      .iterations;
  ASSERT_GT(lowest_x3, 0.0) << "the unbounded path must stay inside for this comparison";
  run_dfp(q, bounded_run, {3, 3});
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(bounded_run.p[i], free_run.p[i]) << i;
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(bounded_run.H[i][j], free_run.H[i][j]) << i << "," << j;
  }
  EXPECT_EQ(bounded_run.fmin, free_run.fmin);
  EXPECT_EQ(bounded_run.iter, free_run.iter);
}

TEST(LineSearch, TakesTheFullStepWhenItDecreasesEnoughAndCapsLongSteps) {
  DVector x0 = dvector(1, 1), g = dvector(1, 1), dir = dvector(1, 1), x = dvector(1, 1);
  g[1] = -1;
  dir[1] = 10;  // longer than smax = 1: scaled in place to length 1
  double f = 0;
  int check = 7;
  line_search(1, x0, 0.0, g, dir, x, &f, 1.0, &check, [](DRef v) { return -v[1]; });
  EXPECT_EQ(check, 0);
  EXPECT_EQ(dir[1], 1.0);
  EXPECT_EQ(x[1], 1.0);
  EXPECT_EQ(f, -1.0);
}

TEST(LineSearch, QuadraticBacktrackLandsOnTheMinimumOfAParabola) {
  // f(x) = (x - 0.5)^2 from x0 = 0 along dir = 2 overshoots to f = 2.25; the
  // quadratic model through f0, slope and f(1) is f itself, so the first
  // backtrack goes to its minimum, lambda = 0.25, x = 0.5.
  DVector x0 = dvector(1, 1), g = dvector(1, 1), dir = dvector(1, 1), x = dvector(1, 1);
  g[1] = -1;
  dir[1] = 2;
  double f = 0;
  int check = 7;
  line_search(1, x0, 0.25, g, dir, x, &f, 100.0, &check,
              [](DRef v) { return (v[1] - 0.5) * (v[1] - 0.5); });
  EXPECT_EQ(check, 0);
  EXPECT_EQ(x[1], 0.5);
  EXPECT_EQ(f, 0.0);
}

TEST(LineSearch, GivesUpOnAnUphillDirectionAndReturnsTheStart) {
  DVector x0 = dvector(1, 2), g = dvector(1, 2), dir = dvector(1, 2), x = dvector(1, 2);
  x0[1] = 2;
  x0[2] = -3;
  g[1] = 1;
  dir[1] = 1;  // the objective increases along dir
  double f = 0;
  int check = 0;
  int calls = 0;
  line_search(2, x0, 2.0, g, dir, x, &f, 100.0, &check, [&](DRef v) {
    ++calls;
    return v[1];
  });
  EXPECT_EQ(check, 1);
  EXPECT_EQ(x[1], 2.0);
  EXPECT_EQ(x[2], -3.0);
  // f belongs to the point returned, not to the last rejected trial point.
  EXPECT_EQ(f, 2.0);
  EXPECT_LT(calls, 200);
}

TEST(LineSearch, NotANumberObjectiveEndsTheSearch) {
  DVector x0 = dvector(1, 1), g = dvector(1, 1), dir = dvector(1, 1), x = dvector(1, 1);
  g[1] = -1;
  dir[1] = 1;
  double f = 0;
  int check = 0;
  line_search(1, x0, 0.0, g, dir, x, &f, 100.0, &check, [](DRef) { return std::nan(""); });
  EXPECT_EQ(check, 1);
  EXPECT_EQ(x[1], 0.0);
}

}  // namespace
}  // namespace varnalo
