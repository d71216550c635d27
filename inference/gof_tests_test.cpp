#include "inference/gof_tests.h"

#include <gtest/gtest.h>

#include <string>

#include "inference/variance_ratio.h"
#include "session/analysis.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::Group;
using testing::StageFixture;

// nprep preparations of three groups each, common-slope work arrays with
// every covariance entry 2.
AnalysisState& prepare(StageFixture& f, int nprep) {
  std::vector<std::vector<Group>> preps(static_cast<std::size_t>(nprep),
                                        {{0.5, 10, 3}, {1.0, 10, 5}, {1.5, 10, 8}});
  f.set_groups(preps);
  f.begin_fit(1, 1, 1);
  AnalysisState& s = f.state();
  for (int i = 1; i <= s.param_capacity(); ++i)
    for (int j = 1; j <= s.param_capacity(); ++j) s.info_cov[i][j] = s.fit_cov[i][j] = 2.0;
  return s;
}

void set_tests(AnalysisState& s, double pearson, double sep_pearson, double lr, double sep_lr,
               double df, double sep_df) {
  s.pearson_chi2 = pearson;
  s.sep_pearson_chi2 = sep_pearson;
  s.lr_chi2 = lr;
  s.sep_lr_chi2 = sep_lr;
  s.df = df;
  s.sep_df = sep_df;
}

// Table headings: "  %19s%10s%14s%14s\n".
const std::string kPearsonHead = "Pearson Chi-square Test on Sum of Squares\n  " +
                                 std::string(17, ' ') + "DF" + std::string(8, ' ') + "SS" +
                                 std::string(12, ' ') + "MS" + std::string(13, ' ') + "p\n";
const std::string kLrHead = "Likelihood Ratio Chi-square Test\n  " + std::string(17, ' ') + "DF" +
                            std::string(8, ' ') + "LR" + std::string(11, ' ') + "MLR" +
                            std::string(13, ' ') + "p\n";
const std::string kSmall = "* Since heterogeneity is small (p> 0.050), a normal deviate is used.\n";

TEST(PearsonChiSquare, SumsOnlyGroupsStrictlyInsideTheRange) {
  StageFixture f;
  f.set_groups({{{0.1, 10, 3}, {0.2, 10, 7}, {0.3, 20, 0}, {0.4, 20, 4}}});
  AnalysisState& s = f.state();
  s.groups[1][1][4] = 5;   // (3-5)^2 / 5 / (1 - 0.5) = 1.6
  s.groups[1][2][4] = 10;  // E = n: left out
  s.groups[1][3][4] = 0;   // E = 0: left out
  s.groups[1][4][4] = 2;   // (4-2)^2 / 2 / (1 - 0.1) = 20/9
  compute_pearson(s);
  EXPECT_DOUBLE_EQ(s.pearson_chi2, 1.6 + 20.0 / 9.0);
}

TEST(PearsonChiSquare, AZeroCountCountsAsZero) {
  // A zero count is stored as 1e-50. Against an expected count at the
  // probability floor (n 1e-99) it used to add 1e-100 / (n 1e-99) = 0.1 / n;
  // as 0 it adds E / (1 - E/n), which is nothing beside the other terms.
  const struct {
    double n, expected;
  } cases[] = {{60, 60e-99}, {1, 1e-99}, {1e-50, 1e-149}, {20, 1e-60}};
  for (const auto& c : cases) {
    StageFixture f;
    f.set_groups({{{-99, c.n, 0}, {0.4, 20, 4}}});
    AnalysisState& s = f.state();
    s.groups[1][1][4] = c.expected;
    s.groups[1][2][4] = 2;  // (4-2)^2 / 2 / (1 - 0.1) = 20/9
    compute_pearson(s);
    EXPECT_DOUBLE_EQ(s.pearson_chi2, 20.0 / 9.0) << c.n << " " << c.expected;
  }
  // A zero count against a real expectation adds E / (1 - E/n) as before.
  StageFixture f;
  f.set_groups({{{0.1, 10, 0}}});
  f.state().groups[1][1][4] = 2;
  compute_pearson(f.state());
  EXPECT_DOUBLE_EQ(f.state().pearson_chi2, 2.0 / 0.8);
}

TEST(ChiSquareTests, OnePreparationNotSignificant) {
  StageFixture f("\n\n\n\n");
  AnalysisState& s = prepare(f, 1);
  // p = exp(-1) and exp(-1.5) with 2 DF.
  set_tests(s, 2.0, 2.0, 3.0, 3.0, 2.0, 2.0);
  chi_square_tests(s, f.answers());
  EXPECT_EQ(f.report(), kPearsonHead +
                            "  Heterogeneity     2     2.0000000     1.0000000     0.3678794\n"
                            "\n" +
                            kLrHead +
                            "  Heterogeneity     2     3.0000000     1.5000000     0.2231302\n"
                            "\n"
                            "* Chi-square Test on SS (Pearson Test) is adopted.\n" +
                            kSmall + "\n");
  // The adopted test is named in the report only.
  EXPECT_EQ(f.screen().find("adopted"), std::string::npos);
  EXPECT_NE(f.screen().find(kSmall), std::string::npos);
  EXPECT_EQ(s.het_factor, 1.0);
  EXPECT_EQ(s.info_cov[1][1], 2.0);
  EXPECT_EQ(f.console().unread(), "");
}

TEST(ChiSquareTests, SeveralPreparationsRows) {
  StageFixture f("\n\n\n\n");
  AnalysisState& s = prepare(f, 3);
  // 2 DF at 2, 6 DF at 6, 8 DF at 8: p = e^-1, 8.5 e^-3, (71/3) e^-4.
  set_tests(s, 8.0, 6.0, 8.0, 6.0, 8.0, 6.0);
  chi_square_tests(s, f.answers());
  const std::string rows =
      "  Parallelism    " " " "  2" " " "    2.0000000" " " "    1.0000000" " " "    0.3678794\n"
      "  Heterogeneity  " " " "  6" " " "    6.0000000" " " "    1.0000000" " " "    0.4231901\n"
      "  Total          " " " "  8" " " "    8.0000000" " " "    1.0000000" " " "    0.4334701\n";
  EXPECT_EQ(f.report(), kPearsonHead + rows + "\n" + kLrHead + rows + "\n" +
                            "* Chi-square Test on SS (Pearson Test) is adopted.\n"
                            "* No problems in parallelism.\n" +
                            kSmall + "\n");
}

TEST(ChiSquareTests, SignificantHeterogeneityScalesBothMatrices) {
  StageFixture f("\n\n2\n\n");
  AnalysisState& s = prepare(f, 1);
  set_tests(s, 20.0, 20.0, 21.0, 21.0, 2.0, 2.0);
  chi_square_tests(s, f.answers());
  EXPECT_EQ(s.chi_choice, 2);
  EXPECT_DOUBLE_EQ(s.het_factor, 10.5);
  const std::string tail =
      "* Likelihood Ratio Test is adopted.\n"
      "* Since heterogeneity is large (p< 0.050), a t-deviate ( 2 DF) is used.\n"
      "  All variances and covariances have been multiplied by the heterogeneity\n"
      "  factor, h =   10.5000000\n"
      "\n";
  const std::string report = f.report();
  ASSERT_GE(report.size(), tail.size());
  EXPECT_EQ(report.substr(report.size() - tail.size()), tail);
  // Every entry of both matrices, the method not in use included.
  for (int i = 1; i <= s.param_capacity(); ++i)
    for (int j = 1; j <= s.param_capacity(); ++j) {
      EXPECT_DOUBLE_EQ(s.info_cov[i][j], 21.0);
      EXPECT_DOUBLE_EQ(s.fit_cov[i][j], 21.0);
    }
}

TEST(ChiSquareTests, HeterogeneityHandsParallelismToVarianceRatio) {
  // Pearson: heterogeneity 20 on 2 DF is significant; parallelism 10 on 1 DF
  // would be too (p = 0.0016), but the variance ratio F0 = 1 decides.
  StageFixture f("\n\n\n\n\n");
  AnalysisState& s = prepare(f, 2);
  set_tests(s, 30.0, 20.0, 2.0, 1.0, 3.0, 2.0);
  chi_square_tests(s, f.answers());
  const std::string screen_h0 = "Variance Ratio Test\n  H0: MLparallelism =  ML heterogeneity \n";
  const std::string report_h0 =
      "Variance Ratio Test\n  H0: ML parallelism =  ML heterogeneity variance\n";
  // F(1, 2) upper tail at 1 is 1 - sqrt(1/3).
  const std::string result =
      "  F0 = ML parallelism / ML heterogeneity = 1.0000000    \n"
      "  F( 1, 2; 0.4226497) = 1.0000000    \n";
  const std::string verdict = "  H0 is not rejected at p=0.050 : variances may be equal.\n";
  const std::string report = f.report();
  EXPECT_NE(report.find("\n\n" + report_h0 + result + verdict + "\n" + kLrHead), std::string::npos)
      << report;
  EXPECT_EQ(report.find("MLparallelism"), std::string::npos);
  EXPECT_NE(f.screen().find(screen_h0 + result), std::string::npos);
  EXPECT_EQ(f.screen().find("heterogeneity variance"), std::string::npos);
  EXPECT_NE(report.find("* No problems in parallelism.\n"), std::string::npos);
  EXPECT_EQ(s.het_factor, 10.0);
}

TEST(ChiSquareTests, NoDegreesOfFreedomLeft) {
  StageFixture one("\n\n\n\n\n"), two("\n\n\n\n\n");
  AnalysisState& s = prepare(one, 1);
  set_tests(s, 1.5, 1.5, 1.2, 1.2, 0.0, 0.0);
  chi_square_tests(s, one.answers());
  EXPECT_EQ(one.screen().rfind("CAUTION!! DF= 0 (zero)  Change the model or use more dose groups.\n", 0),
            0u);
  const std::string report = one.report();
  EXPECT_EQ(report.find("CAUTION"), std::string::npos);
  // No mean square and no p: "-" in their 13-column cells.
  EXPECT_NE(report.find("  Heterogeneity     0     1.5000000" + std::string(13, ' ') + "-" +
                        std::string(13, ' ') + "-\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find(kSmall), std::string::npos);
  EXPECT_EQ(s.het_factor, 1.0);
  EXPECT_EQ(s.info_cov[1][1], 2.0);

  // Two preparations: parallelism (4.5 on 1 DF, p = 0.034) is still judged
  // by its row; heterogeneity has nothing to test, so no variance ratio test.
  AnalysisState& s2 = prepare(two, 2);
  set_tests(s2, 5.0, 0.5, 5.0, 0.5, 1.0, 0.0);
  chi_square_tests(s2, two.answers());
  const std::string report2 = two.report();
  EXPECT_EQ(report2.find("Variance Ratio Test"), std::string::npos);
  EXPECT_NE(report2.find("* Problems may exist in parallelism.Anyway the following will be completed\n"),
            std::string::npos);
  for (const std::string& text : {report, one.screen(), report2, two.screen()}) {
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_EQ(text.find("inf"), std::string::npos);
  }
  EXPECT_EQ(one.console().unread(), "");
}

TEST(VarianceRatio, DecisionFollowsLevel) {
  StageFixture f;
  AnalysisState& s = prepare(f, 2);
  // Equal mean chi-squares: F0 = 1 and p = 1/2 with 2 and 2 DF.
  const double p = print_variance_ratio(s, "parallelism", "heterogeneity", 2, 2, 4, 4);
  EXPECT_NEAR(p, 0.5, 1e-12);
  EXPECT_EQ(variance_ratio_verdict(s, p, 0.05), 1);
  EXPECT_NE(f.report().find("  F( 2, 2; 0.5000000) = 1.0000000    \n"
                            "  H0 is not rejected at p=0.050 : variances may be equal.\n"),
            std::string::npos);
  // A level of 1 rejects whenever p < 1.
  EXPECT_EQ(variance_ratio_verdict(s, p, 1.0), 0);
  EXPECT_NE(f.report().find("  H0 is rejected at p=1.000 : variances are not equal.\n"),
            std::string::npos);
  // A zero first chi-square gives the smallest ratio and p of 1 in double
  // precision, which even a level of 1 does not reject.
  const double one = print_variance_ratio(s, "a", "b", 2, 2, 0, 4);
  EXPECT_EQ(variance_ratio_verdict(s, one, 1.0), 1);
  EXPECT_NE(f.report().find("  F0 = ML a / ML b = 0.0000000    \n"
                            "  F( 2, 2; 1.0000000) = 0.0000000    \n"),
            std::string::npos);
}

TEST(Aic, TextAndValue) {
  StageFixture f;
  AnalysisState& s = f.state();
  s.npar = 3;
  s.max_loglik = -12.5;
  report_aic(s);
  EXPECT_EQ(s.aic, 31.0);
  const std::string text = "Akaike's Information Criterion\n  AIC=   31.0000000    m = 3\n\n";
  EXPECT_EQ(f.screen(), text);
  EXPECT_EQ(f.report(), text);
}

}  // namespace
}  // namespace varnalo
