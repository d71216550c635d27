// Starting values by unweighted regression of the linearised observed
// proportions on log dose.
// Inputs: the GroupTable, nprep, ngroups, nslopes, model, fixed_c,
// distribution and prep_names of the state. Output: entries
// 1..nprep+nslopes+2 of p, always finite (degenerate data get a slope of 1
// or a proportion of 0 where the regression formulas would divide by 0).
#pragma once

#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

void initial_values(AnalysisState& s, DRef p);
// The intercepts and slopes (entries 1..nprep+nslopes) of the regression
// start for given starting rates C0 and D0 (as the model uses them: C0 is
// fixed_c in models 5 and 7); the rate entries are not written.
void regression_lines(AnalysisState& s, DRef p, double C0, double D0);

}  // namespace varnalo
