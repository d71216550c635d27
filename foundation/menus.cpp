#include "foundation/menus.h"

#include <cstdlib>
#include <initializer_list>
#include <string>

#include "foundation/output.h"

namespace varnalo {

void integer_answer_loop(AnalysisState& s, int& field, int lo, int hi) {
  do {
    screen(s, "%s", kAnswerPrompt);
    const std::string answer = read_answer(s);
    if (!answer.empty()) field = std::atoi(answer.c_str());
  } while (field < lo || field > hi);
}

void numbered_menu(AnalysisState& s, const char* heading, std::initializer_list<const char*> choices,
                   const char* what, int& field) {
  screen(s, "%s", heading);
  int number = 0;
  for (const char* choice : choices) screen(s, "   %d : %s\n", ++number, choice);
  screen(s, "  [%d] Current %s\n", field, what);
  integer_answer_loop(s, field, 1, number);
}

void ask_dosage(AnalysisState& s) {
  numbered_menu(s, "Dosage\n   #   Unit\n", {"Dose", "Log(Dose)"}, "Dosage", s.dose_scale);
  screen(s, "\n");
}

void ask_variance_method(AnalysisState& s) {
  numbered_menu(s, "Calculation Mehod of Variances and Covariances\n   #   Method\n",
                {"SAS Equivalent", "Finney Equivalent"}, "Method", s.variance_method);
}

void ask_chi_choice(AnalysisState& s) {
  numbered_menu(s, "Use of Test Results\n   #   Tests\n",
                {"Pearson Test on Sum of Squares", "Likelihood Ratio Test"}, "Chi-square",
                s.chi_choice);
  screen(s, "\n");
}

void ask_level(AnalysisState& s, double& level) {
  screen(s, "  [%6.3f] Level of Significance\n", level);
  do {
    screen(s, "%s", kAnswerPrompt);
    const std::string answer = read_answer(s);
    if (!answer.empty()) level = std::atof(answer.c_str());
  } while (!(level >= 0.0 && level <= 1.0));
}

}  // namespace varnalo
