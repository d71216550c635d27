// Speed of the objective and its gradient on the rotenone data (five dose
// groups, one preparation), for each tolerance distribution. These two
// functions dominate the running time of a fit.
#include <benchmark/benchmark.h>

#include <cmath>

#include "foundation/arrays.h"
#include "foundation/state.h"
#include "model/likelihood.h"
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

}  // namespace
