// The settings of an analysis in the report (report only, after the model
// menus): distribution, model form (with its known C) and variance method.
// Inputs: distribution, model, fixed_c and variance_method of the state.
#pragma once

#include "foundation/state.h"

namespace varnalo {

void report_settings(AnalysisState& s);

}  // namespace varnalo
