// Whole analyses whose numbers outgrow their columns, and analyses whose
// preparations are not parallel: the report's tables keep their columns, and
// a rejected test of parallelism brings each preparation's effective doses
// from its own line.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "apps/command_line.h"
#include "apps/program.h"
#include "fit/edition.h"
#include "foundation/console.h"
#include "support/harness.h"

namespace fs = std::filesystem;

namespace varnalo {
namespace {

using testing::examples_path;
using testing::TempWorkdir;

// Runs the analyses of a command line in-process in dir; returns the report.
std::string run_report(const TempWorkdir& dir, std::vector<std::string> args,
                       const Edition& edition = kVariableMetricEdition) {
  args.insert(args.begin(), {"Varnalo", "--quiet", "--data-dir", (dir.root() / "DATA").string(),
                             "--output-dir", dir.root().string()});
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  const CommandLine line = read_command_line(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(line.request, CommandLineRequest::kAnalyses) << line.error;
  ScriptedConsole console("");
  EXPECT_EQ(run_given_analyses(line, edition, console), 0);
  return dir.read("REPORT.TXT");
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The rows of every "Parameter Estimates" table.
std::vector<std::string> estimate_rows(const std::string& report) {
  std::vector<std::string> rows;
  bool inside = false;
  for (const std::string& line : lines_of(report)) {
    if (line == "Parameter Estimates") {
      inside = true;
      continue;
    }
    if (inside && line.rfind("  #", 0) == 0) continue;
    if (inside && line.rfind("  ", 0) == 0 && line.size() > 40) {
      rows.push_back(line);
      continue;
    }
    inside = false;
  }
  return rows;
}

TEST(WideColumns, AWaldChiSquareOfAHundredThousandKeepsItsColumn) {
  TempWorkdir dir;
  dir.copy_data(examples_path("DATA/BEETLE.TXT"));
  const std::string report = run_report(dir, {"--log-dose", "BEETLE"});
  // Today's location estimate of BEETLE: its Wald chi-square is above
  // 100,000, which the fixed form would run into the standard error.
  EXPECT_NE(report.find("  m1     1.7708524       0.0037779 2.1971939e+05  0.0000  BEETLE\n"),
            std::string::npos)
      << report;
  const std::vector<std::string> rows = estimate_rows(report);
  ASSERT_GE(rows.size(), 4u);
  // Every row's p value stands in the same columns, after a blank.
  for (const std::string& row : rows) {
    EXPECT_EQ(row[34], ' ') << row;  // the Wald cell keeps its leading blank
    EXPECT_EQ(row[48], ' ') << row;
    EXPECT_EQ(row[51], '.') << row;
    EXPECT_EQ(row.substr(56, 2), "  ") << row;
  }
}

}  // namespace
}  // namespace varnalo
