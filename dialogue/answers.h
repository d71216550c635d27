// The answers an analysis needs, behind one interface: the session asks here
// and never reads the console itself.
//
// ConsoleAnswers (dialogue/console_answers.h) shows the menus and prompts on
// the screen and reads the user's answers, as the program always has;
// another implementation can take the answers from elsewhere (a command
// line, say), print no prompt and skip the pauses. Each question gets the
// current value of its setting and returns the answer; a value returned is
// always one the program accepts (in range, a known C strictly between 0
// and 1, an ED level in 0.01..0.99, a preparation number).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/arrays.h"
#include "foundation/pauses.h"

namespace varnalo {

// The model form and its known C (used by the forms that have one).
struct ModelChoice {
  int model = 1;
  double fixed_c = 0.5;
};

// What the effective-dose dialogue asks for next.
struct EffectiveDoseRequest {
  enum class Kind { kLevel, kTable, kDone };
  Kind kind = Kind::kDone;
  double level = 0.5;  // with kLevel
};

// Which significance level is asked: that of the chi-square tests (asked
// after each of the two tables), or that of the variance ratio test.
enum class SignificanceOf { kChiSquareTests, kVarianceRatio };

class Answers : public Pauses {
 public:
  // Once per run.
  virtual int dose_scale(int current) = 0;
  virtual int variance_method(int current) = 0;

  // Each analysis, in this order.
  // The data files of the analysis, each found and readable; none (the user
  // leaves at once) ends the run with status 1.
  virtual std::vector<std::string> data_files() = 0;
  virtual int distribution(int current) = 0;
  virtual ModelChoice model(ModelChoice current) = 0;
  // May change the starting values of the fit in hand, entries
  // 1..nprep+nslopes+2.
  virtual void starting_values(DRef start) = 0;
  virtual double significance_level(SignificanceOf which, double current) = 0;
  virtual int chi_square_choice(int current) = 0;
  // Whether 90 and 99 per cent limits are shown besides the 95 per cent.
  virtual bool limits_90_99() = 0;
  virtual EffectiveDoseRequest effective_doses(double current_level) = 0;
  // The reference preparation of the next relative potencies, or nothing
  // to leave the relative-potency dialogue.
  virtual std::optional<int> reference(int current) = 0;
  virtual bool plot_files() = 0;
  // True when the run ends after this analysis.
  virtual bool end_of_run() = 0;
};

}  // namespace varnalo
