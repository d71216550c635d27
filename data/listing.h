// The data listing (screen, once per analysis, pausing after each
// preparation) and the Configuration block (screen and report, before each
// fit).
#pragma once

#include "driver/state.h"

namespace varnalo {

void list_data(AnalysisState& s);
void list_preparation(AnalysisState& s, int k);
void print_configuration(AnalysisState& s);

}  // namespace varnalo
