#include "inference/estimates_report.h"

#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;

// A fit of nprep preparations; params all 1, the method-1 matrix the identity.
AnalysisState& prepare(StageFixture& f, int nprep, int nslopes, int model) {
  f.set_groups(std::vector<std::vector<testing::Group>>(static_cast<std::size_t>(nprep),
                                                        {{0.5, 10, 3}}),
               {"ROT", "DER", "PYR", "MAL"});
  f.begin_fit(1, model, nslopes);
  AnalysisState& s = f.state();
  for (int i = 1; i <= s.param_capacity(); ++i) {
    s.params[i] = 1.0;
    for (int j = 1; j <= s.param_capacity(); ++j) s.fit_cov[i][j] = i == j ? 1.0 : 0.0;
  }
  return s;
}

// The lines of text that begin with prefix.
std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, prefix.size(), prefix) == 0) found.push_back(text.substr(at, end - at));
  }
  return found;
}

const std::string kSpaces21(21, ' ');

TEST(EstimatesReport, OnePreparationTableAndMatrix) {
  StageFixture f("\n\n");
  AnalysisState& s = prepare(f, 1, 1, 1);
  s.params[1] = -2.0;
  s.params[2] = 3.0;
  s.fit_cov[2][2] = 0.25;
  s.fit_cov[1][2] = s.fit_cov[2][1] = -0.3;
  report_estimates(s, 1, f.answers());
  // a1: se 1, Wald 4, p = erfc(sqrt 2) = 0.0455; b: se 0.5, Wald 36, p ~ 2e-9.
  const std::string table =
      "Parameter Estimates\n"
      "  #  " "    Parameter" "    " "   Std. Error" "  Wald's Chi2" "    p" "     " "Description\n"
      "  a1 " "   -2.0000000" "    " "   1.0000000" "     4.0000000" " " " 0.0455" "  ROT\n"
      "  b  " "    " "    3.0000000" "   0.5000000" "    36.0000000" " " " 0.0000"
      "  RegressionCoefficient\n";
  EXPECT_EQ(f.screen(), table);
  EXPECT_EQ(f.report(), table + "\n");
  report_covariance(s, 1, f.answers());
  const std::string matrix =
      "Matrix of Variances, Covariances, and (Correlations)\n"
      "       " "    a1       " "     b       \n"
      "  a1 " "    1.000000 " " ( -0.600000)" "\n"
      "  b  " "   -0.300000 " "    0.250000 " "\n";
  EXPECT_EQ(f.screen(), table + matrix);
  EXPECT_EQ(f.report(), table + "\n" + matrix + "\n");
  EXPECT_EQ(f.console().unread(), "");  // one pause each
}

TEST(EstimatesReport, RowOrderOfSeparateAndCommonSlopes) {
  StageFixture sep("\n"), common("\n");
  report_estimates(prepare(sep, 2, 2, 1), 1, sep.answers());
  report_estimates(prepare(common, 2, 1, 1), 1, common.answers());
  auto labels = [](const std::string& text) {
    std::string order;
    for (const std::string& line : lines_starting(text, "  ")) order += line.substr(2, 3);
    return order;
  };
  EXPECT_EQ(labels(sep.screen()), "#  a1 b1 a2 b2 ");
  EXPECT_EQ(labels(common.screen()), "#  a1 a2 b  ");
}

TEST(EstimatesReport, ExtraParameterRowsByModel) {
  const std::string fixed_c = "  C  " "    0.5000000" "     " + std::string(34, ' ') +
                              " Fixed Preference\n";
  {  // model 7: fixed C (label C) first, then D, which sits at index c
    StageFixture f("\n\n");
    AnalysisState& s = prepare(f, 1, 1, 7);
    s.params[3] = 0.1;
    s.fit_cov[3][3] = 0.0025;
    report_estimates(s, 1, f.answers());
    EXPECT_NE(f.screen().find("RegressionCoefficient\n" + fixed_c + "  D  " "    0.1000000" "    "
                              "   0.0500000" " " + kSpaces21 + "  Natural Immunity Rate\n"),
              std::string::npos)
        << f.screen();
    report_covariance(s, 1, f.answers());  // rows a1, b, D; C is no parameter
    EXPECT_NE(f.screen().find("       " "    a1       " "     b       " "     D       \n"),
              std::string::npos);
    EXPECT_EQ(lines_starting(f.screen(), "  C  ").size(), 1u);
  }
  {  // model 5: the fixed C alone
    StageFixture f("\n");
    report_estimates(prepare(f, 1, 1, 5), 1, f.answers());
    EXPECT_NE(f.screen().find("RegressionCoefficient\n" + fixed_c), std::string::npos);
  }
  {  // model 6: one column wider error cell; model 4: C then D
    StageFixture f6("\n"), f4("\n");
    AnalysisState& s6 = prepare(f6, 1, 1, 6);
    s6.params[3] = 0.2;
    s6.fit_cov[3][3] = 0.0004;
    report_estimates(s6, 1, f6.answers());
    EXPECT_NE(f6.screen().find("  C  " "    0.2000000" "    " "    0.0200000" " " + kSpaces21 +
                               "  Natural Preference\n"),
              std::string::npos);
    AnalysisState& s4 = prepare(f4, 1, 1, 4);
    s4.fit_cov[4][4] = 0.01;
    report_estimates(s4, 1, f4.answers());
    EXPECT_NE(f4.screen().find("   1.0000000 " + kSpaces21 + "  Natural Response Rate\n" +
                               "  D  " "    1.0000000" "    " "   0.1000000 " + kSpaces21 +
                               "  Natural Immunity Rate\n"),
              std::string::npos);
  }
}

TEST(EstimatesReport, MatrixBlocksOfFiveColumns) {
  StageFixture five("\nX"), six("\n\nX");
  LabelTable labels;
  AnalysisState& s5 = prepare(five, 4, 1, 1);  // 5 parameters
  make_param_labels(s5, 1, labels);
  print_cov_matrix(s5, s5.fit_cov, labels, five.answers());
  EXPECT_EQ(lines_starting(five.screen(), "  a1 ").size(), 1u);
  EXPECT_EQ(five.console().unread(), "X");

  AnalysisState& s6 = prepare(six, 2, 2, 4);  // 6 parameters: a1 a2 b1 b2 C D
  make_param_labels(s6, 1, labels);
  print_cov_matrix(s6, s6.fit_cov, labels, six.answers());
  const auto a1 = lines_starting(six.screen(), "  a1 ");
  ASSERT_EQ(a1.size(), 2u);
  EXPECT_EQ(a1[1], "  a1  (  0.000000)");
  EXPECT_EQ(lines_starting(six.screen(), "  D  ").back(), "  D      1.000000 ");
  EXPECT_NE(six.screen().find("\n       " "     D       \n"), std::string::npos);
  EXPECT_EQ(six.console().unread(), "X");  // one pause per block
}

TEST(EstimatesReport, LocationScaleFormKeepsExtraRows) {
  StageFixture f("\n\n");
  AnalysisState& s = prepare(f, 1, 1, 2);
  s.params[1] = -2.0;
  s.params[2] = 4.0;
  s.params[3] = 0.05;
  s.fit_cov[3][3] = 0.0001;
  report_estimates(s, 1, f.answers());
  const std::string form1 = f.screen();
  report_estimates(s, 2, f.answers());
  const std::string form2 = f.screen().substr(form1.size());
  EXPECT_NE(form2.find("  m1     0.5000000"), std::string::npos);     // -a/b
  EXPECT_NE(form2.find("  s          0.2500000"), std::string::npos);  // 1/b
  EXPECT_EQ(lines_starting(form1, "  C  "), lines_starting(form2, "  C  "));
  EXPECT_EQ(lines_starting(form2, "  C  ").size(), 1u);
}

TEST(EstimatesReport, UnusableVariancesAreNamedNotPrinted) {
  const std::string notice =
      "  Standard errors are not available for this fit (singular or non-positive variance "
      "matrix).\n";
  StageFixture f("\n\n\n\n");
  AnalysisState& s = prepare(f, 1, 1, 1);
  s.fit_cov[2][2] = -0.04;
  report_estimates(s, 1, f.answers());
  report_covariance(s, 1, f.answers());
  const std::string& t = f.screen();
  EXPECT_EQ(t.find("nan"), std::string::npos);
  EXPECT_EQ(t.find("inf"), std::string::npos);
  EXPECT_NE(t.find("  a1 " "    1.0000000" "    " "   1.0000000"), std::string::npos);
  EXPECT_NE(t.find("  b  " "    " "    1.0000000" "           -" "             -" "       -"
                   "  RegressionCoefficient\n" + notice),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("(Correlations)\n" + notice), std::string::npos);
  EXPECT_NE(f.report().find(notice), std::string::npos);

  s.fit_cov[2][2] = 1.0;
  s.params[2] = 0.0;  // a zero slope has no location/scale form
  const std::size_t before = t.size();
  report_estimates(s, 2, f.answers());
  report_covariance(s, 2, f.answers());
  const std::string zero_slope =
      "  The location/scale form (m = -a/b, s = 1/b) is not available for this fit (zero "
      "slope).\n";
  EXPECT_EQ(f.screen().substr(before), zero_slope + zero_slope);
  EXPECT_EQ(f.console().unread(), "");
}

}  // namespace
}  // namespace varnalo

namespace varnalo {
namespace {

// Wide numbers: a cell keeps its fixed form while a blank parts it from the
// cell on its left (the label's padding, the four blanks before a slope or
// an intercept's error), and takes the exponent form in the same width
// otherwise, so every later column stays in place.
TEST(EstimatesReport, WideNumbersKeepTheirColumns) {
  StageFixture f("\n\n");
  AnalysisState& s = prepare(f, 1, 1, 1);
  s.params[1] = -2874.2687761;   // 13 characters behind "a1 ": fits
  s.params[2] = 32090.8154927;   // 13 characters behind four blanks: fits
  s.fit_cov[1][1] = 1234.5678901 * 1234.5678901;  // error of 12 characters behind four blanks
  s.fit_cov[2][2] = 1e-4;        // Wald chi-square above 100,000 behind the error
  s.fit_cov[1][2] = s.fit_cov[2][1] = 0.0;
  report_estimates(s, 1, f.answers());
  const std::vector<std::string> rows = lines_starting(f.screen(), "  a1");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], "  a1 -2874.2687761    1234.5678901     5.4203184  0.0199  ROT");
  const std::vector<std::string> slope = lines_starting(f.screen(), "  b ");
  ASSERT_EQ(slope.size(), 1u);
  EXPECT_EQ(slope[0],
            "  b      32090.8154927   0.0100000 1.0298204e+13  0.0000  RegressionCoefficient");
  report_covariance(s, 1, f.answers());
  // The variance of a1 is wider than its twelve columns: the exponent form.
  EXPECT_EQ(lines_starting(f.screen(), "  a1 ").back(), "  a1 1.524158e+06  (  0.000000)");
}

}  // namespace
}  // namespace varnalo
