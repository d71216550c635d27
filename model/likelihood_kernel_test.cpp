#include "model/likelihood_kernel.h"

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "model/likelihood.h"
#include "model/model_family.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::Group;
using testing::StageFixture;

// Central differences with a relative step of 1e-4: their truncation error
// (1e-8 of the scale) and the rounding of the gradients they divide (whose
// terms r / P and m / Q nearly cancel where Q is 1e-6) stay below this
// fraction of the scale.
constexpr double kStep = 1e-4;
constexpr double kDifferences = 2e-5;

// Two preparations with a control group, groups without responders and
// with every subject responding, and doses reaching z beyond +-6.
std::vector<std::vector<Group>> mixed_data() {
  return {{{-99.0, 40, 3}, {0.0, 20, 1}, {0.4, 20, 4}, {0.8, 20, 11}, {1.2, 20, 17}, {3.0, 20, 20}},
          {{-1.5, 30, 0}, {-0.5, 30, 2}, {0.5, 30, 12}, {1.5, 30, 26}}};
}

// Sets an interior point: lines a_i + b x, rates C = 0.08, D = 0.05 where
// the model estimates them.
void set_point(AnalysisState& s) {
  const double a[] = {-1.6, -0.7}, b[] = {3.1, 2.2};
  for (int i = 1; i <= s.nprep; ++i) s.params[i] = a[i - 1];
  for (int i = 1; i <= s.nslopes; ++i) s.params[s.nprep + i] = b[i - 1];
  const RateIndices at = rate_indices(s);
  if (at.c != 0) s.params[at.c] = 0.08;
  if (at.d != 0) s.params[at.d] = 0.05;
}

// The exact Hessian against differences of the exact gradient, and the
// exact gradient against differences of the exact objective, for every
// model, distribution and slope layout.
TEST(LikelihoodKernel, HessianAndGradientMatchDifferencesForEveryModel) {
  for (int model = 1; model <= 8; ++model)
    for (int distribution = 1; distribution <= 3; ++distribution)
      for (int nslopes : {1, 2}) {
        StageFixture fx;
        fx.set_groups(mixed_data());
        fx.begin_fit(distribution, model, nslopes);
        AnalysisState& s = fx.state();
        s.fixed_c = 0.3;
        set_point(s);
        const int N = s.param_capacity();
        LikelihoodKernel& kernel = fit_kernel(s);
        DVector g = dvector(1, N), gp = dvector(1, N), gm = dvector(1, N), x = dvector(1, N);
        ArrowMatrix H(kernel.layout());
        const double F = kernel.value_gradient_hessian(s.params, g, H);
        // The same sum, preparation by preparation.
        EXPECT_NEAR(F, exact_objective(s, s.params), 1e-13 * std::fabs(F));
        const std::string what = "model " + std::to_string(model) + " distribution " +
                                 std::to_string(distribution) + " slopes " + std::to_string(nslopes);
        for (int j = 1; j <= s.npar; ++j) {
          for (int i = 1; i <= N; ++i) x[i] = s.params[i];
          const double h = kStep * std::max(1.0, std::fabs(x[j]));
          x[j] = s.params[j] + h;
          kernel.gradient(LikelihoodForm::kExact, x, gp);
          const double Fp = kernel.value(LikelihoodForm::kExact, x);
          x[j] = s.params[j] - h;
          kernel.gradient(LikelihoodForm::kExact, x, gm);
          const double Fm = kernel.value(LikelihoodForm::kExact, x);
          EXPECT_NEAR(g[j], (Fp - Fm) / (2 * h), kDifferences * std::max(1.0, std::fabs(g[j])))
              << what << " gradient " << j;
          for (int i = 1; i <= s.npar; ++i) {
            // On the scale of the two diagonal entries: a cross term can be
            // small beside them.
            const double numeric = (gp[i] - gm[i]) / (2 * h);
            const double scale = std::max(1.0, std::sqrt(std::fabs(H.at(i, i) * H.at(j, j))));
            EXPECT_NEAR(H.at(i, j), numeric, kDifferences * scale)
                << what << " H[" << i << "][" << j << "]";
          }
        }
        dvector_free(g, 1, N);
        dvector_free(gp, 1, N);
        dvector_free(gm, 1, N);
        dvector_free(x, 1, N);
      }
}

// Forty preparations of eighty groups are summed in blocks on several
// threads: every value, gradient and Hessian is the same bit for bit at one
// thread and at four, and the search form's gradient at the point of its
// last objective (taken from what that pass left) equals a fresh one.
TEST(LikelihoodKernel, LargeDataGiveTheSameBitsAtAnyThreadCount) {
  std::vector<std::vector<Group>> preps;
  for (int i = 0; i < 40; ++i) {
    std::vector<Group> groups;
    for (int j = 0; j < 80; ++j) {
      const double x = -1.0 + 0.03 * j + 0.01 * i;
      const double p = 1.0 / (1.0 + std::exp(-(3.0 * x - 0.2)));
      groups.push_back({x, 25, std::round(25 * p)});
    }
    preps.push_back(groups);
  }
  auto evaluate = [&](int threads, std::vector<double>& out) {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
    StageFixture fx;
    fx.set_groups(preps);
    fx.begin_fit(2, 8, 1);
    AnalysisState& s = fx.state();
    for (int i = 1; i <= 40; ++i) s.params[i] = 0.2 - 0.01 * i;
    s.params[41] = 2.9;
    s.params[42] = 0.04;
    s.params[43] = 0.03;
    const int N = s.param_capacity();
    LikelihoodKernel kernel(s);
    DVector g = dvector(1, N), fresh = dvector(1, N);
    ArrowMatrix H(kernel.layout());
    out.push_back(kernel.value(LikelihoodForm::kSearch, s.params));
    kernel.gradient(LikelihoodForm::kSearch, s.params, g);
    LikelihoodKernel(s).gradient(LikelihoodForm::kSearch, s.params, fresh);
    for (int e = 1; e <= s.npar; ++e) {
      out.push_back(g[e]);
      EXPECT_EQ(g[e], fresh[e]) << e;
    }
    out.push_back(kernel.value(LikelihoodForm::kExact, s.params));
    out.push_back(kernel.value_gradient_hessian(s.params, g, H));
    for (int e = 1; e <= s.npar; ++e) {
      out.push_back(g[e]);
      for (int f = 1; f <= s.npar; ++f) out.push_back(H.at(e, f));
    }
    dvector_free(g, 1, N);
    dvector_free(fresh, 1, N);
  };
  std::vector<double> one, four;
  evaluate(1, one);
  evaluate(4, four);
  ASSERT_EQ(one.size(), four.size());
  for (std::size_t k = 0; k < one.size(); ++k) ASSERT_EQ(one[k], four[k]) << k;
}

}  // namespace
}  // namespace varnalo
