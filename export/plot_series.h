// The plotted series of an analysis, computed once from the common-slope
// fit and drawn twice: as columns of SIGMOID.TXT and LINEAR.TXT
// (plot_files.h) and as pictures (plot_pictures.h).
//
// Dose-response series (SIGMOID): per preparation the observed proportions
// r/n against the log10 dose and the fitted response curve, sampled on an
// even grid of the linear predictor over the plot range (five standard
// deviations of the tolerance distribution either side of its centre), from
// an opening end point (response at P0 = 0) to a closing end point
// (response at P0 = 1) shared by all preparations; the grid points run one
// way between them. Linearised series (LINEAR): the observed responses on
// the linear-predictor scale after removing the natural rates (only those
// inside the plot range), the two ends of the fitted line and the 95 per cent
// Fieller band of the log dose, whose lower and upper curves span exactly
// the line's range of the linear predictor. For the pictures also the ED50
// of every preparation with its 95 per cent limits.
// A preparation that the common-slope fit does not estimate (its verdict in
// common_estimability) keeps its observed points only: its curve, line,
// band and ED50 are left empty.
// Points whose coordinates are not both finite are left out (a slope of 0 or
// estimates that are not numbers leave the curves, lines and bands empty);
// zero-dose groups are never points; their proportions are kept aside.
// Inputs: params of the common-slope fit, groups, prep_names, distribution,
// model, dose scale and unit, variance method, the selected covariance matrix,
// het_factor, sep_df, prep_sum_w, prep_mean_x. Output: a PlotSeries.
#pragma once

#include <string>
#include <vector>

#include "foundation/state.h"

namespace varnalo {

struct PlotPoint {
  double x;  // log10 dose (a confidence limit of it on the band curves)
  double y;  // response proportion, or the linear predictor
};

struct PreparationSeries {
  std::string name;
  // False when the common-slope fit does not estimate the preparation: its
  // intercept is then NaN and it has observed points only.
  bool estimated = true;
  double intercept = 0.0;
  // Dose-response: observed r/n and the fitted curve with its end points.
  std::vector<PlotPoint> observed;
  std::vector<PlotPoint> curve;
  // The same curve sampled finely for the pictures (the text file keeps the
  // coarse grid), between the same end points.
  std::vector<PlotPoint> fine_curve;
  // Linearised: observed responses, the line's two ends and the band curves
  // (x the limit of the log dose at which the line reaches y).
  std::vector<PlotPoint> linear_observed;
  std::vector<PlotPoint> line;
  std::vector<PlotPoint> lower_band;
  std::vector<PlotPoint> upper_band;
  // The band sampled finely for the pictures.
  std::vector<PlotPoint> fine_lower_band;
  std::vector<PlotPoint> fine_upper_band;
  // Groups that have no place on a log-dose axis: the observed proportions
  // of the zero-dose (control) groups, and the number of groups at an
  // infinite dose.
  std::vector<double> zero_dose_proportions;
  int infinite_dose_groups = 0;
  // ED50 (log10 dose), the fitted response there and its 95 per cent limits;
  // NaN where not available (missing limits: g >= 1).
  double ed50 = 0.0;
  double ed50_response = 0.0;
  double ed50_lower = 0.0;
  double ed50_upper = 0.0;
};

struct PlotSeries {
  int distribution = 1;
  int model = 1;
  int variance_method = 1;
  int dose_scale = 1;
  std::string dose_unit;  // empty when none was given
  std::string algorithm;
  double slope = 0.0;
  double C = 0.0;
  double D = 0.0;
  // Plot range of the linear predictor.
  double y_lo = 0.0;
  double y_hi = 0.0;
  std::vector<PreparationSeries> preps;  // preparation j at index j - 1
};

PlotSeries compute_plot_series(AnalysisState& s);

}  // namespace varnalo
