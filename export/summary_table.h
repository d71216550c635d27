// The TABLE.TXT block of an analysis, for pasting into a spreadsheet.
//
// Writes to s.table_file (nothing when it is not open): the settings line
// (distribution, model, algorithm name, variance method), the column titles,
// and one row of 40 tab-terminated fields per preparation: ED50 with its 95
// per cent Fieller limits (dose and log scale), relative potency against the
// last reference with its limits, the fitted line, estimates of a, b, C, D
// with standard errors, mu = log ED50, log Rho and sigma = 1/b with standard
// errors, the heterogeneity and parallelism chi-squares, heterogeneity
// factor, 95 per cent deviate, AIC, number of parameters and maximum
// log-likelihood; then a blank line. A value that is not a finite number
// (zero slope, negative variance) is written as "-" in its cell.
// Needs the working data of the potency stage (deviates and relative
// potencies), so it runs after the potency stage and before that working
// data is released.
#pragma once

#include "foundation/state.h"

namespace varnalo {

void write_summary_table(AnalysisState& s);

}  // namespace varnalo
