// TABLE.TXT block: title lines, 40 tab-terminated fields per row and their
// values against closed forms.
#include "export/summary_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/output.h"
#include "session/run.h"
#include "potency/effective_dose.h"
#include "session/analysis.h"
#include "support/hand_fit.h"
#include "support/reference_data.h"
#include "potency/relative_potency.h"

namespace varnalo {
namespace {

using testing::HandFit;
using testing::load_hand_fit;
using testing::quadratic_limits;
using testing::read_stream;
using testing::StageFixture;

constexpr const char* kTitleLine =
    "Preparations\tDoseGroups\tED50    \t95%LLimit\t95%ULimit\tLog(ED50)\t95%LLimit\t95%ULimit\t"
    "Rho     \t95%LLimit\t95%ULimit\tLog(Rho) \t95%LLimit\t95%ULimit\tFormulae\t"
    "a Intercept\tStd.Err. \tb\tStd.Err. \tC\tStd.Err. \tD\tStd.Err. \t"
    "mu=Log(ED50)\tStd.Err. \tM=Log(Rho)\tStd.Err. \tsigma\tStd.Err. \t"
    "L.R.Chi2Hetero\tPearsonChi2Hetero\tDFHetero\t"
    "L.R.Chi2Parallel\tPearsonChi2Parallel\tDFParallel\t"
    "HeterogeneityFactor\tt at 2.5%\tAIC\tNumber of Parameters\tMaximum Log Likelihood\t\n";
constexpr int kFields = 40;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

// Fields of a data row; every field is followed by a tab.
std::vector<std::string> fields_of(const std::string& row) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t tab = row.find('\t'); tab != std::string::npos; tab = row.find('\t', start)) {
    fields.push_back(row.substr(start, tab - start));
    start = tab + 1;
  }
  EXPECT_EQ(row.size(), start) << "row does not end with a tab";
  return fields;
}

std::string lf(double v) { return strprintf("%lf", v); }

// One Normal preparation, a = -1, b = 2 (log ED50 = 0.5), model 1, and the
// goodness-of-fit values of its only fit.
struct TableRun {
  StageFixture fx;
  std::FILE* table = std::tmpfile();
  TableRun(const HandFit& h, int method = 1) {
    load_hand_fit(fx, h);
    AnalysisState& s = fx.state();
    s.variance_method = method;
    s.table_file = table;
    s.sep_lr_chi2 = s.lr_chi2 = 3.5;
    s.sep_pearson_chi2 = s.pearson_chi2 = 3.2;
    s.sep_df = s.df = 3.0;
    s.aic = 10.5;
    s.npar = 1 + h.a.size();
    s.max_loglik = -3.25;
    alloc_potency_arrays(s);
    compute_deviates(s, s.conf_alpha, s.conf_deviates);
  }
  ~TableRun() { std::fclose(table); }
  std::string write() {
    relative_potency_dialogue(fx.state(), fx.answers());
    write_summary_table(fx.state());
    return read_stream(table);
  }
};

HandFit one_prep() { return {{-1.0}, 2.0, {{0.04, -0.03}, {-0.03, 0.05}}, {30.0}, {0.45}}; }

TEST(SummaryTable, OnePreparationBlock) {
  TableRun run(one_prep());
  const std::string text = run.write();
  const std::string head = std::string("Distribution\tModel\tAlgorithm\tMethod\n1\t1\tDFP\t1\n\n") +
                           kTitleLine;
  ASSERT_EQ(0u, text.find(head));
  const std::vector<std::string> lines = lines_of(text.substr(head.size()));
  ASSERT_EQ(2u, lines.size());  // one row, then the closing blank line
  EXPECT_EQ("", lines[1]);
  const std::vector<std::string> f = fields_of(lines[0]);
  ASSERT_EQ(static_cast<std::size_t>(kFields), f.size());

  const double t = 1.95996;
  const auto [L, U] = quadratic_limits(1.0, 2.0, 0.04, 0.05, 0.03, t);
  const double var50 = (0.04 - 2 * 0.03 * 0.5 + 0.25 * 0.05) / 4.0;
  const std::vector<std::string> expected = {
      "P1", "1",
      lf(std::sqrt(10.0)), lf(std::pow(10.0, L)), lf(std::pow(10.0, U)), "0.500000", lf(L), lf(U),
      "1.000000", "1.000000", "1.000000", "0.000000", "0.000000", "0.000000",
      "Y=-1.0000 + 2.0000X",
      "-1.000000", "0.200000", "2.000000", lf(std::sqrt(0.05)), "0.000000", "0.000000", "0.000000",
      "0.000000",
      "0.500000", lf(std::sqrt(var50)), "0.000000", "0.000000", "0.500000", lf(std::sqrt(0.05) / 4),
      "3.500000", "3.200000", "3.000000", "0.000000", "0.000000", "0.000000",
      "1.000000", "1.959960", "10.500000", "2.000000", "-3.250000"};
  for (int i = 0; i < kFields; ++i) EXPECT_EQ(expected[i], f[i]) << "field " << i + 1;
}

TEST(SummaryTable, SimplexEditionNamesItsAlgorithm) {
  TableRun run(one_prep(), 2);
  run.fx.state().edition = &kSimplexEdition;
  const std::string text = run.write();
  EXPECT_EQ(0u, text.find("Distribution\tModel\tAlgorithm\tMethod\n1\t1\tNelderMead\t2\n\n"));
}

TEST(SummaryTable, MissingLimitsAreWrittenAsHeld) {
  HandFit h = one_prep();
  h.V = {{0.04, -0.03}, {-0.03, 2.0}};  // g = 1.96^2 * 2 / 4 > 1
  TableRun run(h);
  const std::vector<std::string> lines = lines_of(run.write());
  const std::vector<std::string> f = fields_of(lines[4]);
  ASSERT_EQ(static_cast<std::size_t>(kFields), f.size());
  EXPECT_EQ("0.000000", f[3]);
  // 10^99 in fixed notation (the double nearest it lies just below, so
  // 99 digits), then the six decimals.
  EXPECT_EQ(106u, f[4].size());
  EXPECT_EQ(lf(1e99), f[4]);
  EXPECT_EQ("-99.000000", f[6]);
  EXPECT_EQ("99.000000", f[7]);
}

TEST(SummaryTable, TwoPreparationsCarryPotenciesAgainstTheFirst) {
  HandFit h{{-1.0, -0.4},
            2.0,
            {{0.04, 0.01, -0.03}, {0.01, 0.05, -0.02}, {-0.03, -0.02, 0.05}},
            {30.0, 25.0},
            {0.45, 0.3}};
  TableRun run(h);
  run.fx.console() = ScriptedConsole("q\n");
  AnalysisState& s = run.fx.state();
  s.lr_chi2 = 5.0;
  s.pearson_chi2 = 4.0;
  s.df = 5.0;
  const std::vector<std::string> lines = lines_of(run.write());
  ASSERT_EQ(7u, lines.size());
  const std::vector<std::string> f1 = fields_of(lines[4]);
  const std::vector<std::string> f2 = fields_of(lines[5]);
  EXPECT_EQ("P2", f2[0]);
  EXPECT_EQ("0.000000", f1[11]);
  EXPECT_EQ("0.300000", f2[11]);
  EXPECT_EQ(lf(std::pow(10.0, 0.3)), f2[8]);
  EXPECT_EQ("0.300000", f2[25]);
  // Parallelism: common-slope values minus the separate-slopes ones.
  EXPECT_EQ("1.500000", f2[32]);
  EXPECT_EQ("0.800000", f2[33]);
  EXPECT_EQ("2.000000", f2[34]);
  EXPECT_EQ("Y=-0.4000 + 2.0000X", f2[14]);
}

TEST(SummaryTable, ExtraParametersAndTheirStandardErrors) {
  // Model 4: C = 0.1 (variance 0.01), D = 0.2 (variance 0.0025); model 7
  // writes the known C with standard error 0 and D with its own.
  for (int model : {4, 7}) {
    StageFixture fx;
    std::FILE* table = std::tmpfile();
    fx.set_groups({{{0.0, 10.0, 5.0}}});
    fx.begin_fit(1, model, 1);
    AnalysisState& s = fx.state();
    s.table_file = table;
    s.fixed_c = 0.25;
    s.params[1] = -1.0;
    s.params[2] = 2.0;
    s.fit_cov[1][1] = 0.04;
    s.fit_cov[2][2] = 0.05;
    if (model == 4) {
      s.params[3] = 0.1;
      s.params[4] = 0.2;
      s.fit_cov[3][3] = 0.01;
      s.fit_cov[4][4] = 0.0025;
    } else {
      s.params[3] = 0.2;
      s.fit_cov[3][3] = 0.0025;
    }
    alloc_potency_arrays(s);
    compute_deviates(s, s.conf_alpha, s.conf_deviates);
    relative_potency_dialogue(s, fx.answers());
    write_summary_table(s);
    const std::vector<std::string> f = fields_of(lines_of(read_stream(table))[4]);
    EXPECT_EQ(model == 4 ? "0.100000" : "0.250000", f[19]);
    EXPECT_EQ(model == 4 ? "0.100000" : "0.000000", f[20]);
    EXPECT_EQ("0.200000", f[21]);
    EXPECT_EQ("0.050000", f[22]);
    std::fclose(table);
  }
}

// ED50 cells against the reference computation (R), Finney method.
TEST(SummaryTableReference, Ed50CellsMatchTheReference) {
  const auto& ref = testing::ReferenceValues::get();
  if (!ref.has("budworm.d3.m1.common", "b")) GTEST_SKIP() << "reference values not present";
  // Six printed decimals: half a unit in the last place plus rounding.
  constexpr double kPrinted = 6e-7;
  StageFixture fx("q\n");
  std::FILE* table = std::tmpfile();
  ASSERT_TRUE(testing::load_reference_fit(fx, "budworm.d3.m1.common", 2, 3, 1, 1.0));
  AnalysisState& s = fx.state();
  s.variance_method = 2;
  s.table_file = table;
  alloc_potency_arrays(s);
  compute_deviates(s, s.conf_alpha, s.conf_deviates);
  relative_potency_dialogue(s, fx.answers());
  write_summary_table(s);
  const std::vector<std::string> lines = lines_of(read_stream(table));
  for (int j = 1; j <= 2; ++j) {
    const std::vector<std::string> f = fields_of(lines[3 + j]);
    const std::string js = "_" + std::to_string(j);
    const std::string c = "budworm.d3.m1.common";
    EXPECT_NEAR(ref.at(c, "ed50_log" + js), std::stod(f[5]), kPrinted);
    EXPECT_NEAR(ref.at(c, "ed50_lo95_fnm_z" + js), std::stod(f[6]), kPrinted);
    EXPECT_NEAR(ref.at(c, "ed50_hi95_fnm_z" + js), std::stod(f[7]), kPrinted);
    EXPECT_NEAR(std::sqrt(ref.at(c, "ed50_var_fnm" + js)), std::stod(f[24]), kPrinted);
    EXPECT_NEAR(ref.at(c, "rp1_log" + js), std::stod(f[11]), kPrinted);
    EXPECT_NEAR(ref.at(c, "rp1_lo95_fnm_z" + js), std::stod(f[12]), kPrinted);
    EXPECT_NEAR(ref.at(c, "rp1_hi95_fnm_z" + js), std::stod(f[13]), kPrinted);
  }
  std::fclose(table);
}

// A zero slope leaves ED50, sigma and their errors without a value: those
// cells hold "-", every other cell its number, and the row its 40 fields.
TEST(SummaryTable, ZeroSlopeWritesDashesInTheCellsWithoutAValue) {
  HandFit h = one_prep();
  h.b = 0.0;
  TableRun run(h);
  const std::string text = run.write();
  EXPECT_EQ(std::string::npos, text.find("inf"));
  EXPECT_EQ(std::string::npos, text.find("nan"));
  const std::vector<std::string> f = fields_of(lines_of(text)[4]);
  ASSERT_EQ(static_cast<std::size_t>(kFields), f.size());
  // ED50 and its log; the limits are the missing-limit sentinels as held.
  EXPECT_EQ("-", f[2]);
  EXPECT_EQ("0.000000", f[3]);
  EXPECT_EQ(lf(1e99), f[4]);
  EXPECT_EQ("-", f[5]);
  EXPECT_EQ("-99.000000", f[6]);
  EXPECT_EQ("99.000000", f[7]);
  EXPECT_EQ("Y=-1.0000 + 0.0000X", f[14]);
  EXPECT_EQ("-1.000000", f[15]);
  EXPECT_EQ("0.200000", f[16]);
  EXPECT_EQ("0.000000", f[17]);
  EXPECT_EQ(lf(std::sqrt(0.05)), f[18]);
  for (int i : {23, 24, 27, 28}) EXPECT_EQ("-", f[i]) << "field " << i + 1;  // mu, sigma
  EXPECT_EQ("1.959960", f[36]);
}

TEST(SummaryTable, ZeroSlopeWithTwoPreparationsLeavesThePotenciesEmpty) {
  HandFit h{{-1.0, -0.4},
            0.0,
            {{0.04, 0.01, -0.03}, {0.01, 0.05, -0.02}, {-0.03, -0.02, 0.05}},
            {30.0, 25.0},
            {0.45, 0.3}};
  TableRun run(h);
  run.fx.console() = ScriptedConsole("q\n");
  const std::string text = run.write();
  EXPECT_EQ(std::string::npos, text.find("inf"));
  EXPECT_EQ(std::string::npos, text.find("nan"));
  const std::vector<std::string> lines = lines_of(text);
  for (int row : {4, 5}) {
    const std::vector<std::string> f = fields_of(lines[row]);
    ASSERT_EQ(static_cast<std::size_t>(kFields), f.size());
    // Rho and log Rho (0/0 against itself, +-inf against the other) and
    // the error of log Rho.
    EXPECT_EQ("-", f[8]);
    EXPECT_EQ("-", f[11]);
    EXPECT_EQ("-", f[26]);
  }
}

TEST(SummaryTable, NegativeVarianceHasNoStandardError) {
  HandFit h = one_prep();
  h.V[0][0] = -0.04;
  TableRun run(h);
  const std::vector<std::string> f = fields_of(lines_of(run.write())[4]);
  ASSERT_EQ(static_cast<std::size_t>(kFields), f.size());
  EXPECT_EQ("-1.000000", f[15]);
  EXPECT_EQ("-", f[16]);
}

}  // namespace
}  // namespace varnalo
