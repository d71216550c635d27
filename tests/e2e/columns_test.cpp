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

// Two preparations whose lines are far from parallel (probit slopes of
// about 6 and 1.3 per decade), each fitting its own line well.
constexpr const char* kSteep = "2 50 3\n3 50 11\n4 50 24\n5 50 38\n6 50 46\n";
constexpr const char* kShallow = "0.5 50 6\n2 50 14\n8 50 26\n32 50 36\n128 50 44\n";
// A copy of the steep preparation at twice the doses: parallel to it.
constexpr const char* kSteepTwice = "4 50 3\n6 50 11\n8 50 24\n10 50 38\n12 50 46\n";

const char* const kSeparateHeading =
    "Effective Doses from the Separate-Slopes Fit (Parallelism Rejected)\n";

// The rows of the limits tables in text, each without its number, in order.
std::vector<std::string> limit_rows(const std::string& text) {
  std::vector<std::string> rows;
  for (const std::string& line : lines_of(text))
    if (line.size() > 3 && line[0] == ' ' && line[1] >= '1' && line[1] <= '9' && line[2] == ' ' &&
        line.find('(') != std::string::npos)
      rows.push_back(line.substr(3));
  return rows;
}

// The ED rows of the report between two headings.
std::string between(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t begin = text.find(from);
  if (begin == std::string::npos) return "";
  const std::size_t end = text.find(to, begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

TEST(RejectedParallelism, EachPreparationGetsTheEffectiveDosesOfItsOwnLine) {
  for (const char* variance : {"finney", "sas"}) {
    SCOPED_TRACE(variance);
    TempWorkdir both_dir, alone_dir;
    for (const TempWorkdir* dir : {&both_dir, &alone_dir}) {
      dir->write_data("STEEP.TXT", kSteep);
      dir->write_data("SHALLOW.TXT", kShallow);
    }
    const std::string report =
        run_report(both_dir, {"--variance", variance, "--ed-table", "STEEP", "SHALLOW"});
    ASSERT_NE(report.find("* Problems may exist in parallelism."), std::string::npos);
    // The common-slope tables come first, then the separate ones under their
    // own heading, then the line on the potencies.
    const std::size_t common = report.find("Effective Dose Estimates\n");
    const std::size_t separate = report.find(kSeparateHeading);
    const std::size_t note =
        report.find("  The relative potencies assume parallel lines, which the test rejected.\n");
    ASSERT_NE(separate, std::string::npos);
    EXPECT_LT(common, separate);
    EXPECT_LT(separate, note);
    EXPECT_LT(note, report.find("Relative Potency Estimates (Rho)"));
    EXPECT_EQ(testing::count_of(report, kSeparateHeading), 1);
    const std::string json = both_dir.read("ANALYSIS001.JSON");
    EXPECT_EQ(testing::count_of(json, "\"separate_slopes\": ["), 7) << "one per ED level";
    EXPECT_NE(json.find("\"kind\": \"parallel_lines_assumed\""), std::string::npos);

    // An independent check: each preparation analysed alone has the same
    // line, so the same effective doses and, with the variances of the
    // expected information, the same limits to the last digit.
    const std::string alone =
        run_report(alone_dir, {"--variance", variance, "--ed-table", "--each", "STEEP", "SHALLOW"});
    const std::vector<std::string> own = limit_rows(
        between(report, kSeparateHeading, "  The relative potencies"));
    const std::vector<std::string> single = limit_rows(alone);
    ASSERT_EQ(own.size(), 14u);
    ASSERT_EQ(single.size(), 14u);
    for (std::size_t level = 0; level < 7; ++level) {
      const std::string& both_steep = own[2 * level];
      const std::string& both_shallow = own[2 * level + 1];
      const std::string& alone_steep = single[level];
      const std::string& alone_shallow = single[7 + level];
      if (std::string(variance) == "finney") {
        EXPECT_EQ(both_steep, alone_steep);
        EXPECT_EQ(both_shallow, alone_shallow);
      } else {
        // The maximiser's metric of two fits differs in the last places of
        // the limits; the effective doses themselves are the same.
        EXPECT_EQ(both_steep.substr(0, 10), alone_steep.substr(0, 10));
        EXPECT_EQ(both_shallow.substr(0, 10), alone_shallow.substr(0, 10));
        EXPECT_NEAR(std::stod(both_shallow.substr(11, 10)), std::stod(alone_shallow.substr(11, 10)),
                    1e-3 * std::stod(alone_shallow.substr(11, 10)));
      }
    }
  }
}

TEST(RejectedParallelism, ParallelPreparationsShowTheCommonSlopeAlone) {
  TempWorkdir dir;
  dir.write_data("STEEP.TXT", kSteep);
  dir.write_data("TWICE.TXT", kSteepTwice);
  const std::string report = run_report(dir, {"--ed-table", "STEEP", "TWICE"});
  ASSERT_NE(report.find("* No problems in parallelism.\n"), std::string::npos);
  EXPECT_EQ(report.find(kSeparateHeading), std::string::npos);
  EXPECT_EQ(report.find("assume parallel lines"), std::string::npos);
  EXPECT_EQ(dir.read("ANALYSIS001.JSON").find("\"separate_slopes\": ["), std::string::npos);
}

}  // namespace
}  // namespace varnalo
