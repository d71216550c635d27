// Time to draw and write the four pictures of a 48-preparation analysis
// (PNG and SVG of both plots), from a hand-made common-slope fit. PLplot
// draws in a child process, so the time that counts is the wall-clock time.
#include <benchmark/benchmark.h>
#include <stdlib.h>  // mkdtemp

#include <filesystem>
#include <string>

#include "export/plot_pictures.h"
#include "export/plot_series.h"
#include "fit/edition.h"
#include "foundation/arrays.h"
#include "foundation/state.h"
#include "session/analysis.h"

namespace {

using namespace varnalo;

constexpr int kPreparations = 48;
constexpr int kGroupsPerPreparation = 6;

// A fitted state: 48 preparations of six groups each, intercepts spread over
// a factor of about ten in potency, one slope, covariances that give limits.
void make_fit(AnalysisState& s) {
  s.edition = &kVariableMetricEdition;
  s.nprep = kPreparations;
  s.ngroups = ivector(1, s.nprep);
  s.maxgroups = kGroupsPerPreparation + 1;
  s.groups = d3tensor(1, s.nprep, 0, s.maxgroups, 1, 4);
  for (int j = 1; j <= s.nprep; ++j) {
    s.prep_names[j] = "PREPARATION_" + std::to_string(j);
    s.ngroups[j] = kGroupsPerPreparation;
    for (int g = 1; g <= kGroupsPerPreparation; ++g) {
      s.groups[j][g][1] = 0.3 * g;
      s.groups[j][g][2] = 40.0;
      s.groups[j][g][3] = 6.0 * g;
    }
  }
  s.nslopes = 1;
  s.npar = s.nprep + 1;
  alloc_work_arrays(s);
  const int P = s.nprep;
  for (int j = 1; j <= P; ++j) {
    s.params[j] = -2.0 - 0.02 * j;
    s.fit_cov[j][j] = 0.04;
    s.fit_cov[j][P + 1] = s.fit_cov[P + 1][j] = -0.01;
    s.prep_sum_w[j] = 30.0;
    s.prep_mean_x[j] = 1.0;
  }
  s.params[P + 1] = 2.5;
  s.fit_cov[P + 1][P + 1] = 0.05;
  s.het_factor = 1.0;
}

void BM_FourPicturesOf48Preparations(benchmark::State& state) {
  AnalysisState s;
  make_fit(s);
  const PlotSeries series = compute_plot_series(s);
  std::string pattern = (std::filesystem::temp_directory_path() / "varnalo-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::filesystem::path dir = pattern;
  for (auto _ : state) {
    const std::vector<std::string> names = write_plot_pictures(dir, series).names;
    state.PauseTiming();
    for (const std::string& name : names) std::filesystem::remove(dir / name);
    state.ResumeTiming();
  }
  std::filesystem::remove_all(dir);
  free_work_arrays(s);
  ivector_free(s.ngroups, 1, s.nprep);
  d3tensor_free(s.groups, 1, s.nprep, 0, s.maxgroups, 1, 4);
}
BENCHMARK(BM_FourPicturesOf48Preparations)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
