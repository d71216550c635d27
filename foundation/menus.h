// Console menus and prompts: the numbered option menus with their answer
// loop ("  [*/#]  ", Enter keeps the current value) and the
// significance-level prompt. Menus write to the screen only.
// Inputs: answer lines from the console. Outputs: the chosen settings in the
// state (dose_scale, variance_method, chi_choice, a significance level).
#pragma once

#include "foundation/state.h"

namespace varnalo {

#include <initializer_list>

// The answer prompt of every menu.
inline constexpr const char* kAnswerPrompt = "  [*/#]  ";

// The answer loop of an integer menu: Enter keeps the current value, any
// other answer is stored at once (text-to-integer conversion, 0 when the line
// has no leading number) and the prompt repeats until the value is in
// lo..hi. A rejected number stays stored, so Enter after it asks again.
void integer_answer_loop(AnalysisState& s, int& field, int lo, int hi);

// A numbered menu: its heading lines, the choices numbered from 1, the
// current value ("  [2] Current <what>"), then answers until a listed number.
void numbered_menu(AnalysisState& s, const char* heading, std::initializer_list<const char*> choices,
                   const char* what, int& field);

void ask_dosage(AnalysisState& s);
void ask_variance_method(AnalysisState& s);
void ask_chi_choice(AnalysisState& s);
// Asks for a significance level in 0..1 (both included).
void ask_level(AnalysisState& s, double& level);

}  // namespace varnalo
