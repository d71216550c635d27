#include "dialogue/menus.h"

#include <cstdlib>
#include <string>

#include "foundation/menus.h"
#include "foundation/output.h"
#include "model/distributions.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

// Known proportion C of the forms that have one: strictly between 0 and 1.
void ask_known_c(AnalysisState& s) {
  screen(s, "  C = %lf : Set Known Proportion\n", s.fixed_c);
  do {
    screen(s, "%s", kAnswerPrompt);
    const std::string answer = read_answer(s);
    if (!answer.empty()) s.fixed_c = std::atof(answer.c_str());
  } while (!(s.fixed_c > 0.0 && s.fixed_c < 1.0));
}

}  // namespace

void ask_distribution_and_model(AnalysisState& s) {
  numbered_menu(s, "Selection of a Distribution\n   #   Functions\n",
                {distribution_name(1), distribution_name(2), distribution_name(3)}, "Function",
                s.distribution);
  screen(s, "\n");

  screen(s, "Selection of a Model\n   #   Models with    (Activated) and Fixed Parameters\n");
  for (const ModelForm& form : kModelForms) {
    screen(s, "   %d : ", form.number);
    screen_text(s, strprintf(form.menu_text, s.fixed_c) + "\n");
  }
  screen(s, "  [%d] Current Model\n", s.model);
  do {
    screen(s, "%s", kAnswerPrompt);
    const std::string answer = read_answer(s);
    if (!answer.empty()) {
      s.model = std::atoi(answer.c_str());
      if (s.model >= 1 && s.model <= kModelFormCount && model_form(s.model).known_c())
        ask_known_c(s);
    }
  } while (s.model < 1 || s.model > kModelFormCount);
  screen(s, "\n");
}

}  // namespace varnalo
