// Geometry of the pictures, worked out before anything is drawn: the page
// and its margins, where the legend goes, the x range of a picture and the
// round doses that label a log-dose axis.
//
// Everything here is arithmetic on the plotted series (plot_series.h) and
// the number of notes; nothing draws. Sizes are in pixels of the PNG (points
// of the SVG) or in character heights; the viewport is in fractions of the
// page, as PLplot takes it.
// Inputs: the plotted series, the note count. Outputs: a Layout, ranges,
// tick positions and their labels.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "export/plot_series.h"

namespace varnalo {

// Page size in pixels (PNG) and points (SVG): wide enough for a legend
// beside the plot.
inline constexpr int kPageWidth = 1000;
inline constexpr int kPageHeight = 700;
// PLplot's cairo and svg devices map the page at 72 dots per inch.
inline constexpr double kPixelsPerMm = 72.0 / 25.4;
// Character height: 4.8 mm is about 14 pixels, readable at full size and
// when the picture is scaled into a report.
inline constexpr double kCharMm = 4.8;
inline constexpr double kCharPx = kCharMm * kPixelsPerMm;
// Legend entries: gap between rows in character heights, gap from the plot
// or page edge in fractions of the page, text scale below the plot.
inline constexpr double kLegendSpacing = 1.9;
inline constexpr double kLegendEdgeGap = 0.01;
inline constexpr double kLegendBelowScale = 0.85;
// Lines of notes below the x axis: where the first starts and how far apart
// they are, in character heights.
inline constexpr double kAxisLabelsHeight = 4.8;  // tick labels and the axis label
inline constexpr double kNoteSpacing = 1.5;

// The dose-response picture's y range: 0 to 1 with room for markers on the
// edges.
inline constexpr double kProportionMin = -0.03;
inline constexpr double kProportionMax = 1.03;
inline constexpr double kProportionTick = 0.2;
// ED50 marks and confidence bands are drawn for at most this many
// preparations; beyond that they would cover each other.
inline constexpr std::size_t kMaxDetailedPreparations = 10;

struct Range {
  double lo, hi;
};

// A log dose that can stand on the axis (not a zero or infinite dose).
bool on_axis(double x);

// Where the plot sits on the page and where its legend goes.
struct Layout {
  int height = kPageHeight;
  bool legend_below = false;
  int legend_columns = 1;
  int legend_rows = 1;
  // Viewport in normalized page coordinates.
  double left = 0, right = 1, bottom = 0, top = 1;
};

// The layout of a picture of the series with the given number of notes: the
// legend beside the plot for a few short names, otherwise below it in
// columns on a taller page.
Layout plan_layout(const PlotSeries& series, std::size_t notes);

// The x range of both pictures (log10 doses): the doses of the observed
// points and, up to half a decade beyond them, the ED50 marks with their
// limits, with a tenth of a decade of room each side. Curves, lines and
// bands are cut at its edges.
Range picture_x_range(const PlotSeries& series);

// The y range of the linearised picture over the x range: the fitted lines
// at its edges, the observed points and the bands within it, with a little
// room; never beyond the plot range of the linear predictor.
Range linear_y_range(const PlotSeries& series, Range x);

// The height (proportion) of each preparation's ED50 mark and bar: the
// fitted response at the ED50, the same for every preparation; with several
// preparations the bars are set one above another around it, the first
// preparation's highest (the order of the legend), so that they stay apart.
std::vector<double> ed50_bar_heights(const PlotSeries& series);

// Half the height of the upright stroke that marks an ED50 (proportion):
// shorter when the bars are set one above another.
double ed50_stroke_half_height(const PlotSeries& series);

// Log10 positions of round doses (1, 2, 3, 5 ... times a power of ten) to
// label a log-dose axis; empty when the range is too narrow for two of them.
std::vector<double> dose_ticks(Range r);

// The label of a dose tick at log10 position x: plain decimals, or a power
// of ten in PLplot's superscript escapes.
std::string dose_label(double x);

}  // namespace varnalo
