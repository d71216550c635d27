// Starting values by unweighted regression of the linearised observed
// proportions on log dose, and the console dialogue that shows and edits
// them (with the before/after tables written to the report).
#pragma once

#include "driver/arrays.h"
#include "driver/state.h"

namespace varnalo {

void initial_values(AnalysisState& s, DRef p);
void edit_initial_values(AnalysisState& s, DRef p);
void read_parameter_value(AnalysisState& s, DRef p, int index);

}  // namespace varnalo
