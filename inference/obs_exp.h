// Observed and expected frequencies of every dose group; stores the expected
// number of responders in column 4 of the GroupTable.
#pragma once

#include "driver/state.h"

namespace varnalo {

void print_obs_exp(AnalysisState& s);
void print_obs_exp_prep(AnalysisState& s, int j);

}  // namespace varnalo
