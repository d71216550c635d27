// Natural response, immunity and preference rate estimates with Wald limits.
//
// For models 2 to 8 prints the fitted natural response rate (or preference)
// C and the natural immunity rate D with normal-theory limits
// estimate +- t * standard error (lower limit not below 0), and for the
// preference models the bias C / (1 - C); screen and report. Model 1 prints
// nothing. Limits that cannot be formed (a variance that is negative or not
// finite) show as "-", and a bias at or above a proportion of 1 (unbounded)
// as "+". Inputs: params, fixed_c, the selected covariance matrix (already
// inflated by het_factor), the deviates of the potency stage rule and
// show_90_99 (with 90 and 99 per cent limits, a pause after every level).
#pragma once

#include "foundation/pauses.h"
#include "foundation/state.h"

namespace varnalo {

void natural_rates_report(AnalysisState& s, Pauses& pauses);

}  // namespace varnalo
