// The lines that say what the data of each preparation leave undefined, on
// screen and report, once both fits are made (before the tests): one line
// per preparation that either fit does not estimate, naming it, what is
// wrong and what still holds. Each is also kept as a note
// ("not_estimable") for the results written for other programs.
// Inputs: the verdicts of the state (separate_estimability,
// common_estimability). Outputs: text.
#pragma once

#include <string>
#include <vector>

#include "foundation/state.h"

namespace varnalo {

// The line of preparation j ("" when both fits estimate it), with its line
// end.
std::string estimability_line(const AnalysisState& s, int j);
// Every preparation's line, then a blank line when there was any.
void report_estimability(AnalysisState& s);

}  // namespace varnalo
