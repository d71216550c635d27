// The questions of the potency stage: whether 90 and 99 per cent limits are
// shown besides the 95 per cent, the effective-dose level ("  [*/#/t/q]  ":
// Enter keeps the current level, a number in 0.01..0.99 is a level, "t"
// the table of standard levels, "q" leaves), and the reference preparation
// of the relative potencies ("  [*/#/q]  ": a preparation number; Enter or
// anything without a number picks preparation 1; "q" leaves). A rejected
// level or number stays current, so Enter after it is rejected too.
// Screen only.
// Inputs: answer lines from the console and the current values; the
// preparation names for the reference prompt. Outputs: the answers.
#pragma once

#include <optional>

#include "dialogue/answers.h"
#include "foundation/state.h"

namespace varnalo {

bool ask_90_99(AnalysisState& s);
EffectiveDoseRequest ask_ed_level(AnalysisState& s, double current);
std::optional<int> ask_reference(AnalysisState& s, int current);

}  // namespace varnalo
