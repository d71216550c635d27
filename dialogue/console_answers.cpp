#include "dialogue/console_answers.h"

#include "dialogue/data_file_dialogue.h"
#include "dialogue/menus.h"
#include "dialogue/potency_dialogue.h"
#include "dialogue/starting_values_dialogue.h"
#include "foundation/output.h"

namespace varnalo {

int ConsoleAnswers::dose_scale(int current) { return ask_dosage(s_, current); }

int ConsoleAnswers::variance_method(int current) { return ask_variance_method(s_, current); }

std::vector<std::string> ConsoleAnswers::data_files() { return ask_data_files(s_); }

int ConsoleAnswers::distribution(int current) { return ask_distribution(s_, current); }

ModelChoice ConsoleAnswers::model(ModelChoice current) { return ask_model(s_, current); }

void ConsoleAnswers::starting_values(DRef start) { edit_initial_values(s_, start); }

double ConsoleAnswers::significance_level(SignificanceOf, double current) {
  return ask_level(s_, current);
}

int ConsoleAnswers::chi_square_choice(int current) { return ask_chi_choice(s_, current); }

bool ConsoleAnswers::limits_90_99() { return ask_90_99(s_); }

EffectiveDoseRequest ConsoleAnswers::effective_doses(double current_level) {
  return ask_ed_level(s_, current_level);
}

std::optional<int> ConsoleAnswers::reference(int current) { return ask_reference(s_, current); }

bool ConsoleAnswers::plot_files() {
  screen(s_, "Generate Data for Plotting?\n  [*/y] ");
  return read_key(s_) == 'y';
}

bool ConsoleAnswers::end_of_run() {
  screen(s_, "The End of the Analysis\n  [*/q]   ");
  return read_key(s_) == 'q';
}

void ConsoleAnswers::pause() { read_key(s_); }

}  // namespace varnalo
