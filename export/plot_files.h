// Plot data for a spreadsheet chart, appended on request after an analysis.
//
// write_sigmoid_file (to s.sigmoid_file): observed proportions r/n and the
// fitted response curve of every preparation against log10 dose, over five
// standard deviations of the tolerance distribution either side of its
// centre. write_linear_file (to s.linear_file): observed responses on the
// linear-predictor scale (probit, logit or cloglog units), the fitted
// straight line and the 95 per cent Fieller band of the log dose.
// Column 1 is always the log dose; each preparation has its own columns (2
// in SIGMOID.TXT, 4 in LINEAR.TXT) and every data line fills exactly one of
// them; the header sits to the right of the data columns. Zero-dose groups
// are never written, nor is any point whose x or y is not a finite number
// (with a slope of 0 the curves, lines and bands have no points; the header
// and the blank lines between blocks stay, and a header value that is not
// finite shows as "-").
// Inputs: params of the common-slope fit, groups, prep_names, distribution,
// model, variance method, the selected covariance matrix, het_factor,
// sep_df, prep_sum_w, prep_mean_x.
#pragma once

#include "foundation/state.h"

namespace varnalo {

void write_sigmoid_file(AnalysisState& s);
void write_linear_file(AnalysisState& s);

}  // namespace varnalo
