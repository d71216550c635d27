// Fit step of the downhill-simplex program.
//
// Method: the Nelder-Mead downhill simplex (Nelder & Mead, Computer Journal 7
// (1965) 308-313), in the form of routine amoeba of Press et al., Numerical
// Recipes in C, 2nd ed. (1992), section 10.4: reflection of the worst vertex
// through the opposite face, expansion after a new best point, one-
// dimensional contraction, and shrinking towards the best vertex when
// contraction fails. No derivatives are used. The objective reads C and D
// from a vertex without changing it (a negative rate counts as 0), so
// vertices move freely across the bound and back; a coordinate that starts
// at exactly 0 gets an edge of its own in the first simplex. The fit
// restarts the simplex from its best vertex, as Press et al. advise, until
// a restart no longer gains: a simplex that has collapsed onto a face then
// opens up again. A restart ends as soon as its values agree within the
// rounding of the objective. Finally the best vertex is checked, and moved
// to a better maximum when there is one (fit/maximum_check.cpp). Each run
// returns its record; nothing but the heading is printed here.
// Accuracy: the simplex stops when the objective values of its best and worst
// vertices agree to a fractional tolerance (1e-12 here); the parameters are
// then typically known to about the square root of that. The method has no
// convergence guarantee in general; the final check makes up for it.
#include "fit/simplex.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "fit/maximum_check.h"
#include "foundation/output.h"
#include "model/likelihood.h"
#include "model/model_family.h"
#include "model/model_form.h"

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
// Edge of a coordinate that starts at exactly 0 in the first simplex (the
// 1.1 scaling would leave it at 0 in every vertex): a small rate, or a small
// step of an intercept.
constexpr double kZeroStartEdge = 0.05;
// Rounding level of the objective, in units of the rounding of its
// largest terms (n ln n of each group): values of a simplex within this of
// each other cannot be told apart.
constexpr double kNoiseUlps = 2.0;

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

// Vertices 2..ndim+1 copy vertex 1 with coordinate i - 1 scaled by 1.1, or
// moved by kZeroStartEdge when it is exactly 0 (unless it is marked in
// `unused`: the model does not read it, and it stays at 0); y[1] must
// already hold the value of vertex 1.
void build_simplex_around_first(Matrix& simplex, DVector& y, int ndim, const IVector& unused,
                                const ObjectiveFn& objective) {
  for (int i = 2; i <= ndim + 1; ++i) {
    for (int j = 1; j <= ndim; ++j) simplex[i][j] = simplex[1][j];
    if (simplex[1][i - 1] == 0.0 && !unused[i - 1])
      simplex[i][i - 1] = kZeroStartEdge;
    else
      simplex[i][i - 1] *= kVertexScale;
    y[i] = objective(simplex[i]);
  }
}

// Restart simplex around vertex 1 (whose value is y[1]): vertex i moves
// coordinate i - 1 by a tenth of its value, or by kMinRestartEdge when that
// is smaller. A coordinate marked in `fixed` (one the model does not read)
// is scaled as in the starting simplex and stays where it is.
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

SolverSummary Amoeba(Matrix& simplex, DVector& y, int ndim, double tolerance,
                     const ObjectiveFn& objective, AmoebaEnd end) {
  const int m = ndim + 1;
  const int len = vector_length(simplex, ndim);
  DVector centroid_sum = dvector(1, len);
  sum_vertices(simplex, centroid_sum, ndim);
  SolverSummary summary;
  summary.restart = end.restart;

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
    const bool within_noise = std::fabs(y[worst] - y[best]) <= end.noise;
    if (2.0 * std::fabs(y[worst] - y[best]) / d < tolerance || d < tolerance) {
      summary.stop = SolverStop::kValueTolerance;
      best_to_front(simplex, y, ndim, best);
      break;
    }
    if (end.restart && within_noise) {
      summary.stop = SolverStop::kWithinNoise;
      best_to_front(simplex, y, ndim, best);
      break;
    }
    if (summary.evaluations >= NMAX) {
      // A run whose values agree within the rounding of the objective has
      // converged as far as can be told.
      summary.stop = within_noise ? SolverStop::kWithinNoise : SolverStop::kEvaluationLimit;
      best_to_front(simplex, y, ndim, best);
      break;
    }
    ++summary.iterations;

    summary.evaluations += 2;
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
        summary.evaluations += ndim;
        sum_vertices(simplex, centroid_sum, ndim);
      }
    } else {
      --summary.evaluations;
    }
  }
  dvector_free(centroid_sum, 1, len);
  return summary;
}

namespace {

// Rounding level of the likelihood objective for the loaded data: its
// terms are of the size n ln n of each group.
double objective_noise(AnalysisState& s) {
  double scale = 0.0;
  for (int i = 1; i <= s.nprep; ++i)
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      const double n = s.groups[i][j][2];
      scale += n * (1.0 + std::fabs(std::log(n)));
    }
  return kNoiseUlps * std::numeric_limits<double>::epsilon() * scale;
}

}  // namespace

FitResult fit_model_simplex(AnalysisState& s, DRef start) {
  const int k = s.nprep + s.nslopes;
  const int N = k + 2;
  Matrix simplex = matrix(1, k + 3, 1, k + 2);
  DVector y = dvector(1, k + 3);
  FitResult result;

  for (int j = 1; j <= N; ++j) simplex[1][j] = start[j];

  screen(s, "Optimization Algorithm\n\tNelder-Mead (Downhill Simplex Method)\n");
  report(s, "Optimization Algorithm\n\tNelder-Mead (Downhill Simplex Method)\n\n");

  // Models without an estimated C or D move the slopes and intercepts only;
  // every other model moves both extra coordinates, the objective ignoring
  // the one the model does not use.
  const int ndim = model_form(s).extra_count() == 0 ? k : k + 2;
  const ObjectiveFn objective = [&s](DRef x) { return simplex_objective(s, x); };
  const RateIndices rates = rate_indices(s);

  y[1] = objective(simplex[1]);
  IVector unused = ivector(1, ndim + 1);
  for (int j = 1; j <= ndim; ++j) unused[j] = j > k && j != rates.c && j != rates.d;
  build_simplex_around_first(simplex, y, ndim, unused, objective);

  screen(s, "\tMaximizing the Log(Likelihood) Function.\n\n");
  const AmoebaEnd first_run{objective_noise(s), false};
  result.runs.push_back(Amoeba(simplex, y, ndim, kSimplexTolerance, objective, first_run));
  int evaluations = result.runs.back().evaluations;

  // A simplex can collapse onto a point that is not the minimum; restarting
  // from its best vertex with a fresh simplex lets it move again. Restarts
  // stop when one no longer gains, or after the evaluation limit was hit.
  const AmoebaEnd restart_run{first_run.noise, true};
  for (int restart = 1; restart <= kMaxRestarts && evaluations < NMAX; ++restart) {
    const double before = y[1];
    build_restart_simplex(simplex, y, ndim, unused, objective);
    result.runs.push_back(Amoeba(simplex, y, ndim, kSimplexTolerance, objective, restart_run));
    evaluations += result.runs.back().evaluations;
    if (!(before - y[1] > kRestartGain * std::max(std::fabs(before), 1.0))) break;
  }

  // The best vertex as the model reads it: a negative rate is 0, and the
  // coordinate a model with one rate does not use holds 0 (the known C in
  // model 7).
  DVector p = dvector(1, N);
  for (int j = 1; j <= N; ++j) p[j] = (j <= ndim && !unused[j]) ? simplex[1][j] : 0.0;
  if (rates.c != 0) p[rates.c] = std::max(p[rates.c], 0.0);
  if (rates.d != 0) p[rates.d] = std::max(p[rates.d], 0.0);
  double fmin = y[1];

  // The point is checked on the exact likelihood, whose value is the one
  // reported.
  result.check = check_maximum(s, p, &fmin, result.runs.back().converged());
  if (model_form(s).known_c() && ndim == k + 2) p[k + 2] = s.fixed_c;

  s.max_loglik = saturated_loglik(s) - fmin;
  s.lr_chi2 = 2.0 * fmin;
  s.iterations = evaluations;

  for (int j = 1; j <= N; ++j) s.params[j] = (j <= ndim) ? p[j] : 0.0;

  dvector_free(p, 1, N);
  ivector_free(unused, 1, ndim + 1);
  dvector_free(y, 1, k + 3);
  matrix_free(simplex, 1, k + 3, 1, k + 2);
  return result;
}

}  // namespace varnalo
