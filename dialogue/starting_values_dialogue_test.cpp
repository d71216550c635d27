// The dialogue that shows and edits the starting values: the question, the
// prompts of every fitted entry, the tables on screen and in the report, and
// the conversion of a typed value.
#include "dialogue/starting_values_dialogue.h"

#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;

constexpr const char* kAsk = "Unweighted Regression\n  Edit Initial Values?\n  [*/y] ";

class EditDialogue : public ::testing::Test {
 protected:
  // Two preparations, common slope, model 2.
  void load(StageFixture& fx) {
    fx.set_groups({{{0.1, 10, 2}, {0.5, 10, 6}}, {{0.2, 10, 3}, {0.6, 10, 8}}}, {"Alpha", "Beta"});
    fx.begin_fit(2, 2, 1);
    DVector& p = fx.state().params;
    p[1] = -1.25;
    p[2] = 0.5;
    p[3] = 2.0;
    p[4] = 0.1;
  }
};

TEST_F(EditDialogue, AnythingButLowerCaseYSkipsEverything) {
  for (const char* answer : {"n", "Y", "\n"}) {
    StageFixture fx(answer);
    load(fx);
    edit_initial_values(fx.state(), fx.state().params);
    EXPECT_EQ(fx.screen(), std::string(kAsk) + "\n") << answer;
    EXPECT_EQ(fx.report(), "");
    EXPECT_EQ(fx.state().params[1], -1.25);
  }
}

TEST_F(EditDialogue, EditPassScreenAndReport) {
  StageFixture fx("y\n1.5\n\n0\nabc\nn");
  load(fx);
  AnalysisState& s = fx.state();
  edit_initial_values(s, s.params);
  EXPECT_EQ(s.params[1], 1.5);
  EXPECT_EQ(s.params[2], 0.5);
  EXPECT_EQ(s.params[3], 0.0001);
  EXPECT_EQ(s.params[4], 0.0001);

  const std::string before =
      "  a1    -1.2500000        Alpha\n"
      "  a2     0.5000000        Beta\n"
      "  b          2.0000000    Regression Coefficient\n"
      "  C      0.1000000\n";
  const std::string after =
      "  a1     1.5000000        Alpha\n"
      "  a2     0.5000000        Beta\n"
      "  b          0.0001000    Regression Coefficient\n"
      "  C      0.0001000\n";
  EXPECT_EQ(fx.screen(), std::string(kAsk) +
                             "\nInitial Values by Unweighted Regression\n"
                             "   #   Parameters   \n" +
                             before +
                             "\n"
                             "  a1       a2       b            C     "
                             "  Edit again? \n  [*/y] "
                             "\n");
  EXPECT_EQ(fx.report(), "   #  Initial Values of Parameters\n" + before + "\f" +
                             "   #  Initial Values of Parameters\n" + after + "\f");
}

TEST_F(EditDialogue, SeparateSlopesKnownCAndEditingTwice) {
  StageFixture fx("y\n\n\n\n\n0.25\ny\n\n\n-3e2\n\n\nn");
  fx.set_groups({{{0.1, 10, 2}, {0.5, 10, 6}}, {{0.2, 10, 3}, {0.6, 10, 8}}}, {"Alpha", "Beta"});
  fx.begin_fit(1, 7, 2);
  AnalysisState& s = fx.state();
  s.fixed_c = 0.5;
  for (int e = 1; e <= 6; ++e) s.params[e] = e;
  edit_initial_values(s, s.params);
  EXPECT_EQ(s.params[5], 0.25);
  EXPECT_EQ(s.params[2], -300.0);
  const std::string rows_before =
      "  a1     1.0000000        Alpha\n"
      "  b1         3.0000000    Regression Coefficient\n"
      "  a2     2.0000000        Beta\n"
      "  b2         4.0000000    Regression Coefficient\n"
      "  D      5.0000000\n";
  const std::string rows_after =
      "  a1     1.0000000        Alpha\n"
      "  b1         3.0000000    Regression Coefficient\n"
      "  a2  -300.0000000        Beta\n"
      "  b2         4.0000000    Regression Coefficient\n"
      "  D      0.2500000\n";
  const std::string prompts = "  a1       b1           a2       b2           D     ";
  EXPECT_EQ(fx.screen(), std::string(kAsk) + "\nInitial Values by Unweighted Regression\n" +
                             "   #   Parameters   \n" + rows_before + "\n" + prompts +
                             "  Edit again? \n  [*/y] " + prompts + "  Edit again? \n  [*/y] " + "\n");
  // The known C appears in the report tables only; each table once.
  const std::string natc = "  NatC     0.5000000\n";
  EXPECT_EQ(fx.report(), "   #  Initial Values of Parameters\n" + rows_before + natc + "\f" +
                             "   #  Initial Values of Parameters\n" + rows_after + natc + "\f");
}

TEST_F(EditDialogue, NoNatCLineOutsideModelsFiveAndSeven) {
  for (int model : {1, 4, 6, 8}) {
    StageFixture fx("y\n\n\n\n\n\n\nn");
    fx.set_groups({{{0.1, 10, 2}, {0.5, 10, 6}}});
    fx.begin_fit(2, model, 1);
    edit_initial_values(fx.state(), fx.state().params);
    EXPECT_EQ(fx.report().find("NatC"), std::string::npos) << model;
  }
  StageFixture fx("y\n\n\nn");
  fx.set_groups({{{0.1, 10, 2}, {0.5, 10, 6}}});
  fx.begin_fit(2, 5, 1);
  edit_initial_values(fx.state(), fx.state().params);
  EXPECT_NE(fx.report().find("  b          0.0000000    Regression Coefficient\n  NatC "),
            std::string::npos);
}

TEST(ReadParameterValue, ConversionRules) {
  StageFixture fx("\n0\nabc\n  2.5xyz\n12345678901234567890123\ninf\n-0\n");
  fx.set_groups({{{0.1, 10, 2}}});
  fx.begin_fit(2, 1, 1);
  AnalysisState& s = fx.state();
  DVector p = dvector(1, 3);
  const double expected[] = {7.0, 0.0001, 0.0001, 2.5, 1234567890123456789.0, 0.0001, 0.0001};
  for (double want : expected) {
    p[2] = 7.0;
    read_parameter_value(s, p, 2);
    EXPECT_EQ(p[2], want);
  }
}

}  // namespace
}  // namespace varnalo
