// The answers of an analysis asked at the console: the menus and prompts on
// the screen, the answers read from standard input (answer files included),
// exactly as the program has always asked them. Single-key questions ("y"
// at "[*/y]", "q" at "[*/q]") and pauses take the first character of a
// line; menus, numbers and names take the line.
// Inputs: the console and working folder of the state (and, for the
// starting values and the reference, the fit in hand). Outputs: the answers;
// screen text (the starting-value tables also go to the report).
#pragma once

#include "dialogue/answers.h"
#include "foundation/state.h"

namespace varnalo {

class ConsoleAnswers : public Answers {
 public:
  explicit ConsoleAnswers(AnalysisState& s) : s_(s) {}

  int dose_scale(int current) override;
  int variance_method(int current) override;
  std::vector<std::string> data_files() override;
  int distribution(int current) override;
  ModelChoice model(ModelChoice current) override;
  void starting_values(DRef start) override;
  double significance_level(SignificanceOf which, double current) override;
  int chi_square_choice(int current) override;
  bool limits_90_99() override;
  EffectiveDoseRequest effective_doses(double current_level) override;
  std::optional<int> reference(int current) override;
  bool plot_files() override;
  bool end_of_run() override;
  void pause() override;

 private:
  AnalysisState& s_;
};

}  // namespace varnalo
