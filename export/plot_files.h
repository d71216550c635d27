// Plot data for a spreadsheet chart, appended on request after an analysis.
//
// write_sigmoid_file: observed proportions r/n and the fitted response curve
// of every preparation against log10 dose. write_linear_file: observed
// responses on the linear-predictor scale (probit, logit or cloglog units),
// the fitted straight line and the 95 per cent Fieller band of the log dose.
// Column 1 is always the log dose; each preparation has its own columns (2
// in SIGMOID.TXT, 4 in LINEAR.TXT) and every data line fills exactly one of
// them; the header sits to the right of the data columns. The values are
// those of the plotted series (plot_series.h), so empty curves, lines and
// bands write no points while their closing blank lines stay, and a header
// value that is not finite shows as "-".
// Inputs: the plotted series and the open file. Output: one block appended.
#pragma once

#include <cstdio>

#include "export/plot_series.h"

namespace varnalo {

void write_sigmoid_file(std::FILE* f, const PlotSeries& series);
void write_linear_file(std::FILE* f, const PlotSeries& series);

}  // namespace varnalo
