#include "dialogue/menus.h"

#include <cstdlib>
#include <initializer_list>
#include <string>

#include "foundation/output.h"
#include "model/distributions.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

constexpr const char* kAnswerPrompt = "  [*/#]  ";

// The answer loop of an integer menu over lo..hi.
int integer_answer_loop(AnalysisState& s, int value, int lo, int hi) {
  do {
    screen(s, "%s", kAnswerPrompt);
    const std::string answer = read_answer(s);
    if (!answer.empty()) value = std::atoi(answer.c_str());
  } while (value < lo || value > hi);
  return value;
}

// The answer loop of a number prompt: until accepted(value).
template <class Accepted>
double number_answer_loop(AnalysisState& s, double value, Accepted accepted) {
  do {
    screen(s, "%s", kAnswerPrompt);
    const std::string answer = read_answer(s);
    if (!answer.empty()) value = std::atof(answer.c_str());
  } while (!accepted(value));
  return value;
}

// A numbered menu: its heading lines, the choices numbered from 1, the
// current value ("  [2] Current <what>"), then answers until a listed number.
int numbered_menu(AnalysisState& s, const char* heading, std::initializer_list<const char*> choices,
                  const char* what, int current) {
  screen(s, "%s", heading);
  int number = 0;
  for (const char* choice : choices) screen(s, "   %d : %s\n", ++number, choice);
  screen(s, "  [%d] Current %s\n", current, what);
  return integer_answer_loop(s, current, 1, number);
}

// Known proportion C of the forms that have one: strictly between 0 and 1.
double ask_known_c(AnalysisState& s, double current) {
  screen(s, "  C = %lf : Set Known Proportion\n", current);
  return number_answer_loop(s, current, [](double c) { return c > 0.0 && c < 1.0; });
}

}  // namespace

int ask_dosage(AnalysisState& s, int current) {
  const int answer =
      numbered_menu(s, "Dosage\n   #   Unit\n", {"Dose", "Log(Dose)"}, "Dosage", current);
  screen(s, "\n");
  return answer;
}

int ask_variance_method(AnalysisState& s, int current) {
  return numbered_menu(s, "Calculation Mehod of Variances and Covariances\n   #   Method\n",
                       {kVarianceMethodNames[0], kVarianceMethodNames[1]}, "Method", current);
}

int ask_distribution(AnalysisState& s, int current) {
  const int answer = numbered_menu(s, "Selection of a Distribution\n   #   Functions\n",
                                   {distribution_name(1), distribution_name(2),
                                    distribution_name(3)},
                                   "Function", current);
  screen(s, "\n");
  return answer;
}

ModelChoice ask_model(AnalysisState& s, ModelChoice current) {
  screen(s, "Selection of a Model\n   #   Models with    (Activated) and Fixed Parameters\n");
  for (const ModelForm& form : kModelForms) {
    screen(s, "   %d : ", form.number);
    screen_text(s, strprintf(form.menu_text, current.fixed_c) + "\n");
  }
  screen(s, "  [%d] Current Model\n", current.model);
  ModelChoice choice = current;
  do {
    screen(s, "%s", kAnswerPrompt);
    const std::string answer = read_answer(s);
    if (!answer.empty()) {
      choice.model = std::atoi(answer.c_str());
      if (choice.model >= 1 && choice.model <= kModelFormCount && model_form(choice.model).known_c())
        choice.fixed_c = ask_known_c(s, choice.fixed_c);
    }
  } while (choice.model < 1 || choice.model > kModelFormCount);
  screen(s, "\n");
  return choice;
}

int ask_chi_choice(AnalysisState& s, int current) {
  const int answer = numbered_menu(s, "Use of Test Results\n   #   Tests\n",
                                   {"Pearson Test on Sum of Squares", "Likelihood Ratio Test"},
                                   "Chi-square", current);
  screen(s, "\n");
  return answer;
}

double ask_level(AnalysisState& s, double current) {
  screen(s, "  [%6.3f] Level of Significance\n", current);
  return number_answer_loop(s, current, [](double level) { return level >= 0.0 && level <= 1.0; });
}

}  // namespace varnalo
