#include "dialogue/menus.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/process.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;

// Counts the answer prompts shown.
int prompts(const std::string& screen) { return testing::count_of(screen, "  [*/#]  "); }

TEST(Menus, EnterKeepsTheDefaults) {
  StageFixture f("\n\n\n\n");
  AnalysisState& s = f.state();
  EXPECT_EQ(ask_dosage(s, 1), 1);
  EXPECT_EQ(ask_variance_method(s, 1), 1);
  EXPECT_EQ(ask_distribution(s, 1), 1);
  const ModelChoice choice = ask_model(s, {1, 0.5});
  EXPECT_EQ(choice.model, 1);
  EXPECT_EQ(choice.fixed_c, 0.5);
  EXPECT_EQ(f.screen(),
            "Dosage\n   #   Unit\n   1 : Dose\n   2 : Log(Dose)\n  [1] Current Dosage\n  [*/#]  \n"
            "Calculation Mehod of Variances and Covariances\n   #   Method\n   1 : SAS Equivalent\n"
            "   2 : Finney Equivalent\n  [1] Current Method\n  [*/#]  "
            "Selection of a Distribution\n   #   Functions\n   1 : Normal\n   2 : Logistic\n"
            "   3 : Complementary Log-Log\n  [1] Current Function\n  [*/#]  \n"
            "Selection of a Model\n   #   Models with    (Activated) and Fixed Parameters\n"
            "   1 : All or Nothing (a: Intercept, b: Regression Coefficient), C=D=0\n"
            "   2 : All or Nothing (a, b, C: Natural Response Rate), D=0\n"
            "   3 : All or Nothing (a, b, D: Natural Immunity Rate), C=0\n"
            "   4 : All or Nothing (a, b, C, D)\n"
            "   5 : Preference     (a, b), C=0.500000, D=0\n"
            "   6 : Preference     (a, b, C: Natural Preference to Treatment Side),D=0\n"
            "   7 : Preference     (a, b, D: Natural Immunity Rate), C=0.500000\n"
            "   8 : Preference     (a, b, C, D)\n"
            "  [1] Current Model\n  [*/#]  \n");
}

TEST(Menus, OutOfRangeModelIsStoredAndAskedAgain) {
  StageFixture f("9\n\n2\n");
  EXPECT_EQ(ask_model(f.state(), {1, 0.5}).model, 2);
  EXPECT_EQ(prompts(f.screen()), 3) << "9, Enter and 2 at the model";
  EXPECT_EQ(f.console().unread(), "");
}

TEST(Menus, KnownProportionMustLieStrictlyBetweenZeroAndOne) {
  StageFixture f("7\n1\n0\n-0.2\n0.25\n");
  const ModelChoice choice = ask_model(f.state(), {1, 0.5});
  EXPECT_EQ(choice.model, 7);
  EXPECT_EQ(choice.fixed_c, 0.25);
  EXPECT_NE(f.screen().find("  C = 0.500000 : Set Known Proportion\n"), std::string::npos);
  EXPECT_EQ(prompts(f.screen()), 5);

  StageFixture next("\n");
  EXPECT_EQ(ask_model(next.state(), choice).fixed_c, 0.25);
  EXPECT_NE(next.screen().find("   5 : Preference     (a, b), C=0.250000, D=0\n"), std::string::npos);
  EXPECT_NE(next.screen().find("(a, b, D: Natural Immunity Rate), C=0.250000\n"), std::string::npos);
  EXPECT_EQ(next.screen().find("Set Known Proportion"), std::string::npos)
      << "keeping model 7 with Enter does not ask for C";
}

TEST(Menus, LeadingNumberAndBlanks) {
  {
    StageFixture f("x\n 2\n");
    EXPECT_EQ(ask_dosage(f.state(), 1), 2);
    EXPECT_EQ(prompts(f.screen()), 2) << "x reads as 0 and is refused";
  }
  {
    StageFixture f("5x\n\n");  // then Enter keeps the known C
    const ModelChoice choice = ask_model(f.state(), {1, 0.5});
    EXPECT_EQ(choice.model, 5);
    EXPECT_EQ(choice.fixed_c, 0.5);
  }
}

TEST(Menus, LevelAcceptsTheClosedInterval) {
  StageFixture f("1.5\n-0.01\n0\n1\n");
  AnalysisState& s = f.state();
  const double level = ask_level(s, 0.05);
  EXPECT_EQ(level, 0.0);
  EXPECT_EQ(prompts(f.screen()), 3);
  EXPECT_EQ(ask_level(s, level), 1.0);
  EXPECT_EQ(f.screen().substr(0, 34), "  [ 0.050] Level of Significance\n ");
}

TEST(Menus, LongAnswerIsCutAndConsumedWhole) {
  // The answer buffer keeps 19 characters: "1" and 18 blanks; the 2 beyond
  // them must not reach the next prompt.
  StageFixture f("1" + std::string(30, ' ') + "2\n2\n");
  EXPECT_EQ(ask_dosage(f.state(), 1), 1);
  EXPECT_EQ(ask_variance_method(f.state(), 1), 2);
}

TEST(Menus, EndOfInputEndsTheRun) {
  StageFixture f("9\n");
  EXPECT_EQ(testing::run_end_status([&] { ask_dosage(f.state(), 1); }), 1);
  EXPECT_EQ(f.errors(), "\nEnd of input: the run stops.\n");
}

}  // namespace
}  // namespace varnalo
