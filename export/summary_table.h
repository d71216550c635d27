// The TABLE.TXT block of an analysis: settings, column titles and one
// tab-separated row per preparation.
#pragma once

#include "driver/state.h"

namespace varnalo {

void write_summary_table(AnalysisState& s);

}  // namespace varnalo
