// Speed of the objective and its gradient on the rotenone data (five dose
// groups, one preparation), for each tolerance distribution; and one pass
// of the likelihood kernel over 20,000 groups (100 preparations of 200),
// search form (objective alone, objective and gradient) and exact form with
// the Hessian, for each distribution. These passes dominate a fit's time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "foundation/arrays.h"
#include "foundation/state.h"
#include "model/likelihood.h"
#include "model/likelihood_kernel.h"
#include "model/model_form.h"

namespace {

using namespace varnalo;

// Rotenone on Macrosiphoniella sanborni: dose (mg/l), subjects, responders.
constexpr double kRotenone[][3] = {
    {10.2, 50, 44}, {7.7, 49, 42}, {5.1, 46, 24}, {3.8, 48, 16}, {2.6, 50, 6}};

// A state holding the rotenone groups, fitted with a common slope and the
// given model; parameters near the maximum-likelihood point.
struct RotenoneFit {
  AnalysisState s;
  DVector p;
  DVector g;

  RotenoneFit(int distribution, int model) {
    s.distribution = distribution;
    s.model = model;
    s.nprep = 1;
    s.nslopes = 1;
    s.npar = 2 + model_form(model).extra_count();
    s.ngroups = ivector(1, 1);
    const int n = static_cast<int>(std::size(kRotenone));
    s.ngroups[1] = n;
    s.maxgroups = n + 1;
    s.groups = d3tensor(1, 1, 0, s.maxgroups, 1, 4);
    for (int j = 1; j <= n; ++j) {
      s.groups[1][j][1] = std::log10(kRotenone[j - 1][0]);
      s.groups[1][j][2] = kRotenone[j - 1][1];
      s.groups[1][j][3] = kRotenone[j - 1][2];
    }
    for (int c = 1; c <= 3; ++c) s.groups[1][n + 1][c] = 1e50;
    p = dvector(1, s.param_capacity());
    g = dvector(1, s.param_capacity());
    p[1] = -2.9;
    p[2] = 4.2;
    p[3] = 0.02;
  }
};

void BM_LoglikObjective(benchmark::State& state) {
  RotenoneFit fit(static_cast<int>(state.range(0)), 1);
  for (auto _ : state) benchmark::DoNotOptimize(loglik_objective(fit.s, fit.p));
}
BENCHMARK(BM_LoglikObjective)->DenseRange(1, 3)->ArgName("distribution");

// Model 1, and model 2, whose gradient has a third entry (the natural
// response rate).
void BM_LoglikGradient(benchmark::State& state) {
  RotenoneFit fit(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    loglik_gradient(fit.s, fit.p, fit.g);
    benchmark::DoNotOptimize(fit.g[fit.s.npar]);
  }
}
BENCHMARK(BM_LoglikGradient)->ArgsProduct({{1, 2, 3}, {1, 2}})->ArgNames({"distribution", "model"});

// 100 preparations of 200 groups (20,000 groups, 50 subjects each), model
// 4 with a common slope, responders from the curve itself (so every
// distribution sees the same realistic mix of tails and middles).
struct LargeFit {
  static constexpr int kPreparations = 100;
  static constexpr int kGroups = 200;
  AnalysisState s;
  DVector p;
  DVector g;

  explicit LargeFit(int distribution) {
    s.distribution = distribution;
    s.model = 4;
    s.nprep = kPreparations;
    s.nslopes = 1;
    s.npar = kPreparations + 1 + model_form(4).extra_count();
    s.ngroups = ivector(1, kPreparations);
    s.maxgroups = kGroups + 1;
    s.total_groups = kPreparations * kGroups;
    s.groups = d3tensor(1, kPreparations, 0, s.maxgroups, 1, 4);
    std::uint32_t seed = 12345u;  // a fixed linear congruential sequence
    auto uniform = [&seed] {
      seed = seed * 1664525u + 1013904223u;
      return (seed + 0.5) / 4294967296.0;
    };
    for (int i = 1; i <= kPreparations; ++i) {
      s.ngroups[i] = kGroups;
      for (int j = 1; j <= kGroups; ++j) {
        const double x = -1.0 + 3.0 * j / kGroups + 0.01 * i;
        const double p0 = 1.0 / (1.0 + std::exp(-4.0 * (x - 0.5)));
        s.groups[i][j][1] = x;
        s.groups[i][j][2] = 50;
        s.groups[i][j][3] = std::round(50 * (0.05 + 0.9 * p0) + 2 * (uniform() - 0.5));
      }
      for (int c = 1; c <= 3; ++c) s.groups[i][kGroups + 1][c] = 1e50;
    }
    p = dvector(1, s.param_capacity());
    g = dvector(1, s.param_capacity());
    for (int i = 1; i <= kPreparations; ++i) p[i] = -1.0 - 0.01 * i;
    p[kPreparations + 1] = 2.5;
    p[kPreparations + 2] = 0.05;
    p[kPreparations + 3] = 0.05;
  }
};

void BM_KernelSearchValue(benchmark::State& state) {
  LargeFit fit(static_cast<int>(state.range(0)));
  LikelihoodKernel kernel(fit.s);
  for (auto _ : state) benchmark::DoNotOptimize(kernel.value(LikelihoodForm::kSearch, fit.p));
}
BENCHMARK(BM_KernelSearchValue)->DenseRange(1, 3)->ArgName("distribution");

void BM_KernelSearchGradient(benchmark::State& state) {
  LargeFit fit(static_cast<int>(state.range(0)));
  LikelihoodKernel kernel(fit.s);
  for (auto _ : state) {
    kernel.gradient(LikelihoodForm::kSearch, fit.p, fit.g);
    benchmark::DoNotOptimize(fit.g[1]);
  }
}
BENCHMARK(BM_KernelSearchGradient)->DenseRange(1, 3)->ArgName("distribution");

void BM_KernelExactHessian(benchmark::State& state) {
  LargeFit fit(static_cast<int>(state.range(0)));
  LikelihoodKernel kernel(fit.s);
  ArrowMatrix H(kernel.layout());
  for (auto _ : state) benchmark::DoNotOptimize(kernel.value_gradient_hessian(fit.p, fit.g, H));
}
BENCHMARK(BM_KernelExactHessian)->DenseRange(1, 3)->ArgName("distribution");

}  // namespace
