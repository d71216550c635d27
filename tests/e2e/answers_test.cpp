// A whole analysis run through answers given in advance instead of the
// console dialogue (no prompt printed, every pause skipped): it writes the
// same report, table and plot files as the dialogue answered alike.
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "dialogue/answers.h"
#include "fit/edition.h"
#include "foundation/console.h"
#include "foundation/process.h"
#include "session/run.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::examples_path;
using testing::SessionResult;
using testing::TempWorkdir;

// Answers fixed in advance; the requests and references are taken in turn.
class FixedAnswers : public Answers {
 public:
  int dose_scale(int) override { return 1; }
  int variance_method(int) override { return 1; }
  std::vector<std::string> data_files() override { return {"ROTENONE", "BEETLE"}; }
  int distribution(int) override { return 2; }
  ModelChoice model(ModelChoice current) override { return {4, current.fixed_c}; }
  void starting_values(DRef) override {}
  double significance_level(SignificanceOf, double current) override { return current; }
  int chi_square_choice(int current) override { return current; }
  bool limits_90_99() override { return true; }
  EffectiveDoseRequest effective_doses(double) override {
    const EffectiveDoseRequest next = requests.front();
    requests.pop_front();
    return next;
  }
  std::optional<int> reference(int) override {
    const std::optional<int> next = references.front();
    references.pop_front();
    return next;
  }
  bool plot_files() override { return true; }
  bool end_of_run() override { return true; }
  void pause() override { ++pauses; }

  std::deque<EffectiveDoseRequest> requests = {
      {EffectiveDoseRequest::Kind::kTable, 0.5},
      {EffectiveDoseRequest::Kind::kLevel, 0.9},
      {EffectiveDoseRequest::Kind::kDone, 0.5}};
  std::deque<std::optional<int>> references = {2, std::nullopt};
  int pauses = 0;
};

// The same analysis answered at the console.
const char* const kConsoleAnswers =
    "\n\nROTENONE\nBEETLE\nq\n\n\n"  // menus, names, listing pauses
    "2\n4\n"                          // logistic, model 4
    "\n\n\n\n"                        // separate slopes: no edit, frequency pauses, estimates
    "\n\n\n"                          // common slope: no edit, frequency pauses
    "\n\n\n\n"                        // levels, choice, pause
    "\n\n\n\n"                        // estimate and matrix pauses
    "y\nt\n\n\n0.9\n\n\nq\n"          // 90/99, table of EDs, ED90, two pauses each
    "2\n\n\nq\n"                      // reference 2 with two pauses
    "\n\n\n"                          // natural-rate pauses
    "y\nq\n";                         // plots, end

TEST(Answers, GivenInAdvanceTheyWriteWhatTheDialogueWrites) {
  TempWorkdir console_dir, fixed_dir;
  for (const TempWorkdir* dir : {&console_dir, &fixed_dir}) {
    dir->copy_data(examples_path("DATA/ROTENONE.TXT"));
    dir->copy_data(examples_path("DATA/BEETLE.TXT"));
  }
  const SessionResult dialogue = testing::run_session(kVariableMetricEdition, console_dir,
                                                      kConsoleAnswers);
  ASSERT_EQ(dialogue.status, 0) << dialogue.errors;
  ASSERT_EQ(dialogue.unread_input, "");

  ScriptedConsole console("");  // nothing is read from it
  AnalysisState s;
  s.console = &console;
  s.edition = &kVariableMetricEdition;
  s.workdir = fixed_dir.root();
  FixedAnswers answers;
  EXPECT_EQ(run_program(s, answers), 0);
  EXPECT_TRUE(answers.requests.empty());
  EXPECT_TRUE(answers.references.empty());
  // Listing 2, separate fit 3, common fit 2, tests 1, reports 4, effective
  // doses 4, potencies 2, rates 3: every pause of the dialogue.
  EXPECT_EQ(answers.pauses, 21);
  for (const char* file : {"REPORT.TXT", "TABLE.TXT", "SIGMOID.TXT", "LINEAR.TXT",
                           "SIGMOID001.SVG", "LINEAR001.SVG"})
    EXPECT_EQ(fixed_dir.read(file), console_dir.read(file)) << file;
  EXPECT_EQ(console.screen().find("[*/"), std::string::npos) << "no prompt is shown";
  EXPECT_NE(console.screen().find("ED90 (95% Limits)"), std::string::npos);
}

}  // namespace
}  // namespace varnalo
