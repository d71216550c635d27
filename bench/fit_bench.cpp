// Time of one whole fit step (starting values, maximiser, and the check of
// the maximum) on the rotenone data, for models without and with the rates
// C and D, in both programs. The check searches from the end point and,
// for a model with C or D, from a grid of starting rates: these figures
// show what it costs.
#include <benchmark/benchmark.h>

#include <cmath>

#include "fit/fit_driver.h"
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

}  // namespace
