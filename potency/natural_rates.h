// Natural response, immunity and preference rate estimates with Wald limits.
#pragma once

#include "driver/state.h"

namespace varnalo {

void natural_rates_report(AnalysisState& s);

}  // namespace varnalo
