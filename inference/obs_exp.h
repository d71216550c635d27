// Observed and expected frequencies of every dose group of the current fit.
// Inputs: groups, params, model, distribution, fixed_c. Output: the table on
// screen and report, and the expected number of responders in column 4 of
// each GroupTable row (read by compute_pearson). One pause per preparation.
#pragma once

#include "foundation/pauses.h"
#include "foundation/state.h"

namespace varnalo {

void print_obs_exp(AnalysisState& s, Pauses& pauses);
void print_obs_exp_prep(AnalysisState& s, int j);

}  // namespace varnalo
