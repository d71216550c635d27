// Fit step of the downhill-simplex program.
//
// Method: the Nelder-Mead downhill simplex (Nelder & Mead, Computer Journal 7
// (1965) 308-313), in the form of routine amoeba of Press et al., Numerical
// Recipes in C, 2nd ed. (1992), section 10.4: reflection of the worst vertex
// through the opposite face, expansion after a new best point, one-
// dimensional contraction, and shrinking towards the best vertex when
// contraction fails. No derivatives are used. The fit restarts the simplex
// from its best vertex, as Press et al. advise, until a restart no longer
// gains: a simplex that has collapsed onto a face (typically a C or D
// squeezed towards 0) then opens up again.
// Accuracy: the simplex stops when the objective values of its best and worst
// vertices agree to a fractional tolerance (1e-12 here); the parameters are
// then typically known to about the square root of that, but the method
// stays in a coordinate that starts at 0 (every vertex shares it, restarts
// included) and has no convergence guarantee in general.
#include "fit/simplex.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "foundation/output.h"
#include "model/initial_values.h"
#include "model/likelihood.h"

namespace varnalo {

namespace {

constexpr double kSimplexTolerance = 1e-12;
// Limit on the counted objective evaluations.
constexpr int NMAX = 10000;
// Vertex i + 1 of the starting simplex has coordinate i of the start scaled
// by this factor.
constexpr double kVertexScale = 1.1;
constexpr double kReflection = -1.0;
constexpr double kExpansion = 2.0;
constexpr double kContraction = 0.5;
constexpr double kShrink = 0.5;
// Stands in for a zero denominator of the convergence test.
constexpr double kZeroGuard = 1e-50;
// Restarts of the simplex from its best vertex: at most this many, and only
// while the last one lowered the objective by more than kRestartGain
// (relative to max(F, 1)), well above the rounding of F.
constexpr int kMaxRestarts = 50;
constexpr double kRestartGain = 1e-10;
// Smallest edge of a restart simplex. A coordinate that has shrunk towards
// 0 during the run (a C or D squeezed onto its bound) would get a vanishing
// edge from the 1.1 scaling and could never grow back; it is moved by this
// much instead. On the scale of proportions and of log-dose coefficients it
// is a small first step.
constexpr double kMinRestartEdge = 0.01;

// Working vectors are as long as a simplex row, so an objective that reads a
// whole parameter vector never reads past them.
int vector_length(const Matrix& simplex, int ndim) { return std::max(ndim + 1, simplex.col_hi()); }

void sum_vertices(Matrix& simplex, DVector& centroid_sum, int ndim) {
  for (int j = 1; j <= ndim; ++j) {
    double sum = 0.0;
    for (int i = 1; i <= ndim + 1; ++i) sum += simplex[i][j];
    centroid_sum[j] = sum;
  }
}

// Moves vertex `best` (and its value) to row 1.
void best_to_front(Matrix& simplex, DVector& y, int ndim, int best) {
  std::swap(y[1], y[best]);
  for (int j = 1; j <= ndim; ++j) std::swap(simplex[1][j], simplex[best][j]);
}

// Vertices 2..ndim+1 copy vertex 1 with coordinate i - 1 scaled by 1.1;
// y[1] must already hold the value of vertex 1.
void build_simplex_around_first(Matrix& simplex, DVector& y, int ndim, const ObjectiveFn& objective) {
  for (int i = 2; i <= ndim + 1; ++i) {
    for (int j = 1; j <= ndim; ++j) simplex[i][j] = simplex[1][j];
    simplex[i][i - 1] *= kVertexScale;
    y[i] = objective(simplex[i]);
  }
}

// Restart simplex around vertex 1 (whose value is y[1]): vertex i moves
// coordinate i - 1 by a tenth of its value, or by kMinRestartEdge when that
// is smaller. A coordinate marked in `fixed` (it started at exactly 0, so no
// vertex ever left 0) is scaled as in the starting simplex and stays there.
void build_restart_simplex(Matrix& simplex, DVector& y, int ndim, const IVector& fixed,
                           const ObjectiveFn& objective) {
  for (int i = 2; i <= ndim + 1; ++i) {
    for (int j = 1; j <= ndim; ++j) simplex[i][j] = simplex[1][j];
    const double x = simplex[1][i - 1];
    const double edge = (kVertexScale - 1.0) * x;
    if (fixed[i - 1] || std::fabs(edge) >= kMinRestartEdge)
      simplex[i][i - 1] = kVertexScale * x;
    else
      simplex[i][i - 1] = x + kMinRestartEdge;
    y[i] = objective(simplex[i]);
  }
}

}  // namespace

double simplex_trial(Matrix& simplex, DVector& y, DVector& centroid_sum, int ndim,
                     const ObjectiveFn& objective, int worst, double factor) {
  const int len = vector_length(simplex, ndim);
  DVector trial = dvector(1, len);
  const double f1 = (1.0 - factor) / ndim;
  const double f2 = f1 - factor;
  DRef worst_row = simplex[worst];
  for (int j = 1; j <= ndim; ++j) trial[j] = centroid_sum[j] * f1 - worst_row[j] * f2;
  const double t = objective(trial);
  if (t < y[worst]) {
    y[worst] = t;
    for (int j = 1; j <= ndim; ++j) {
      centroid_sum[j] += trial[j] - worst_row[j];
      worst_row[j] = trial[j];
    }
  }
  dvector_free(trial, 1, len);
  return t;
}

void Amoeba(AnalysisState& s, Matrix& simplex, DVector& y, int ndim, double tolerance,
            const ObjectiveFn& objective, int* evaluations) {
  const int m = ndim + 1;
  const int len = vector_length(simplex, ndim);
  DVector centroid_sum = dvector(1, len);
  sum_vertices(simplex, centroid_sum, ndim);
  *evaluations = 0;

  for (;;) {
    int best = 1;
    int worst, next_worst;
    if (y[1] > y[2]) {
      worst = 1;
      next_worst = 2;
    } else {
      worst = 2;
      next_worst = 1;
    }
    for (int i = 1; i <= m; ++i) {
      if (y[i] <= y[best]) best = i;
      if (y[i] > y[worst]) {
        next_worst = worst;
        worst = i;
      } else if (y[i] > y[next_worst] && i != worst) {
        next_worst = i;
      }
    }

    double d = std::fabs(y[worst]) + std::fabs(y[best]);
    if (d == 0.0) d = kZeroGuard;
    if (2.0 * std::fabs(y[worst] - y[best]) / d < tolerance || d < tolerance) {
      best_to_front(simplex, y, ndim, best);
      break;
    }
    if (*evaluations >= NMAX) {
      both(s, "  Error in Amoeba: NMAX exceeded\n");
      best_to_front(simplex, y, ndim, best);
      break;
    }

    *evaluations += 2;
    double t = simplex_trial(simplex, y, centroid_sum, ndim, objective, worst, kReflection);
    if (t <= y[best]) {
      simplex_trial(simplex, y, centroid_sum, ndim, objective, worst, kExpansion);
    } else if (t >= y[next_worst]) {
      const double saved = y[worst];
      t = simplex_trial(simplex, y, centroid_sum, ndim, objective, worst, kContraction);
      if (t >= saved) {
        // Shrink every vertex towards the best one. The new vertex is built
        // in centroid_sum and evaluated there, so the objective's writes to
        // its argument do not reach the vertex; the sums are rebuilt after.
        DRef best_row = simplex[best];
        for (int i = 1; i <= m; ++i) {
          if (i == best) continue;
          DRef row = simplex[i];
          for (int j = 1; j <= ndim; ++j) {
            row[j] = kShrink * (row[j] + best_row[j]);
            centroid_sum[j] = row[j];
          }
          y[i] = objective(centroid_sum);
        }
        *evaluations += ndim;
        sum_vertices(simplex, centroid_sum, ndim);
      }
    } else {
      --*evaluations;
    }
  }
  dvector_free(centroid_sum, 1, len);
}

void fit_model_simplex(AnalysisState& s) {
  const int k = s.nprep + s.nslopes;
  const int N = k + 2;
  Matrix simplex = matrix(1, k + 3, 1, k + 2);
  DVector y = dvector(1, k + 3);
  int evaluations = 0;

  DRef start = simplex[1];
  initial_values(s, start);
  edit_initial_values(s, start);

  screen(s, "Optimization Algorithm\n\tNelder-Mead (Downhill Simplex Method)\n");
  report(s, "Optimization Algorithm\n\tNelder-Mead (Downhill Simplex Method)\n\n");

  // Models without an estimated C or D move the slopes and intercepts only;
  // every other model moves both extra coordinates, the objective pinning
  // the one the model does not use.
  const int ndim = (s.model == 1 || s.model == 5) ? k : k + 2;
  const ObjectiveFn objective = [&s](DRef x) { return simplex_objective(s, x); };

  y[1] = objective(simplex[1]);
  // Coordinates that start at exactly 0 are shared by every vertex and stay
  // at 0 throughout; restarts leave them there too.
  IVector starts_at_zero = ivector(1, ndim + 1);
  for (int j = 1; j <= ndim; ++j) starts_at_zero[j] = simplex[1][j] == 0.0;
  build_simplex_around_first(simplex, y, ndim, objective);

  screen(s, "\tMaximizing the Log(Likelihood) Function.\n\n");
  Amoeba(s, simplex, y, ndim, kSimplexTolerance, objective, &evaluations);

  // A simplex can collapse onto a point that is not the minimum; restarting
  // from its best vertex with a fresh simplex lets it move again. Restarts
  // stop when one no longer gains, or after the evaluation limit was hit
  // (its message has then been given).
  for (int restart = 1; restart <= kMaxRestarts && evaluations < NMAX; ++restart) {
    const double before = y[1];
    build_restart_simplex(simplex, y, ndim, starts_at_zero, objective);
    int more = 0;
    Amoeba(s, simplex, y, ndim, kSimplexTolerance, objective, &more);
    evaluations += more;
    if (!(before - y[1] > kRestartGain * std::max(std::fabs(before), 1.0))) break;
  }

  s.max_loglik = saturated_loglik(s) - y[1];
  s.lr_chi2 = 2.0 * y[1];
  s.iterations = evaluations;
  both(s, "The Maximum Log-Likelihood\n  ^L =%13.7lf    Iterations : %d\n\n", s.max_loglik,
       evaluations);

  for (int j = 1; j <= N; ++j) s.params[j] = (j <= ndim) ? simplex[1][j] : 0.0;

  ivector_free(starts_at_zero, 1, ndim + 1);
  dvector_free(y, 1, k + 3);
  matrix_free(simplex, 1, k + 3, 1, k + 2);
}

}  // namespace varnalo
