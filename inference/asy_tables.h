// Headings and rows of the asymptotic-variance tables and the heading of the
// confidence-limit tables of the effective-dose and potency stages.
// Rows: estimates and variances [1..nprep], labelled m1, m2, ... with the
// preparation names; a negative variance shows "-" for its standard error.
// Inputs: estimates, variances, the confidence level k and its alpha, the
// names to print. Outputs: screen and report text only.
#pragma once

#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

void print_asy_var_head(AnalysisState& s, const char* name);
void print_asy_var_rows(AnalysisState& s, DRef e, DRef v);
void print_limits_head(AnalysisState& s, int k, DRef alpha, const char* name, const char* tname,
                       const char* word);

}  // namespace varnalo
