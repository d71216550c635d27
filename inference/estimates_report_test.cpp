#include "inference/estimates_report.h"

#include <gtest/gtest.h>

#include <string>

#include "inference/covariance.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::Group;
using testing::StageFixture;

// A fit of nprep preparations with the given slopes and model; the fitted
// covariance (method 1) starts as the identity.
void prepare(StageFixture& f, int nprep, int nslopes, int model) {
  std::vector<std::vector<Group>> preps(static_cast<std::size_t>(nprep),
                                        {{0.5, 10, 3}, {1.0, 10, 7}});
  std::vector<std::string> names = {"ROT", "DER", "PYR", "MAL"};
  names.resize(static_cast<std::size_t>(nprep));
  f.set_groups(preps, names);
  f.begin_fit(1, model, nslopes);
  AnalysisState& s = f.state();
  s.variance_method = 1;
  for (int i = 1; i <= s.param_capacity(); ++i) {
    s.params[i] = 1.0;
    for (int j = 1; j <= s.param_capacity(); ++j) s.fit_cov[i][j] = i == j ? 1.0 : 0.0;
  }
}

const std::string kEstimatesHead =
    "Parameter Estimates\n"
    "  #  "
    "    Parameter"   // %13s
    "    "
    "   Std. Error"   // %13s
    "  Wald's Chi2"   // %13s
    "    p"           // %5s
    "     "
    "Description\n";

// Lines of text that begin with the given prefix, in order.
std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
    at = end + 1;
  }
  return found;
}

TEST(EstimatesReport, OnePreparationTableAndMatrix) {
  StageFixture f("\n\n");
  prepare(f, 1, 1, 1);
  AnalysisState& s = f.state();
  s.params[1] = -2.0;
  s.params[2] = 3.0;
  s.fit_cov[1][1] = 1.0;
  s.fit_cov[2][2] = 0.25;
  s.fit_cov[1][2] = s.fit_cov[2][1] = -0.3;
  report_estimates(s, 1);
  // a1: se 1, Wald 4, p = erfc(sqrt 2) = 0.0455; b: se 0.5, Wald 36, p ~ 2e-9.
  const std::string table = kEstimatesHead +
                            "  a1 "
                            "   -2.0000000"
                            "    "
                            "   1.0000000"
                            "     4.0000000"
                            " "
                            " 0.0455"
                            "  ROT\n"
                            "  b  "
                            "    "
                            "    3.0000000"
                            "   0.5000000"
                            "    36.0000000"
                            " "
                            " 0.0000"
                            "  RegressionCoefficient\n";
  EXPECT_EQ(f.screen(), table);
  EXPECT_EQ(f.report(), table + "\n");

  report_covariance(s, 1);
  const std::string matrix =
      "Matrix of Variances, Covariances, and (Correlations)\n"
      "       "
      "    a1       "
      "     b       \n"
      "  a1     1.000000  ( -0.600000)\n"
      "  b     -0.300000     0.250000 \n";
  EXPECT_EQ(f.screen(), table + matrix);
  EXPECT_EQ(f.report(), table + "\n" + matrix + "\n");
  EXPECT_EQ(f.console().unread(), "");  // one pause each
}

TEST(EstimatesReport, RowOrderOfSeparateAndCommonSlopes) {
  StageFixture separate("\n");
  prepare(separate, 2, 2, 1);
  report_estimates(separate.state(), 1);
  const auto rows = lines_starting(separate.screen(), "  a");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NE(separate.screen().find("  a1 "), std::string::npos);
  const std::string& text = separate.screen();
  const auto a1 = text.find("\n  a1 "), b1 = text.find("\n  b1 "), a2 = text.find("\n  a2 "),
             b2 = text.find("\n  b2 ");
  ASSERT_NE(b2, std::string::npos);
  EXPECT_LT(a1, b1);
  EXPECT_LT(b1, a2);
  EXPECT_LT(a2, b2);

  StageFixture common("\n");
  prepare(common, 2, 1, 1);
  report_estimates(common.state(), 1);
  const std::string& c = common.screen();
  EXPECT_LT(c.find("\n  a1 "), c.find("\n  a2 "));
  EXPECT_LT(c.find("\n  a2 "), c.find("\n  b  "));
  EXPECT_NE(c.find("  DER\n"), std::string::npos);
}

TEST(EstimatesReport, ExtraParameterRowsByModel) {
  const std::string fixed_c_row = "  C  "
                                  "    0.5000000"
                                  "     " +
                                  std::string(34, ' ') + " Fixed Preference\n";
  {  // model 7: the fixed C first (label C), then D (label D, index c)
    StageFixture f("\n\n");
    prepare(f, 1, 1, 7);
    AnalysisState& s = f.state();
    s.params[3] = 0.1;
    s.fit_cov[3][3] = 0.0025;
    report_estimates(s, 1);
    const std::string d_row = "  D  "
                              "    0.1000000"
                              "    "
                              "   0.0500000"
                              " " +
                              std::string(21, ' ') + "  Natural Immunity Rate\n";
    EXPECT_NE(f.screen().find(fixed_c_row + d_row), std::string::npos) << f.screen();
    report_covariance(s, 1);
    // The matrix has the rows a1, b and D (index c); C is not a parameter.
    EXPECT_EQ(lines_starting(f.screen(), "  D  ").size(), 2u);
    EXPECT_EQ(lines_starting(f.screen(), "  C  ").size(), 1u);
    EXPECT_NE(f.screen().find("     D       \n"), std::string::npos);
  }
  {  // model 5: the fixed C only
    StageFixture f("\n");
    prepare(f, 1, 1, 5);
    report_estimates(f.state(), 1);
    EXPECT_NE(f.screen().find("RegressionCoefficient\n" + fixed_c_row), std::string::npos);
  }
  {  // model 6: the preference row has the wider error cell
    StageFixture f("\n");
    prepare(f, 1, 1, 6);
    AnalysisState& s = f.state();
    s.params[3] = 0.2;
    s.fit_cov[3][3] = 0.0004;
    report_estimates(s, 1);
    EXPECT_NE(f.screen().find("  C  "
                              "    0.2000000"
                              "    "
                              "    0.0200000"
                              " " +
                              std::string(21, ' ') + "  Natural Preference\n"),
              std::string::npos);
  }
  {  // model 4: C then D, each with its own variance
    StageFixture f("\n");
    prepare(f, 1, 1, 4);
    AnalysisState& s = f.state();
    s.params[3] = 0.2;
    s.params[4] = 0.3;
    s.fit_cov[4][4] = 0.01;
    report_estimates(s, 1);
    const std::string& t = f.screen();
    EXPECT_NE(t.find("   1.0000000 " + std::string(21, ' ') + "  Natural Response Rate\n"),
              std::string::npos);
    EXPECT_NE(t.find("   0.1000000 " + std::string(21, ' ') + "  Natural Immunity Rate\n"),
              std::string::npos);
  }
}

TEST(EstimatesReport, MatrixBlocksOfFiveColumns) {
  {  // N = 5: one block, one pause
    StageFixture f("\nX");
    prepare(f, 4, 1, 1);
    ASSERT_EQ(f.state().npar, 5);
    LabelTable labels;
    make_param_labels(f.state(), 1, labels);
    print_cov_matrix(f.state(), f.state().fit_cov, labels);
    EXPECT_EQ(lines_starting(f.screen(), "  a1 ").size(), 1u);
    EXPECT_EQ(f.console().unread(), "X");
  }
  {  // N = 6: a second block holding the sixth column alone
    StageFixture f("\n\nX");
    prepare(f, 2, 2, 4);
    ASSERT_EQ(f.state().npar, 6);
    LabelTable labels;
    make_param_labels(f.state(), 1, labels);
    print_cov_matrix(f.state(), f.state().fit_cov, labels);
    const auto a1_rows = lines_starting(f.screen(), "  a1 ");
    ASSERT_EQ(a1_rows.size(), 2u);
    EXPECT_EQ(a1_rows[1], "  a1  (  0.000000)");
    EXPECT_EQ(lines_starting(f.screen(), "  D  ").back(), "  D      1.000000 ");
    EXPECT_NE(f.screen().find("\n" + std::string(7, ' ') + "     D       \n"), std::string::npos);
    EXPECT_EQ(f.console().unread(), "X");
    EXPECT_EQ(f.report(), f.screen() + "\n");
  }
}

TEST(EstimatesReport, LocationScaleFormKeepsExtraRows) {
  StageFixture f("\n\n");
  prepare(f, 1, 1, 2);
  AnalysisState& s = f.state();
  s.params[1] = -2.0;
  s.params[2] = 4.0;
  s.params[3] = 0.05;
  s.fit_cov[3][3] = 0.0001;
  report_estimates(s, 1);
  const std::string form1 = f.screen();
  report_estimates(s, 2);
  const std::string form2 = f.screen().substr(form1.size());
  // m = -a/b = 0.5 and s = 1/b = 0.25 under the form-2 labels.
  EXPECT_NE(form2.find("  m1     0.5000000"), std::string::npos) << form2;
  EXPECT_NE(form2.find("  s          0.2500000"), std::string::npos) << form2;
  const auto c1 = lines_starting(form1, "  C  ");
  const auto c2 = lines_starting(form2, "  C  ");
  ASSERT_EQ(c1.size(), 1u);
  EXPECT_EQ(c1, c2);
}

TEST(EstimatesReport, UnusableVariancesAreNamedNotPrinted) {
  const std::string notice =
      "  Standard errors are not available for this fit (singular or non-positive variance "
      "matrix).\n";
  StageFixture f("\n\n\n\n");
  prepare(f, 1, 1, 1);
  AnalysisState& s = f.state();
  s.fit_cov[2][2] = -0.04;  // a broken maximiser matrix
  report_estimates(s, 1);
  report_covariance(s, 1);
  const std::string& t = f.screen();
  EXPECT_EQ(t.find("nan"), std::string::npos);
  EXPECT_EQ(t.find("inf"), std::string::npos);
  EXPECT_NE(t.find("  a1 "
                   "    1.0000000"
                   "    "
                   "   1.0000000"),
            std::string::npos);  // the usable row keeps its numbers
  EXPECT_NE(t.find("  b  "
                   "    "
                   "    1.0000000"
                   "           -"
                   "             -"
                   "       -"
                   "  RegressionCoefficient\n" +
                   notice),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("Matrix of Variances, Covariances, and (Correlations)\n" + notice),
            std::string::npos);
  EXPECT_NE(f.report().find(notice), std::string::npos);

  // A zero slope has no location/scale form.
  s.fit_cov[2][2] = 1.0;
  s.params[2] = 0.0;
  const std::size_t before = t.size();
  report_estimates(s, 2);
  report_covariance(s, 2);
  const std::string derived = f.screen().substr(before);
  EXPECT_EQ(derived,
            "  The location/scale form (m = -a/b, s = 1/b) is not available for this fit (zero "
            "slope).\n"
            "  The location/scale form (m = -a/b, s = 1/b) is not available for this fit (zero "
            "slope).\n");
  EXPECT_EQ(f.console().unread(), "");
}

}  // namespace
}  // namespace varnalo
