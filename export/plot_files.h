// Plot data: observed proportions and fitted curves (SIGMOID.TXT), linearised
// responses, fitted lines and the 95 per cent Fieller band (LINEAR.TXT).
#pragma once

#include "driver/state.h"

namespace varnalo {

void write_sigmoid_file(AnalysisState& s);
void write_linear_file(AnalysisState& s);

}  // namespace varnalo
