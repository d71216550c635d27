// Whole analyses, from the data files to TABLE.TXT, against the independent
// reference values: catches faults in how the stages hand results to each
// other (order, rescaling, the covariance chosen), which stage tests with
// preset parameters cannot see.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "session/run.h"
#include "support/harness.h"
#include "support/reference_data.h"

namespace varnalo {
namespace {

using testing::ReferenceValues;
using testing::reference_path;
using testing::run_session;
using testing::TempWorkdir;

// TABLE.TXT prints six decimals: half a unit of the last one.
constexpr double kPrintedDecimals = 5e-7;
// The fit is held to six significant digits of the reference maximum.
constexpr double kSixDigits = 1e-6;

// The data rows of the TABLE.TXT block, split at tabs (field 1 first).
std::vector<std::vector<std::string>> table_rows(const std::string& table) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("BUDWORM", 0) != 0 && line.rfind("BEETLE", 0) != 0) continue;
    std::vector<std::string> fields(1);  // fields[0] unused: numbering from 1
    std::istringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, '\t')) fields.push_back(cell);
    rows.push_back(fields);
  }
  return rows;
}

// Budworm (two preparations), model 1, "Finney Equivalent", Enter at every
// menu but the distribution; leaves both dialogues with "q".
std::string budworm_session(int distribution, int variance_method = 2) {
  return "\n" + std::to_string(variance_method) + "\nBUDWORM_M\nBUDWORM_F\nq\n"
         "\n\n" +                               // listing pauses
         std::to_string(distribution) + "\n\n"  // distribution, model 1
         "\n\n\n\n"                             // separate slopes: edit?, two frequency pauses, estimates
         "\n\n\n"                               // common slope: edit?, two frequency pauses
         "\n\n\n\n"                             // two levels, chi-square choice, pause
         "\n\n\n\n"                             // estimate and matrix pauses
         "\n"                                   // 95 per cent limits only
         "q\nq\n"                               // leave the ED and potency dialogues
         "\nq";                                 // no plots, end
}

void expect_field(const std::vector<std::string>& row, int field, double expected,
                  const std::string& what, double relative = kSixDigits) {
  ASSERT_LT(static_cast<std::size_t>(field), row.size()) << what;
  const double got = std::strtod(row[field].c_str(), nullptr);
  EXPECT_NEAR(got, expected, kPrintedDecimals + relative * std::fabs(expected))
      << what << " (field " << field << ")";
}

TEST(ReferenceSession, BudwormTableRowsMatchTheIndependentFits) {
  const ReferenceValues& ref = ReferenceValues::get();
  if (!ref.has("budworm.d1.m1.common", "aic")) GTEST_SKIP() << "no reference values";
  for (const Edition* edition : {&kVariableMetricEdition, &kSimplexEdition})
    for (int d = 1; d <= 3; ++d) {
      TempWorkdir dir;
      dir.copy_data(reference_path("data/BUDWORM_M.TXT"));
      dir.copy_data(reference_path("data/BUDWORM_F.TXT"));
      const auto result = run_session(*edition, dir, budworm_session(d));
      const std::string c = testing::reference_case("budworm", d, 1, false);
      const std::string what = std::string(edition->program_name) + " " + c;
      ASSERT_EQ(result.status, 0) << what << result.errors;
      const auto rows = table_rows(result.table);
      ASSERT_EQ(rows.size(), 2u) << what;
      for (int j = 1; j <= 2; ++j) {
        const auto& row = rows[j - 1];
        const std::string J = std::to_string(j);
        EXPECT_EQ(row.size(), 41u) << what << ": 40 tab-terminated fields";
        expect_field(row, 6, ref.at(c, "ed50_log_" + J), what + " log ED50");
        expect_field(row, 7, ref.at(c, "ed50_lo95_fnm_z_" + J), what + " lower limit");
        expect_field(row, 8, ref.at(c, "ed50_hi95_fnm_z_" + J), what + " upper limit");
        expect_field(row, 12, ref.at(c, "rp1_log_" + J), what + " log Rho");
        if (j == 2) {
          expect_field(row, 13, ref.at(c, "rp1_lo95_fnm_z_" + J), what + " Rho lower");
          expect_field(row, 14, ref.at(c, "rp1_hi95_fnm_z_" + J), what + " Rho upper");
        }
        expect_field(row, 16, ref.at(c, "a" + J), what + " intercept");
        expect_field(row, 17, ref.at(c, "se_a" + J), what + " its standard error");
        expect_field(row, 18, ref.at(c, "b"), what + " slope");
        expect_field(row, 19, ref.at(c, "se_b"), what + " its standard error");
        expect_field(row, 30, ref.at(c, "het_lr"), what + " heterogeneity LR");
        expect_field(row, 31, ref.at(c, "het_pearson"), what + " heterogeneity Pearson");
        expect_field(row, 32, ref.at(c, "het_df"), what + " heterogeneity DF");
        expect_field(row, 33, ref.at(c, "par_lr"), what + " parallelism LR");
        expect_field(row, 34, ref.at(c, "par_pearson"), what + " parallelism Pearson");
        expect_field(row, 36, 1.0, what + " heterogeneity factor");
        expect_field(row, 38, ref.at(c, "aic"), what + " AIC");
        expect_field(row, 40, ref.at(c, "max_loglik"), what + " ^L");
      }
    }
}

// The simplex program has no maximiser matrix: both variance methods use the
// inverse information, so its reports are the same but for the method's
// name. So are the TABLE.TXT rows, except the reference preparation's own
// potency limits, which the mean-centred form of the second method puts on
// either side of 0 by design.
TEST(ReferenceSession, SimplexProgramGivesOneAnswerUnderBothVarianceMethods) {
  for (int d = 1; d <= 3; ++d) {
    TempWorkdir sas_dir, finney_dir;
    for (const TempWorkdir* dir : {&sas_dir, &finney_dir}) {
      dir->copy_data(reference_path("data/BUDWORM_M.TXT"));
      dir->copy_data(reference_path("data/BUDWORM_F.TXT"));
    }
    auto sas = run_session(kSimplexEdition, sas_dir, budworm_session(d, 1));
    auto finney = run_session(kSimplexEdition, finney_dir, budworm_session(d, 2));
    ASSERT_EQ(sas.status, 0) << sas.errors;
    ASSERT_EQ(finney.status, 0) << finney.errors;
    auto replace = [](std::string text, const std::string& from, const std::string& to) {
      const auto at = text.find(from);
      if (at != std::string::npos) text.replace(at, from.size(), to);
      return text;
    };
    EXPECT_EQ(replace(sas.report, "1: SAS Equivalent\n", "2: Finney Equivalent\n"), finney.report);
    const auto sas_rows = table_rows(sas.table);
    const auto finney_rows = table_rows(finney.table);
    ASSERT_EQ(sas_rows.size(), 2u);
    ASSERT_EQ(finney_rows.size(), 2u);
    EXPECT_EQ(sas_rows[1], finney_rows[1]);
    EXPECT_NE(sas.screen.find("* Since NelderMead Routine does not produce Covariance Matrix\n"
                              "  elements are obtained by inversion of 2nd differentials.\n\n"),
              std::string::npos);
    EXPECT_EQ(finney.screen.find("* Since NelderMead Routine"), std::string::npos);
  }
}

// The t deviate comes from the Cornish-Fisher expansion, good to about five
// decimals at 6 degrees of freedom; limits built on it inherit that.
constexpr double kCornishFisher = 2e-5;

// Beetle (log doses), model 1, "Finney Equivalent", with both significance
// levels at 0.9 so that heterogeneity is significant in all three
// distributions: the Pearson heterogeneity factor rescales the variances and
// t deviates with 6 degrees of freedom replace the normal ones.
TEST(ReferenceSession, SignificantHeterogeneityRescalesAndUsesTDeviates) {
  const ReferenceValues& ref = ReferenceValues::get();
  if (!ref.has("beetle.d1.m1.common", "aic")) GTEST_SKIP() << "no reference values";
  for (int d = 1; d <= 3; ++d) {
    TempWorkdir dir;
    dir.copy_data(testing::examples_path("DATA/BEETLE.TXT"));
    const std::string input = "2\n2\nBEETLE\nq\n\n" + std::to_string(d) +
                              "\n\n"         // distribution, model 1
                              "\n\n"         // edit?, frequency pause
                              "0.9\n0.9\n\n\n"  // levels, Pearson, pause
                              "\n\n\n\n\n"    // report pauses, 95 per cent only
                              "q\n\nq";     // leave the ED dialogue, no plots, end
    const auto result = run_session(kVariableMetricEdition, dir, input);
    const std::string c = testing::reference_case("beetle", d, 1, false);
    ASSERT_EQ(result.status, 0) << c << result.errors;
    EXPECT_NE(result.report.find("a t-deviate ( 6 DF) is used."), std::string::npos) << c;
    const auto rows = table_rows(result.table);
    ASSERT_EQ(rows.size(), 1u) << c;
    const auto& row = rows[0];
    const double h = ref.at(c, "hetfac_pearson");
    expect_field(row, 36, h, c + " heterogeneity factor");
    expect_field(row, 37, ref.at(c, "tdev95"), c + " t deviate", kCornishFisher);
    expect_field(row, 17, ref.at(c, "se_a1") * std::sqrt(h), c + " rescaled standard error");
    expect_field(row, 19, ref.at(c, "se_b") * std::sqrt(h), c + " rescaled standard error");
    expect_field(row, 6, ref.at(c, "ed50_log_1"), c + " log ED50");
    expect_field(row, 7, ref.at(c, "ed50_lo95_fnm_t_1"), c + " lower t limit", kCornishFisher);
    expect_field(row, 8, ref.at(c, "ed50_hi95_fnm_t_1"), c + " upper t limit", kCornishFisher);
  }
}

}  // namespace
}  // namespace varnalo
