// The console answers of the questions the session asks directly: plots,
// the end prompt and the pauses, each read as the first character of a
// line; and the questions that delegate to the menus and dialogues.
#include "dialogue/console_answers.h"

#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;

TEST(ConsoleAnswers, SingleKeyQuestionsAndPausesReadTheFirstCharacterOfALine) {
  const std::string plots = "Generate Data for Plotting?\n  [*/y] ";
  const std::string end = "The End of the Analysis\n  [*/q]   ";
  const struct {
    const char* input;
    bool plot_files;
    bool end_of_run;
  } cases[] = {
      {"y\nq\nX", true, true},         {"yes please\nquit\nX", true, true},
      {"\n\nX", false, false},         {"Y\nQ\nX", false, false},
      {"n\r\nnext\r\nX", false, false}, {"\r\nq\r\nX", false, true},
  };
  for (const auto& c : cases) {
    StageFixture f(c.input);
    EXPECT_EQ(f.answers().plot_files(), c.plot_files) << c.input;
    EXPECT_EQ(f.answers().end_of_run(), c.end_of_run) << c.input;
    EXPECT_EQ(f.screen(), plots + end) << c.input;
    f.answers().pause();
    EXPECT_EQ(f.console().unread(), "") << c.input << ": the pause takes the line \"X\"";
    EXPECT_EQ(f.screen(), plots + end) << "a pause prints nothing";
    EXPECT_EQ(f.report(), "");
  }
}

TEST(ConsoleAnswers, TheLastAnswerMayLackItsLineEnd) {
  StageFixture f("q");
  EXPECT_TRUE(f.answers().end_of_run());
  StageFixture none("");
  EXPECT_EQ(testing::run_end_status([&] { none.answers().end_of_run(); }), 1);
  EXPECT_EQ(none.errors(), "\nEnd of input: the run stops.\n");
}

TEST(ConsoleAnswers, BothSignificanceLevelsAreAskedAlike) {
  StageFixture f("0.1\n\n");
  EXPECT_EQ(f.answers().significance_level(SignificanceOf::kChiSquareTests, 0.05), 0.1);
  EXPECT_EQ(f.answers().significance_level(SignificanceOf::kVarianceRatio, 0.01), 0.01);
  EXPECT_EQ(f.screen(),
            "  [ 0.050] Level of Significance\n  [*/#]    [ 0.010] Level of Significance\n"
            "  [*/#]  ");
}

}  // namespace
}  // namespace varnalo
