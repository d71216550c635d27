#include "foundation/menus.h"

#include <cstdlib>
#include <initializer_list>
#include <string>

#include "foundation/output.h"

namespace varnalo {

namespace {

constexpr const char* kAnswerPrompt = "  [*/#]  ";

// The answer loop of an integer menu: Enter keeps the current value, any
// other answer is stored at once (text-to-integer conversion, 0 when the line
// has no leading number) and the prompt repeats until the value is in
// lo..hi. A rejected number stays stored, so Enter after it asks again.
void integer_answer_loop(AnalysisState& s, int& field, int lo, int hi) {
  do {
    screen(s, "%s", kAnswerPrompt);
    const std::string answer = read_answer(s);
    if (!answer.empty()) field = std::atoi(answer.c_str());
  } while (field < lo || field > hi);
}

// A numbered menu: its heading lines, the choices numbered from 1, the
// current value ("  [2] Current <what>"), then answers until a listed number.
void numbered_menu(AnalysisState& s, const char* heading, std::initializer_list<const char*> choices,
                   const char* what, int& field) {
  screen(s, "%s", heading);
  int number = 0;
  for (const char* choice : choices) screen(s, "   %d : %s\n", ++number, choice);
  screen(s, "  [%d] Current %s\n", field, what);
  integer_answer_loop(s, field, 1, number);
}

const char* const kModelLines[] = {
    "   1 : All or Nothing (a: Intercept, b: Regression Coefficient), C=D=0\n",
    "   2 : All or Nothing (a, b, C: Natural Response Rate), D=0\n",
    "   3 : All or Nothing (a, b, D: Natural Immunity Rate), C=0\n",
    "   4 : All or Nothing (a, b, C, D)\n",
    "   5 : Preference     (a, b), C=%lf, D=0\n",
    "   6 : Preference     (a, b, C: Natural Preference to Treatment Side),D=0\n",
    "   7 : Preference     (a, b, D: Natural Immunity Rate), C=%lf\n",
    "   8 : Preference     (a, b, C, D)\n",
};

// Known proportion C of models 5 and 7: strictly between 0 and 1.
void ask_known_c(AnalysisState& s) {
  screen(s, "  C = %lf : Set Known Proportion\n", s.fixed_c);
  do {
    screen(s, "%s", kAnswerPrompt);
    const std::string answer = read_answer(s);
    if (!answer.empty()) s.fixed_c = std::atof(answer.c_str());
  } while (!(s.fixed_c > 0.0 && s.fixed_c < 1.0));
}

}  // namespace

int extra_parameter_count(int model) {
  if (model == 1 || model == 5) return 0;
  if (model == 4 || model == 8) return 2;
  return 1;
}

void ask_dosage(AnalysisState& s) {
  numbered_menu(s, "Dosage\n   #   Unit\n", {"Dose", "Log(Dose)"}, "Dosage", s.dose_scale);
  screen(s, "\n");
}

void ask_variance_method(AnalysisState& s) {
  numbered_menu(s, "Calculation Mehod of Variances and Covariances\n   #   Method\n",
                {"SAS Equivalent", "Finney Equivalent"}, "Method", s.variance_method);
}

void ask_distribution_and_model(AnalysisState& s) {
  numbered_menu(s, "Selection of a Distribution\n   #   Functions\n",
                {"Normal", "Logistic", "Complementary Log-Log"}, "Function", s.distribution);
  screen(s, "\n");

  screen(s, "Selection of a Model\n   #   Models with    (Activated) and Fixed Parameters\n");
  for (int m = 1; m <= 8; ++m) {
    if (m == 5 || m == 7)
      screen(s, kModelLines[m - 1], s.fixed_c);
    else
      screen(s, "%s", kModelLines[m - 1]);
  }
  screen(s, "  [%d] Current Model\n", s.model);
  do {
    screen(s, "%s", kAnswerPrompt);
    const std::string answer = read_answer(s);
    if (!answer.empty()) {
      s.model = std::atoi(answer.c_str());
      if (s.model == 5 || s.model == 7) ask_known_c(s);
    }
  } while (s.model < 1 || s.model > 8);
  screen(s, "\n");
  s.nextra = extra_parameter_count(s.model);
}

void report_settings(AnalysisState& s) {
  static const char* const kDistributionItems[] = {"1: Normal, ", "2: Logistic, ",
                                                   "3: Complementary Log-Log, "};
  report(s, "Distribution Function, Model (Activated Parameters) and Variances\n");
  report(s, "%s", kDistributionItems[s.distribution - 1]);
  switch (s.model) {
    case 1:
      report(s, "1: All / Nothing (a, b), ");
      break;
    case 2:
      report(s, "2: All / Nothing (a, b, C:Natural Response Rate), ");
      break;
    case 3:
      report(s, "3: All / Nothing (a, b, D:Natural Immunity Rate), ");
      break;
    case 4:
      report(s, "4: All / Nothing (a, b, C:Natural Response Rate, D:Natural Immunity Rate), ");
      break;
    case 5:
      report(s, "5: Preference (a, b), C = %lf (Natural Preference is Fixed), ", s.fixed_c);
      break;
    case 6:
      report(s, "6: Preference (a, b, C:Natural Preference), ");
      break;
    case 7:
      report(s, "7: Preference (a, b, D:Natural Immunity Rate), C = %lf (Preference is Fixed), ",
             s.fixed_c);
      break;
    case 8:
      report(s, "8: Preference (a, b, C:Natural Preference, D:Natural Immunity Rate), ");
      break;
  }
  report(s, "\n");
  report(s, "%s", s.variance_method == 1 ? "1: SAS Equivalent\n" : "2: Finney Equivalent\n");
  report(s, "\n");
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
