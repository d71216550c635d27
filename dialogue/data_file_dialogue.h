// The data-file dialogue of every analysis: the folder listing, the name
// prompt "  [name/q] n  ", and the checks of each name (found, readable,
// numbers only, at least one whole dose group, not named twice ignoring
// case), with the reason for a refusal on the error stream. "q" ends the
// dialogue; the folder is listed again after a refusal and after every ten
// files; at most kMaxPreparations files.
// Inputs: answer lines from the console, the DATA folder of the working
// folder. Output: the names accepted, in order (none when the user leaves at
// once).
#pragma once

#include <string>
#include <vector>

#include "foundation/state.h"

namespace varnalo {

std::vector<std::string> ask_data_files(AnalysisState& s);

}  // namespace varnalo
