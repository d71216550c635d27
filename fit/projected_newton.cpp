// Projected trust-region Newton steps on the exact likelihood.
//
// Method: Newton's method with a trust region (More and Sorensen,
// "Computing a trust region step", SIAM J. Sci. Stat. Comput. 4 (1983)
// 553-572; Nocedal and Wright, "Numerical Optimization", 2nd ed., 2006,
// ch. 4) and an active set for the simple bounds of the rates (Bertsekas,
// SIAM J. Control Optim. 20 (1982) 221-246). Each step minimises the
// quadratic model of the objective within an ellipsoid whose axes follow
// the size of each entry (relative steps, at least absolute ones of 1):
// the Newton step where the Hessian of the free entries is positive
// definite and the step fits, otherwise the step of (H + lambda D^2) with
// lambda found by bisection, every trial solved through the arrow Hessian's
// Schur complement (model/arrow_matrix.cpp) in O(preparations). A rate on
// a bound whose gradient points out of the space is held; a step that would
// leave the space is cut to end on the bound. The ratio of the actual to
// the predicted decrease accepts the step and sizes the next region.
// Accuracy: quadratic convergence near a maximum with a positive definite
// Hessian; the iterations end when a Newton step promises less than
// kCertifiedGain of |^L|.
#include "fit/projected_newton.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "model/model_family.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

// A pivot of the factorisation at or below this fraction of its starting
// diagonal entry counts as not positive: within rounding of a singular
// matrix. Maxima with curvature ratios of 1e-8 (steep curves whose
// preparations are nearly steps) are well above it.
constexpr double kPivotFloor = 1e-13;
// The first trust region, in units of the entries' sizes.
constexpr double kFirstRegion = 1.0;
// A region smaller than this (relative steps of 1e-12) ends the search.
constexpr double kSmallestRegion = 1e-12;
// Steps with a ratio of actual to predicted decrease below kAcceptRatio are
// refused; below kShrinkRatio the region shrinks to a quarter of the step,
// above kGrowRatio (with a step on the boundary) it doubles.
constexpr double kAcceptRatio = 1e-4;
constexpr double kShrinkRatio = 0.25;
constexpr double kGrowRatio = 0.75;
// The step of lambda meets the region to this fraction; bisection steps.
constexpr double kRegionFit = 0.1;
constexpr int kBisections = 60;
// Iterations of the search for the most negative curvature.
constexpr int kPowerIterations = 200;
// Guards a division by the length of a direction.
constexpr double kTinyNorm = 1e-300;
// The least a free rate at 0 is raised by (see below).
constexpr double kRateNudge = 1e-4;

// The direction of the most negative curvature of H over the free entries
// (in the metric of the region's weights), by power iteration on a shifted
// matrix: an upper bound of the largest eigenvalue (Gershgorin) minus H has
// the most negative direction of H as its dominant one. u over 1..npar.
void negative_curvature(const ArrowMatrix& H, const std::vector<double>& weight,
                        const std::vector<bool>& held, int npar, DRef u) {
  const ArrowLayout& layout = H.layout();
  std::vector<bool> free(static_cast<std::size_t>(npar) + 1, true);
  for (int k = 0; k < layout.globals(); ++k)
    if (k < static_cast<int>(held.size()) && held[static_cast<std::size_t>(k)])
      free[static_cast<std::size_t>(layout.global_index[static_cast<std::size_t>(k)])] = false;
  // Scaled entries y = D x: iterate on D^-1 H D^-1.
  std::vector<double> scale(static_cast<std::size_t>(npar) + 1);
  for (int e = 1; e <= npar; ++e) scale[static_cast<std::size_t>(e)] = std::sqrt(weight[static_cast<std::size_t>(e)]);
  double bound = 0.0;
  for (int i = 1; i <= npar; ++i) {
    double row = 0.0;
    for (int j = 1; j <= npar; ++j) row += std::fabs(H.at(i, j)) / (scale[i] * scale[j]);
    bound = std::max(bound, row);
  }
  DVector x = dvector(1, npar), y = dvector(1, npar), xs = dvector(1, npar);
  for (int e = 1; e <= npar; ++e) x[e] = free[static_cast<std::size_t>(e)] ? 1.0 + 0.1 * e : 0.0;
  for (int it = 0; it < kPowerIterations; ++it) {
    for (int e = 1; e <= npar; ++e) xs[e] = x[e] / scale[static_cast<std::size_t>(e)];
    for (int e = 1; e <= npar; ++e) y[e] = 0.0;
    H.multiply(xs, y);
    double norm = 0.0;
    for (int e = 1; e <= npar; ++e) {
      y[e] = free[static_cast<std::size_t>(e)] ? bound * x[e] - y[e] / scale[static_cast<std::size_t>(e)] : 0.0;
      norm += y[e] * y[e];
    }
    norm = std::sqrt(norm);
    if (!(norm > 0.0)) break;
    for (int e = 1; e <= npar; ++e) x[e] = y[e] / norm;
  }
  for (int e = 1; e <= npar; ++e) u[e] = x[e] / scale[static_cast<std::size_t>(e)];
  dvector_free(x, 1, npar);
  dvector_free(y, 1, npar);
  dvector_free(xs, 1, npar);
}

}  // namespace

NewtonSummary projected_newton(LikelihoodKernel& kernel, const AnalysisState& cs, DRef p,
                               const NewtonOptions& options) {
  AnalysisState& s = const_cast<AnalysisState&>(cs);
  NewtonSummary summary;
  const int N = s.param_capacity();
  const int npar = s.npar;
  const ArrowLayout& layout = kernel.layout();
  const int G = layout.globals();
  const RateIndices at = rate_indices(s);
  const bool sum_bounded = model_form(s).rates_share_population() && at.c != 0 && at.d != 0;
  auto is_rate = [&](int e) { return e != 0 && (e == at.c || e == at.d); };

  DVector g = dvector(1, N), d = dvector(1, N), rhs = dvector(1, N), trial = dvector(1, N),
          Hd = dvector(1, N), u = dvector(1, N), g_trial = dvector(1, N);
  auto release = [&] {
    dvector_free(g_trial, 1, N);
    dvector_free(u, 1, N);
    dvector_free(g, 1, N);
    dvector_free(d, 1, N);
    dvector_free(rhs, 1, N);
    dvector_free(trial, 1, N);
    dvector_free(Hd, 1, N);
  };
  ArrowMatrix H(layout), shifted(layout), H_trial(layout);
  double F = kernel.value_gradient_hessian(p, g, H);
  summary.value = F;
  if (F >= kObjectiveCap) {
    summary.stop = NewtonStop::kOutsideSpace;
    release();
    return summary;
  }

  std::vector<bool> held(static_cast<std::size_t>(G), false);
  std::vector<double> weight(static_cast<std::size_t>(N) + 1, 0.0);  // D^2
  double region = kFirstRegion;
  // The size of d in the scaled norm.
  auto scaled_norm = [&](DRef v) {
    double sum = 0.0;
    for (int e = 1; e <= npar; ++e) sum += weight[static_cast<std::size_t>(e)] * v[e] * v[e];
    return std::sqrt(sum);
  };
  // d = -(H + lambda D^2)^-1 g over the free entries; false when that
  // matrix is not positive definite.
  auto step_of = [&](double lambda) {
    ArrowMatrix* system = &H;
    if (lambda > 0.0) {
      shifted = H;
      shifted.add_to_diagonal(lambda, weight);
      system = &shifted;
    }
    if (!system->factor(held, kPivotFloor)) return false;
    system->solve(rhs, d);
    return true;
  };

  for (int it = 0; it <= options.max_iterations; ++it) {
    summary.iterations = it;
    for (int e = 1; e <= npar; ++e)
      weight[static_cast<std::size_t>(e)] = 1.0 / std::pow(std::max(std::fabs(p[e]), 1.0), 2);
    for (int e = 1; e <= N; ++e) rhs[e] = e <= npar ? -g[e] : 0.0;
    // The rates held for this step: all of them for a profile; otherwise
    // those on a bound whose gradient points out of the space.
    for (int k = 0; k < G; ++k) {
      const int e = layout.global_index[static_cast<std::size_t>(k)];
      bool hold = false;
      if (is_rate(e))
        hold = options.hold_rates || (p[e] <= 0.0 && g[e] >= 0.0) || (p[e] >= kHighestRate && g[e] <= 0.0);
      else
        hold = options.hold_common_slope;
      held[static_cast<std::size_t>(k)] = hold;
    }

    // The Newton step, and the certificate.
    bool positive_definite = false;
    for (int round = 0; round <= G; ++round) {
      positive_definite = step_of(0.0);
      if (!positive_definite) break;
      // A free rate on a bound that the step would take out of the space is
      // held, and the step formed again.
      bool again = false;
      for (int k = 0; k < G; ++k) {
        const int e = layout.global_index[static_cast<std::size_t>(k)];
        if (!is_rate(e) || held[static_cast<std::size_t>(k)]) continue;
        if ((p[e] <= 0.0 && d[e] < 0.0) || (p[e] >= kHighestRate && d[e] > 0.0)) {
          held[static_cast<std::size_t>(k)] = true;
          again = true;
        }
      }
      if (!again) break;
    }
    const double loglik = kernel.saturated() - F;
    const double tolerance = kCertifiedGain * std::max(1.0, std::fabs(loglik));
    if (positive_definite) {
      double gain = 0.0;
      for (int e = 1; e <= npar; ++e) gain += rhs[e] * d[e];
      if (0.5 * gain <= tolerance) {
        summary.stop = NewtonStop::kCertified;
        summary.certified_at_start = it == 0;
        summary.value = F;
        release();
        return summary;
      }
    }
    if (it == options.max_iterations) break;

    // The step within the region: the Newton step if it fits, else the step
    // of the lambda whose step meets the region.
    if (!positive_definite || scaled_norm(d) > region) {
      double lo = 0.0, hi = 1.0;
      // Bracket: a lambda whose step is positive definite and inside.
      while (!(step_of(hi) && scaled_norm(d) <= region)) {
        lo = hi;
        hi *= 4.0;
        if (hi > 1e300) break;
      }
      for (int b = 0; b < kBisections; ++b) {
        const double norm = scaled_norm(d);
        if (norm >= (1.0 - kRegionFit) * region || hi <= lo * (1.0 + 1e-12)) break;
        const double mid = lo > 0.0 ? std::sqrt(lo * hi) : hi * 0.5;
        if (step_of(mid) && scaled_norm(d) <= region) {
          hi = mid;
        } else {
          lo = mid;
          step_of(hi);
        }
      }
      step_of(hi);
      // Where the Hessian is not positive definite and the gradient has no
      // part along its most negative curvature (at a saddle, by symmetry
      // say) that step promises nothing; a step of the region's length along
      // that curvature is taken instead (More and Sorensen's hard case).
      double promise_d = 0.0;
      if (!positive_definite) {
        for (int e = 1; e <= N; ++e) Hd[e] = 0.0;
        H.multiply(d, Hd);
        for (int e = 1; e <= npar; ++e) promise_d -= g[e] * d[e] + 0.5 * d[e] * Hd[e];
      }
      if (!positive_definite && promise_d <= tolerance) {
        negative_curvature(H, weight, held, npar, u);
        for (int e = 1; e <= N; ++e) Hd[e] = 0.0;
        H.multiply(u, Hd);
        double curvature = 0.0, slope_u = 0.0;
        for (int e = 1; e <= npar; ++e) {
          curvature += u[e] * Hd[e];
          slope_u += g[e] * u[e];
        }
        if (curvature < 0.0) {
          const double sign = slope_u > 0.0 ? -1.0 : 1.0;  // downhill, or either way
          const double along = region / std::max(scaled_norm(u), kTinyNorm);
          const double promise_u = -(sign * along * slope_u + 0.5 * along * along * curvature);
          if (promise_u > promise_d)
            for (int e = 1; e <= npar; ++e) d[e] = sign * along * u[e];
        }
      }
      // A free rate on a bound that the step would take out is held.
      for (int k = 0; k < G; ++k) {
        const int e = layout.global_index[static_cast<std::size_t>(k)];
        if (!is_rate(e) || held[static_cast<std::size_t>(k)]) continue;
        if ((p[e] <= 0.0 && d[e] < 0.0) || (p[e] >= kHighestRate && d[e] > 0.0)) {
          held[static_cast<std::size_t>(k)] = true;
          d[e] = 0.0;
        }
      }
    }
    // A free rate at (or a rounding error above) 0 that the step raises by
    // less than kRateNudge is raised by that much: where responders meet a
    // P of C alone (a control group with C at 0), the objective climbs like
    // -r ln C and Newton's steps would only double C from 1e-99.
    // The quadratic model means nothing there: the step stands or falls by
    // the objective alone.
    bool nudged = false;
    for (int e = 1; e <= npar; ++e)
      if (is_rate(e) && p[e] < kRateNudge && d[e] > 0.0 && p[e] + d[e] < kRateNudge) {
        d[e] = kRateNudge - p[e];
        nudged = true;
      }

    // Cut the step where it would leave the space.
    double longest = 1.0;
    for (int e = 1; e <= npar; ++e) {
      if (!is_rate(e) || d[e] == 0.0) continue;
      if (d[e] < 0.0) longest = std::min(longest, -p[e] / d[e]);
      if (d[e] > 0.0) longest = std::min(longest, (kHighestRate - p[e]) / d[e]);
    }
    if (sum_bounded && d[at.c] + d[at.d] > 0.0)
      longest = std::min(longest, (kHighestRate - p[at.c] - p[at.d]) / (d[at.c] + d[at.d]));
    longest = std::max(longest, 0.0);
    for (int e = 1; e <= npar; ++e) d[e] *= longest;

    // The decrease the quadratic model predicts, and the actual one.
    for (int e = 1; e <= N; ++e) Hd[e] = 0.0;
    H.multiply(d, Hd);
    double predicted = 0.0;
    for (int e = 1; e <= npar; ++e) predicted -= g[e] * d[e] + 0.5 * d[e] * Hd[e];
    const double step_size = scaled_norm(d);
    for (int e = 1; e <= N; ++e) trial[e] = e <= npar ? p[e] + d[e] : p[e];
    for (int e = 1; e <= npar; ++e)
      if (is_rate(e)) trial[e] = std::clamp(trial[e], 0.0, kHighestRate);
    // The trial point's value comes with its gradient and Hessian in the
    // same pass: an accepted step (the usual case near a maximum) needs no
    // second one.
    const double F_trial =
        step_size > 0.0 ? kernel.value_gradient_hessian(trial, g_trial, H_trial) : F;
    const double ratio = predicted > 0.0 ? (F - F_trial) / predicted : -1.0;
    auto accept = [&] {
      for (int e = 1; e <= npar; ++e) p[e] = trial[e];
      F = F_trial;
      for (int e = 1; e <= N; ++e) g[e] = g_trial[e];
      std::swap(H, H_trial);
    };

    if (nudged && F_trial < F) {
      accept();
      continue;
    }
    if (ratio < kShrinkRatio)
      region = 0.25 * std::max(step_size, region * 1e-3);
    else if (ratio > kGrowRatio && step_size >= (1.0 - kRegionFit) * region * longest)
      region *= 2.0;
    if (ratio > kAcceptRatio && F_trial < F) {
      accept();
    } else if (region < kSmallestRegion) {
      summary.stop = NewtonStop::kNoDescent;
      break;
    }
  }
  summary.value = F;
  release();
  return summary;
}

}  // namespace varnalo
