#include "driver/menus.h"

namespace varnalo {
void ask_dosage(AnalysisState&) {}
void ask_variance_method(AnalysisState&) {}
void ask_distribution_and_model(AnalysisState&) {}
void report_settings(AnalysisState&) {}
void ask_chi_choice(AnalysisState&) {}
void ask_level(AnalysisState&, double&) {}
int extra_parameter_count(int model) {
  if (model == 1 || model == 5) return 0;
  if (model == 4 || model == 8) return 2;
  return 1;
}
}  // namespace varnalo
