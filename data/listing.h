// The data listing (screen, once per analysis, pausing after each
// preparation) and the Configuration block (screen and report, before each
// fit).
// Inputs: groups, ngroups, total_groups, nprep, nslopes and prep_names of
// the state. Outputs: text only.
#pragma once

#include "foundation/pauses.h"
#include "foundation/state.h"

namespace varnalo {

void list_data(AnalysisState& s, Pauses& pauses);
void list_preparation(AnalysisState& s, int k);
void print_configuration(AnalysisState& s);

}  // namespace varnalo
