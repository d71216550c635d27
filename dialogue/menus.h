// The numbered option menus and the number prompts of the console dialogue.
//
// Every menu has the same form: a title, one line per choice, the current
// value in brackets and the answer prompt "  [*/#]  ": Enter keeps the
// current value, a typed number is taken at once (text-to-integer
// conversion, 0 for a line without a leading number) and the prompt repeats
// until it is one of the choices; a rejected number stays current, so Enter
// after it is rejected too. The number prompts (known C, significance
// level) work the same way with text-to-double conversion. Screen only.
// Inputs: answer lines from the console and the current values. Outputs:
// the accepted answers.
#pragma once

#include "dialogue/answers.h"
#include "foundation/state.h"

namespace varnalo {

int ask_dosage(AnalysisState& s, int current);
int ask_variance_method(AnalysisState& s, int current);
int ask_distribution(AnalysisState& s, int current);
// The model menu, and the known-C prompt when a form with a known C is
// chosen (not when it is kept with Enter).
ModelChoice ask_model(AnalysisState& s, ModelChoice current);
int ask_chi_choice(AnalysisState& s, int current);
// A significance level in 0..1 (both included).
double ask_level(AnalysisState& s, double current);

}  // namespace varnalo
