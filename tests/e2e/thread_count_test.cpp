// A whole analysis of a data set large enough to be summed in blocks on
// several threads writes the same files, byte for byte, at one thread and at
// four: the blocks are fixed and their sums are added in a fixed order.
#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <cmath>
#include <cstdio>
#include <iterator>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "apps/command_line.h"
#include "apps/program.h"
#include "fit/edition.h"
#include "foundation/console.h"
#include "model/likelihood_kernel.h"
#include "support/harness.h"

namespace fs = std::filesystem;

namespace varnalo {
namespace {

using testing::TempWorkdir;

constexpr int kPreparations = 12;
constexpr int kGroupsEach = 200;
static_assert(kPreparations * kGroupsEach > kParallelGroups, "the sums must run in blocks");

// Twelve logistic preparations of 200 groups each, with a control group and
// responders drawn from a fixed seed (mt19937's raw output is the same on
// every platform).
std::vector<std::string> write_large_set(const TempWorkdir& dir) {
  std::mt19937 draw(20261208);
  auto uniform = [&draw] { return (draw() + 0.5) / 4294967296.0; };
  std::vector<std::string> names;
  for (int i = 1; i <= kPreparations; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "LARGE%02d", i);
    names.push_back(name);
    std::string text = "0 40 " + std::to_string(static_cast<int>(4 * uniform())) + "\n";
    const double slope = 2.0 + 0.3 * i, ed50 = 1.0 + 0.05 * i;
    for (int j = 0; j < kGroupsEach; ++j) {
      const double x = 0.2 + 1.6 * j / kGroupsEach;
      const double p = 0.05 + 0.95 / (1.0 + std::exp(-slope * (x - ed50) * std::log(10.0)));
      int r = 0;
      for (int k = 0; k < 20; ++k) r += uniform() < p ? 1 : 0;
      char line[64];
      std::snprintf(line, sizeof line, "%.6g 20 %d\n", std::pow(10.0, x), r);
      text += line;
    }
    dir.write_data(std::string(name) + ".TXT", text);
  }
  return names;
}

TEST(ThreadCount, AWholeAnalysisWritesTheSameFilesAtOneThreadAndAtFour) {
  TempWorkdir dir;
  const std::vector<std::string> names = write_large_set(dir);
  std::vector<std::string> args = {"Varnalo", "--data-dir", (dir.root() / "DATA").string(),
                                   "--quiet", "--distribution", "logistic", "--model", "2",
                                   "--plot", "--output-dir"};
  auto run = [&](int threads, const fs::path& out) {
    std::vector<std::string> line_args = args;
    line_args.push_back(out.string());
    line_args.insert(line_args.end(), names.begin(), names.end());
    std::vector<const char*> argv;
    for (const std::string& arg : line_args) argv.push_back(arg.c_str());
    const CommandLine line = read_command_line(static_cast<int>(argv.size()), argv.data());
    ASSERT_EQ(line.request, CommandLineRequest::kAnalyses) << line.error;
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
    ScriptedConsole console("");
    EXPECT_EQ(run_given_analyses(line, kVariableMetricEdition, console), 0);
  };
  const fs::path one = dir.root() / "one", four = dir.root() / "four";
  run(1, one);
  run(4, four);
  int files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(one)) {
    const std::string name = entry.path().filename().string();
    ASSERT_TRUE(fs::exists(four / name)) << name;
    EXPECT_EQ(dir.read("one/" + name), dir.read("four/" + name)) << name;
    ++files;
  }
  EXPECT_GE(files, 7) << "report, table, plot data, pictures, JSON and CSV";
  EXPECT_NE(dir.read("one/REPORT.TXT").find("LARGE12"), std::string::npos);
  EXPECT_EQ(files, std::distance(fs::directory_iterator(four), fs::directory_iterator()));
}

}  // namespace
}  // namespace varnalo
