// Console menus and prompts: the numbered option menus with their answer
// loop ("  [*/#]  ", Enter keeps the current value), the significance-level
// prompt, and the settings summary written to the report.
// Menus write to the screen only; report_settings writes to the report only.
// Inputs: answer lines from the console. Outputs: the chosen settings in the
// state (dose_scale, variance_method, distribution, model, fixed_c, nextra,
// chi_choice, a significance level).
#pragma once

#include "foundation/state.h"

namespace varnalo {

void ask_dosage(AnalysisState& s);
void ask_variance_method(AnalysisState& s);
// Distribution and model menus (with the known-C prompt); sets nextra.
void ask_distribution_and_model(AnalysisState& s);
void report_settings(AnalysisState& s);
void ask_chi_choice(AnalysisState& s);
// Asks for a significance level in 0..1 (both included).
void ask_level(AnalysisState& s, double& level);

// Number of extra parameters (C, D) of a model.
int extra_parameter_count(int model);

}  // namespace varnalo
