// The certificate of a maximum and the trust-region Newton steps: a
// maximum is accepted as it is, a point short of it and a saddle are not
// (and are left for a maximum), rates on their bounds are held only where
// the likelihood falls away through the bound.
#include "fit/projected_newton.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/likelihood.h"
#include "model/model_family.h"
#include "support/harness.h"
#include "support/reference_data.h"

namespace varnalo {
namespace {

using testing::StageFixture;

// Two points at the same maximum agree to about the square root of the
// certificate's gain in each entry.
constexpr double kSameMaximum = 1e-6;

std::vector<double> copy(const AnalysisState& s, DRef p) {
  return std::vector<double>(&p[1], &p[1] + s.param_capacity());
}

TEST(ProjectedNewton, AcceptsAMaximumAsItIsAndClimbsFromAPointShortOfIt) {
  if (!testing::reference_available()) GTEST_SKIP() << "reference values not generated yet";
  // Rotenone, logistic: without rates, with both interior (model 4) and
  // with C on its bound (model 2, where the likelihood falls through it).
  for (int model : {1, 2, 4}) {
    StageFixture fx;
    fx.set_groups(testing::reference_dataset("rotenone"));
    fx.begin_fit(2, model, 1);
    AnalysisState& s = fx.state();
    testing::set_reference_params(s, testing::reference_case("rotenone", 2, model, false));
    LikelihoodKernel& kernel = fit_kernel(s);
    const std::vector<double> maximum = copy(s, s.params);

    const NewtonSummary kept = projected_newton(kernel, s, s.params);
    EXPECT_TRUE(kept.certified_at_start) << model;
    EXPECT_EQ(copy(s, s.params), maximum) << model;

    // Moved off in every line entry: refused, then climbed back.
    for (int i = 1; i <= s.nprep + s.nslopes; ++i) s.params[i] *= 1.02;
    const double below = exact_objective(s, s.params);
    const NewtonSummary climbed = projected_newton(kernel, s, s.params);
    EXPECT_FALSE(climbed.certified_at_start) << model;
    EXPECT_TRUE(climbed.converged()) << model;
    EXPECT_LT(climbed.value, below) << model;
    for (int i = 1; i <= s.npar; ++i)
      EXPECT_NEAR(s.params[i], maximum[static_cast<std::size_t>(i) - 1],
                  kSameMaximum * std::max(1.0, std::fabs(maximum[static_cast<std::size_t>(i) - 1])))
          << model << " entry " << i;
  }
}

// Responses of 84 % at log doses -1 and 1 and none at 0, under a known
// natural preference of 0.5 (model 5): the curve with slope 0 and the
// intercept that fits the mean response is a stationary point by symmetry,
// and the likelihood rises both ways along the slope: a saddle.
TEST(ProjectedNewton, RefusesASaddleAndLeavesIt) {
  StageFixture fx;
  fx.set_groups({{{-1.0, 100, 84}, {0.0, 100, 0}, {1.0, 100, 84}}});
  fx.begin_fit(1, 5, 1);
  AnalysisState& s = fx.state();
  s.fixed_c = 0.5;
  // P0 = (mean proportion - C) / (1 - C) at every dose.
  const double P0 = (168.0 / 300.0 - 0.5) / 0.5;
  double lo = -10.0, hi = 10.0;
  for (int k = 0; k < 200; ++k) {
    const double mid = 0.5 * (lo + hi);
    (0.5 * std::erfc(-mid / std::sqrt(2.0)) < P0 ? lo : hi) = mid;
  }
  s.params[1] = 0.5 * (lo + hi);
  s.params[2] = 0.0;
  LikelihoodKernel& kernel = fit_kernel(s);
  DVector g = dvector(1, s.param_capacity());
  ArrowMatrix H(kernel.layout());
  const double at_saddle = kernel.value_gradient_hessian(s.params, g, H);
  ASSERT_LT(std::fabs(g[1]) + std::fabs(g[2]), 1e-6) << "a stationary point";
  ASSERT_LT(H.at(2, 2), 0.0) << "the likelihood rises along the slope";
  dvector_free(g, 1, s.param_capacity());

  const NewtonSummary result = projected_newton(kernel, s, s.params);
  EXPECT_FALSE(result.certified_at_start);
  EXPECT_TRUE(result.converged());
  EXPECT_LT(result.value, at_saddle - 1.0);
  EXPECT_GT(std::fabs(s.params[2]), 0.1);
}

// With the rates held, only the lines move (the profile over the rates);
// a rate on its bound whose gradient points into the space is freed.
TEST(ProjectedNewton, HoldsTheRatesForAProfileAndFreesARatePulledInside) {
  StageFixture fx;
  // Responders in the control group: C belongs inside the space.
  fx.set_groups({{{-99.0, 50, 6}, {0.0, 30, 5}, {0.5, 30, 12}, {1.0, 30, 21}, {1.5, 30, 27}}});
  fx.begin_fit(1, 2, 1);
  AnalysisState& s = fx.state();
  s.params[1] = -1.0;
  s.params[2] = 1.5;
  s.params[3] = 0.0;
  LikelihoodKernel& kernel = fit_kernel(s);
  NewtonOptions hold;
  hold.hold_rates = true;
  const NewtonSummary profile = projected_newton(kernel, s, s.params, hold);
  EXPECT_TRUE(profile.converged());
  EXPECT_EQ(s.params[3], 0.0);
  const NewtonSummary free = projected_newton(kernel, s, s.params);
  EXPECT_FALSE(free.certified_at_start);
  EXPECT_TRUE(free.converged());
  EXPECT_GT(s.params[3], 0.05);
  EXPECT_LT(free.value, profile.value);
}

}  // namespace
}  // namespace varnalo
