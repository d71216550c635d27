// Relative potency of every preparation against a chosen reference, with
// asymptotic variances and Fieller limits.
#pragma once

#include "driver/state.h"

namespace varnalo {

void relative_potency_dialogue(AnalysisState& s);

}  // namespace varnalo
