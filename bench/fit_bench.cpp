// Time of one whole fit step (starting values, maximiser, and the check of
// the maximum) on the rotenone data, for models without and with the rates
// C and D, in both programs. The check searches from the end point and,
// for a model with C or D, from a grid of starting rates: these figures
// show what it costs. The check alone is also timed on 48 preparations of
// 20 groups with C and D, from the maximum the fit step found (what every
// fit that ends right pays for it).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "fit/fit_driver.h"
#include "fit/maximum_check.h"
#include "fit/simplex.h"
#include "foundation/console.h"
#include "foundation/state.h"
#include "model/initial_values.h"
#include "model/model_form.h"
#include "session/analysis.h"

namespace {

using namespace varnalo;

constexpr double kRotenone[][3] = {
    {2.6, 50, 6}, {3.8, 48, 16}, {5.1, 46, 24}, {7.7, 49, 42}, {10.2, 50, 44}};

// Rotenone with a control group of 2 responders in 49 (the constructed
// variant of the reference tests), so that C has something to fit.
void load(AnalysisState& s, int distribution, int model) {
  s.distribution = distribution;
  s.model = model;
  s.nprep = 1;
  s.nslopes = 1;
  s.npar = model_form(model).extra_count() + 2;
  const int n = static_cast<int>(std::size(kRotenone)) + 1;
  s.ngroups = ivector(1, 1);
  s.ngroups[1] = n;
  s.maxgroups = n + 1;
  s.total_groups = n;
  s.groups = d3tensor(1, 1, 0, s.maxgroups, 1, 4);
  s.groups[1][1][1] = kZeroDoseLog;
  s.groups[1][1][2] = 49;
  s.groups[1][1][3] = 2;
  for (int j = 2; j <= n; ++j) {
    s.groups[1][j][1] = std::log10(kRotenone[j - 2][0]);
    s.groups[1][j][2] = kRotenone[j - 2][1];
    s.groups[1][j][3] = kRotenone[j - 2][2];
  }
  for (int c = 1; c <= 3; ++c) s.groups[1][n + 1][c] = 1e50;
}

template <FitResult (*Fit)(AnalysisState&, DRef)>
void BM_Fit(benchmark::State& state) {
  AnalysisState s;
  load(s, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    ScriptedConsole console("");
    s.console = &console;
    alloc_work_arrays(s);
    DVector start = dvector(1, s.param_capacity());
    initial_values(s, start);
    benchmark::DoNotOptimize(Fit(s, start));
    benchmark::DoNotOptimize(s.max_loglik);
    free_work_arrays(s);
  }
}
BENCHMARK_TEMPLATE(BM_Fit, fit_model)
    ->ArgsProduct({{1, 2, 3}, {1, 2, 4, 7, 8}})
    ->ArgNames({"distribution", "model"});
BENCHMARK_TEMPLATE(BM_Fit, fit_model_simplex)
    ->ArgsProduct({{2}, {1, 2, 4, 7, 8}})
    ->ArgNames({"distribution", "model"});

// 48 preparations of 20 groups (50 subjects each) on a common line with
// C = 0.06 and D = 0.04, responders drawn from a fixed sequence.
void load_48x20(AnalysisState& s, int distribution, int model) {
  constexpr int kPreparations = 48, kGroups = 20;
  s.distribution = distribution;
  s.model = model;
  s.nprep = kPreparations;
  s.nslopes = 1;
  s.npar = kPreparations + 1 + model_form(model).extra_count();
  s.ngroups = ivector(1, kPreparations);
  s.maxgroups = kGroups + 1;
  s.total_groups = kPreparations * kGroups;
  s.groups = d3tensor(1, kPreparations, 0, s.maxgroups, 1, 4);
  std::uint32_t seed = 2024u;
  auto uniform = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return (seed + 0.5) / 4294967296.0;
  };
  for (int i = 1; i <= kPreparations; ++i) {
    s.ngroups[i] = kGroups;
    const double ed50 = 0.02 * i;
    for (int j = 1; j <= kGroups; ++j) {
      const double x = ed50 - 1.0 + 2.0 * j / kGroups;
      const double p = 0.06 + 0.9 / (1.0 + std::exp(-3.5 * (x - ed50)));
      int r = 0;
      for (int k = 0; k < 50; ++k) r += uniform() < p ? 1 : 0;
      s.groups[i][j][1] = x;
      s.groups[i][j][2] = 50;
      s.groups[i][j][3] = r;
    }
    for (int c = 1; c <= 3; ++c) s.groups[i][kGroups + 1][c] = 1e50;
  }
}

void BM_CheckAlone(benchmark::State& state) {
  AnalysisState s;
  load_48x20(s, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  ScriptedConsole console("");
  s.console = &console;
  alloc_work_arrays(s);
  DVector start = dvector(1, s.param_capacity());
  initial_values(s, start);
  fit_model(s, start);
  std::vector<double> end;
  for (int e = 1; e <= s.npar; ++e) end.push_back(s.params[e]);
  DVector p = dvector(1, s.param_capacity());
  for (auto _ : state) {
    for (int e = 1; e <= s.npar; ++e) p[e] = end[static_cast<std::size_t>(e) - 1];
    double fmin = 0.0;
    benchmark::DoNotOptimize(check_maximum(s, p, &fmin, true));
    benchmark::DoNotOptimize(fmin);
  }
  dvector_free(p, 1, s.param_capacity());
  dvector_free(start, 1, s.param_capacity());
  free_work_arrays(s);
}
BENCHMARK(BM_CheckAlone)
    ->ArgsProduct({{1, 2}, {1, 4}})
    ->ArgNames({"distribution", "model"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
