// Whole analyses of data that do not define every estimate: the published
// mouse-survival assays (five strains, complete and quasi-complete
// separation in three of them), complete separation in a file of its own,
// a preparation with one dose. One line per preparation says what is
// wrong; nothing not estimated is printed as a number in REPORT.TXT,
// TABLE.TXT, the plot files or the results; the session ends with status 0.
// Well-behaved data get none of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "apps/command_line.h"
#include "apps/program.h"
#include "fit/edition.h"
#include "foundation/console.h"
#include "foundation/process.h"
#include "support/harness.h"

namespace fs = std::filesystem;

namespace varnalo {
namespace {

using testing::TempWorkdir;

fs::path estimability_data() { return testing::reference_path("../data/estimability"); }

struct AnalysisRun {
  int status = -1;
  std::string report, table, sigmoid, linear, sigmoid_picture;
  nlohmann::json results;
};

// One analysis of the command line in-process, into a fresh folder.
AnalysisRun analyse(const Edition& edition, const fs::path& data, std::vector<std::string> args) {
  TempWorkdir dir;
  args.insert(args.begin(), {"Varnalo", "--quiet", "--data-dir", data.string(), "--output-dir",
                             dir.root().string()});
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  const CommandLine line = read_command_line(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(line.request, CommandLineRequest::kAnalyses) << line.error;
  ScriptedConsole console("");
  AnalysisRun run;
  run.status = run_given_analyses(line, edition, console);
  run.report = dir.read("REPORT.TXT");
  run.table = dir.read("TABLE.TXT");
  run.sigmoid = dir.read("SIGMOID.TXT");
  run.linear = dir.read("LINEAR.TXT");
  run.sigmoid_picture = dir.read("SIGMOID001.SVG");
  const std::string json = dir.read("ANALYSIS001.JSON");
  if (!json.empty()) run.results = nlohmann::json::parse(json);
  return run;
}

bool has_line(const std::string& text, const std::string& line) {
  return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// Numbers no estimate has: an identity matrix's error, a ridge's 1e50, a
// printed infinity or NaN.
void expect_no_fake_numbers(const std::string& text, const std::string& what) {
  for (const char* fake : {"1.0000000     ", "e+49", "e+50", "inf", "nan", "00000000000000000000"})
    EXPECT_EQ(text.find(fake), std::string::npos) << what << ": " << fake;
}

// Every data row of TABLE.TXT keeps its 40 fields.
void expect_forty_fields(const std::string& table, int rows) {
  std::istringstream in(table);
  std::string line;
  int seen = 0;
  bool data = false;
  while (std::getline(in, line)) {
    if (line.rfind("Preparations\t", 0) == 0) {
      data = true;
      continue;
    }
    if (!data || line.empty()) continue;
    ++seen;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 40) << line;
  }
  EXPECT_EQ(seen, rows);
}

const std::vector<std::string> kMouse = {"--log-dose", "--distribution", "logistic", "--model", "1",
                                         "--ed-table", "--plot", "PABL002", "PABL004", "PABL010",
                                         "PABL012", "PABL003"};

TEST(EstimabilitySession, MouseSurvivalCommonSlopeHoldsSeparateSlopesDoNot) {
  for (const Edition* edition : {&kVariableMetricEdition, &kSimplexEdition}) {
    const AnalysisRun run = analyse(*edition, estimability_data(), kMouse);
    const std::string program = edition->program_name;
    ASSERT_EQ(run.status, 0) << program;
    for (const char* strain : {"PABL002", "PABL004", "PABL010"})
      EXPECT_TRUE(has_line(run.report,
                           std::string("* ") + strain +
                               ": no finite maximum (complete or quasi-complete separation) in the "
                               "separate-slopes fit; its common-slope estimates hold."))
          << program << " " << strain << "\n" << run.report;
    for (const char* strain : {"PABL012", "PABL003"})
      EXPECT_EQ(run.report.find(std::string("* ") + strain), std::string::npos) << program;
    // The separate-slopes rows of a separated strain: its estimates, then "-".
    EXPECT_NE(run.report.find("               -             -       -  PABL004\n"),
              std::string::npos)
        << program;
    // Parallelism is rejected: each strain's own line gives its effective
    // doses too, and a separated strain's are "-".
    const std::size_t separate_table = run.report.find(
        "Effective Doses from the Separate-Slopes Fit (Parallelism Rejected)\n");
    ASSERT_NE(separate_table, std::string::npos) << program;
    EXPECT_NE(run.report.find(" 1          -(         -,         -)        -(       -,       -)  PABL002\n",
                              separate_table),
              std::string::npos)
        << program;
    // The common-slope fit (the simplex agrees to six digits) and its ED50.
    if (edition == &kVariableMetricEdition) {
      EXPECT_TRUE(has_line(run.report,
                           "  b          9.1357024   2.0939236    19.0354094  0.0000  "
                           "RegressionCoefficient"))
          << run.report;
    }
    EXPECT_NE(run.report.find(" 2 3.0721e+07(1.6030e+07,5.809"), std::string::npos) << program;
    expect_no_fake_numbers(run.report, program);
    expect_forty_fields(run.table, 5);
    // The notes reach the results; the separate-slopes errors are null.
    int notes = 0;
    for (const auto& note : run.results["notes"])
      if (note["kind"] == "not_estimable") ++notes;
    EXPECT_EQ(notes, 3) << program;
    const auto& separate = run.results["fits"][0]["estimates"][0]["parameters"];
    EXPECT_EQ(separate[2]["label"], "a2");
    EXPECT_TRUE(separate[2]["std_error"].is_null());
    EXPECT_TRUE(separate[2]["p"].is_null());
    EXPECT_FALSE(separate[6]["std_error"].is_null());  // a4, PABL012
  }
}

TEST(EstimabilitySession, CompleteSeparationInAFileOfItsOwn) {
  TempWorkdir data;
  data.write_data("SEP.TXT", "1 10 0\n2 10 0\n4 10 10\n8 10 10\n");
  for (const Edition* edition : {&kVariableMetricEdition, &kSimplexEdition}) {
    const AnalysisRun run = analyse(*edition, data.root() / "DATA", {"--plot", "--ed-table", "SEP"});
    const std::string program = edition->program_name;
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(has_line(run.report,
                         "* SEP: no finite maximum (complete or quasi-complete separation): no standard "
                         "errors, no effective doses."))
        << program << run.report;
    EXPECT_TRUE(has_line(run.report, "  a1            -  (         -)")) << program;
    EXPECT_TRUE(has_line(run.report, "  u ( 0.050) = 1.959960,  g ( 0.050) =        -"));
    EXPECT_EQ(run.report.find("exceeded 1.0"), std::string::npos) << program;
    EXPECT_TRUE(has_line(run.report,
                         "  Effective doses are not available for this fit (the data define no "
                         "estimates)."))
        << program;
    expect_no_fake_numbers(run.report, program);
    expect_forty_fields(run.table, 1);
    // ED50 and its limits, Rho and its limits: empty cells.
    EXPECT_NE(run.table.find("SEP\t4\t\t\t\t\t\t\t\t\t\t\t\t\tY="), std::string::npos) << run.table;
    // The observed points stay; the curve, line and band are left out.
    EXPECT_NE(run.sigmoid.find("0.602060\t1.000000\n"), std::string::npos);
    std::istringstream lines(run.sigmoid);
    int points = 0;
    for (std::string line; std::getline(lines, line);)
      if (!line.empty() && (std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '-'))
        ++points;
    EXPECT_EQ(points, 4) << run.sigmoid;
    // The picture says why it has no curve, and shows no ED50.
    EXPECT_NE(run.sigmoid_picture.find(
                  "No fitted curve (the data define no estimates): observed points only"),
              std::string::npos);
    EXPECT_EQ(run.sigmoid_picture.find("ED50"), std::string::npos);
    EXPECT_TRUE(run.results["effective_doses"][0]["preparations"][0]["ed"].is_null());
    EXPECT_TRUE(run.results["fits"][0]["estimates"][0]["covariance"]["matrix"][0][0].is_null());
  }
}

// A preparation with one dose (and controls) beside rotenone: its own slope
// is not defined; under the common slope it has an effective dose.
TEST(EstimabilitySession, APreparationWithOneDose) {
  TempWorkdir data;
  data.write_data("ONE.TXT", "5 10 4\n5 12 7\n0 10 0\n");
  data.copy_data(testing::examples_path("DATA/ROTENONE.TXT"));
  const AnalysisRun run = analyse(kVariableMetricEdition, data.root() / "DATA", {"ROTENONE", "ONE"});
  ASSERT_EQ(run.status, 0);
  EXPECT_TRUE(has_line(run.report,
                       "* ONE: too few distinct doses (controls not counted) in the "
                       "separate-slopes fit; its common-slope estimates hold."))
      << run.report;
  EXPECT_TRUE(has_line(run.report,
                       "  b2         1.0354274           -             -       -  "
                       "RegressionCoefficient"))
      << run.report;
  EXPECT_NE(run.report.find(" 2 5.0000e+00(3.7279e+00,6.7061e+00)"), std::string::npos) << run.report;
  expect_no_fake_numbers(run.report, "one dose");

  // A file of one group alone: two parameters on one group leave no degrees
  // of freedom, shown as "-" rather than -1, and no effective dose.
  TempWorkdir single;
  single.write_data("SINGLE.TXT", "5 20 8\n");
  const AnalysisRun alone = analyse(kVariableMetricEdition, single.root() / "DATA", {"SINGLE"});
  ASSERT_EQ(alone.status, 0);
  EXPECT_TRUE(has_line(alone.report,
                       "  Heterogeneity     -     0.0000000             -             -"))
      << alone.report;
  EXPECT_EQ(alone.report.find(" -1 "), std::string::npos) << alone.report;
  EXPECT_NE(alone.report.find("Effective doses are not available for this fit"), std::string::npos);
}

// A preparation without responders beside rotenone: its intercept runs away
// under both fits; its rows of effective doses and potencies are "-", the
// other preparation's stand, with the limits of rotenone analysed alone.
TEST(EstimabilitySession, APreparationWithoutRespondersBesideAnother) {
  TempWorkdir data;
  data.write_data("ZERO.TXT", "1 10 0\n2 10 0\n4 10 0\n");
  data.copy_data(testing::examples_path("DATA/ROTENONE.TXT"));
  const AnalysisRun run =
      analyse(kVariableMetricEdition, data.root() / "DATA", {"--reference", "1", "ROTENONE", "ZERO"});
  ASSERT_EQ(run.status, 0);
  EXPECT_TRUE(has_line(run.report,
                       "* ZERO: no finite maximum (complete or quasi-complete separation) in both "
                       "fits: nothing is estimated for it."))
      << run.report;
  EXPECT_TRUE(has_line(run.report,
                       " 1 4.8455e+00(4.3634e+00,5.3542e+00)  0.68534( 0.63983, 0.72870)  "
                       "ROTENONE"))
      << run.report;
  EXPECT_TRUE(has_line(run.report, " 2          -(         -,         -)        -(       -,       -)  ZERO"));
  EXPECT_TRUE(has_line(run.report, " m2             -            -            -  ZERO"));
  expect_no_fake_numbers(run.report, "no responders");
  expect_forty_fields(run.table, 2);
  EXPECT_NE(run.table.find("ZERO\t3\t\t\t\t\t\t\t\t\t\t\t\t\tY="), std::string::npos) << run.table;
  const auto& eds = run.results["effective_doses"][0]["preparations"];
  EXPECT_FALSE(eds[0]["ed"].is_null());
  EXPECT_TRUE(eds[1]["ed"].is_null());
  EXPECT_TRUE(run.results["relative_potencies"][0]["preparations"][1]["rho"].is_null());
}

// Well-behaved data: no line, no note.
TEST(EstimabilitySession, WellBehavedDataSayNothing) {
  TempWorkdir data;
  data.copy_data(testing::examples_path("DATA/ROTENONE.TXT"));
  data.copy_data(testing::examples_path("DATA/BEETLE.TXT"));
  for (int model = 1; model <= 8; ++model) {
    const AnalysisRun run = analyse(kVariableMetricEdition, data.root() / "DATA",
                            {"--model", std::to_string(model), "ROTENONE", "BEETLE"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.report.find("* ROTENONE:"), std::string::npos) << model;
    EXPECT_EQ(run.report.find("* BEETLE:"), std::string::npos) << model;
    for (const auto& note : run.results["notes"]) EXPECT_NE(note["kind"], "not_estimable");
  }
}

}  // namespace
}  // namespace varnalo
