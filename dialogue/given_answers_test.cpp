// Answers given in advance: the plan's answers in the dialogue's order, ED
// levels then the table, references past the preparations passed over, and
// analyses with a refused file left out with one line each.
#include "dialogue/given_answers.h"

#include <gtest/gtest.h>

#include "support/harness.h"

namespace varnalo {
namespace {

using Kind = EffectiveDoseRequest::Kind;

TEST(GivenAnswers, AnswerEveryQuestionFromThePlan) {
  testing::StageFixture fx;
  AnalysisState& s = fx.state();
  AnalysisPlan plan;
  plan.chi2_level = 0.1;
  plan.vr_level = 0.01;
  plan.ed_levels = {0.9, 0.1};
  plan.ed_table = true;
  plan.references = {3, 2, 1};
  GivenAnswers answers(s, plan);
  EXPECT_EQ(answers.significance_level(SignificanceOf::kChiSquareTests, 0.05), 0.1);
  EXPECT_EQ(answers.significance_level(SignificanceOf::kVarianceRatio, 0.05), 0.01);
  const struct {
    Kind kind;
    double level;
  } expected[] = {{Kind::kLevel, 0.9}, {Kind::kLevel, 0.1}, {Kind::kTable, 0.5}, {Kind::kDone, 0.5}};
  for (const auto& e : expected) {
    const EffectiveDoseRequest request = answers.effective_doses(0.5);
    EXPECT_EQ(request.kind, e.kind);
    EXPECT_EQ(request.level, e.level);
  }
  // Two preparations: reference 3 is passed over.
  fx.set_groups({{{0.0, 10, 5}, {1.0, 10, 8}}, {{0.0, 10, 4}, {1.0, 10, 9}}});
  EXPECT_EQ(answers.reference(1), 2);
  EXPECT_EQ(answers.reference(2), 1);
  EXPECT_EQ(answers.reference(1), std::nullopt);
}

TEST(GivenAnswers, LeaveOutAnalysesWithARefusedFile) {
  testing::TempWorkdir dir;
  dir.write_data("GOOD.TXT", "1 10 2\n2 10 5\n4 10 9\n");
  dir.write_data("BAD.TXT", "1 10 2\n2 10 -5\n");
  testing::StageFixture fx;
  AnalysisState& s = fx.state();
  s.workdir = dir.root();
  AnalysisPlan plan;
  plan.analyses = {{{"BAD", {}}}, {{"GOOD", {}}}, {{"GOOD", {}}, {"NONE", {}}},
                   {{"G", dir.root() / "DATA" / "GOOD.TXT"}}};
  GivenAnswers answers(s, plan);
  EXPECT_EQ(answers.data_files(), std::vector<std::string>{"GOOD"});
  EXPECT_EQ(fx.errors(), "  NEGATIVE COUNT IN 'BAD', line 2: '-5'\n");
  EXPECT_FALSE(answers.end_of_run());
  EXPECT_EQ(fx.errors(), "  NEGATIVE COUNT IN 'BAD', line 2: '-5'\n  CAN'T OPEN 'NONE'\n");
  // A file given by path, under its own name.
  EXPECT_EQ(answers.data_files(), std::vector<std::string>{"G"});
  EXPECT_TRUE(answers.end_of_run());
  EXPECT_EQ(answers.data_files(), std::vector<std::string>{});
  EXPECT_EQ(answers.refused(), 2);
}

}  // namespace
}  // namespace varnalo
