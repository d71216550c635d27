// Plotted series: sigmoid curves, linearised responses, fitted lines, the
// Fieller band and the ED50 marks.
// Method: curves sampled on an even grid of the linear predictor over
// centre +- 5 standard deviations of the tolerance distribution (50 steps for
// the dose-response curve, 10 for the band; 400 and 100 for the pictures);
// observed proportions linearised by the inverse tolerance distribution after
// removing the natural rates (Abbott's correction); band limits and ED50
// limits by Fieller's theorem at the 95 per cent deviate.
// Source: Finney, "Probit Analysis" (3rd ed., 1971), chapters 3-4.
// Accuracy: the values the fit holds, no further rounding.
#include "export/plot_series.h"

#include <cmath>
#include <limits>
#include <numbers>

#include "fit/edition.h"
#include "foundation/arrays.h"
#include "model/distributions.h"
#include "model/model_family.h"
#include "model/model_form.h"
#include "potency/effective_dose.h"
#include "potency/fieller.h"

namespace varnalo {

namespace {

// Grid steps as fractions of the plotted range of the linear predictor.
constexpr double kSigmoidStepFraction = 0.02;
constexpr double kLinearStepFraction = 0.1;
// Steps of the pictures' curve and band over the plotted range: smooth at
// any width the picture shows of them.
constexpr int kFineSteps = 400;
constexpr int kFineBandSteps = 100;
// A curve grid point closer than this many steps to the closing end point
// adds nothing to the curve and would make it run back.
constexpr double kEndPointGap = 0.5;
// Euler's constant: mean of the standard extreme-value (cloglog) tolerance.
constexpr double kEulerGamma = 0.577215664901533;
// Half range: five standard deviations of the tolerance distribution.
constexpr double kStandardDeviations = 5.0;
constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

struct PlotRange {
  double lo, hi, half;
};

PlotRange plot_range(int distribution) {
  double center = 0.0;
  double sd = 1.0;
  if (distribution == 2) {
    sd = std::numbers::pi / std::sqrt(3.0);
  } else if (distribution == 3) {
    center = kEulerGamma;
    sd = std::numbers::pi / std::sqrt(6.0);
  }
  const double half = kStandardDeviations * sd;
  return {center - half, center + half, half};
}

// Number of steps in a span that holds a whole number of them up to
// rounding; 0 when the quotient is not a finite non-negative number (a slope
// of 0 gives infinite or undefined spans).
int grid_steps(double span, double step) {
  const double q = span / step;
  if (!std::isfinite(q) || q < 0.0) return 0;
  return static_cast<int>(std::lround(q));
}

bool plottable(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

void add_point(std::vector<PlotPoint>& to, double x, double y) {
  if (plottable(x, y)) to.push_back({x, y});
}

double response_at(const ModelForm& form, double p0, double C, double D) {
  double p = 0.0, q = 0.0;
  form.probability(p0, C, D, &p, &q);
  return p;
}

}  // namespace

PlotSeries compute_plot_series(AnalysisState& s) {
  PlotSeries out;
  const int P = s.nprep;
  const double b = s.params[P + 1];
  const PlotRange range = plot_range(s.distribution);
  const ModelForm& form = model_form(s);
  out.distribution = s.distribution;
  out.model = s.model;
  out.variance_method = s.variance_method;
  out.dose_scale = s.dose_scale;
  out.dose_unit = s.dose_unit;
  out.algorithm = s.edition->algorithm_name;
  out.slope = b;
  out.y_lo = range.lo;
  out.y_hi = range.hi;
  fitted_c_d(s, &out.C, &out.D);
  const double C = out.C, D = out.D;

  double a_max = -1e50, a_min = 1e50;
  for (int j = 1; j <= P; ++j) {
    if (!s.common_estimability.estimated(j)) continue;  // no curve
    if (s.params[j] > a_max) a_max = s.params[j];
    if (s.params[j] < a_min) a_min = s.params[j];
  }
  const double x_lo = (range.lo - a_max) / b;
  const double x_hi = (range.hi - a_min) / b;
  const double curve_step = (range.half + range.half) / b * kSigmoidStepFraction;
  const double band_step = (range.half + range.half) / b * kLinearStepFraction;
  const double t = confidence_deviate(s, kLevel95);
  const double p_first = response_at(form, 0.0, C, D);
  const double p_last = response_at(form, 1.0, C, D);

  out.preps.resize(static_cast<std::size_t>(P));
  for (int j = 1; j <= P; ++j) {
    PreparationSeries& prep = out.preps[static_cast<std::size_t>(j - 1)];
    const double a = s.params[j];
    prep.name = s.prep_names[j];
    prep.intercept = a;
    const double x0 = (range.lo - a) / b;
    const double span = (range.hi - a) / b - x0;

    for (int g = 1; g <= s.ngroups[j]; ++g) {
      DRef group = s.groups[j][g];
      const double x = group[1];
      const double proportion = group[3] / group[2];
      if (!(x > kZeroDoseLog)) {
        prep.zero_dose_proportions.push_back(proportion);
        continue;
      }
      if (x >= kInfiniteDoseLog) ++prep.infinite_dose_groups;
      add_point(prep.observed, x, proportion);
      const double p0 = form.background_free(proportion, C, D);
      // Left at the sentinel for a proportion that is not a number: skipped.
      double y = kInfiniteDoseLog;
      tolerance_inverse(s.distribution, p0, &y);
      if (range.lo <= y && y <= range.hi) add_point(prep.linear_observed, x, y);
    }

    // A preparation the common-slope fit does not estimate has its observed
    // points only: no curve, line, band or ED50.
    if (!s.common_estimability.estimated(j)) {
      prep.estimated = false;
      prep.intercept = kMissing;
      prep.ed50 = prep.ed50_response = prep.ed50_lower = prep.ed50_upper = kMissing;
      continue;
    }

    // The curve: one step past the end of the range on the grid, but never
    // up to or beyond the closing end point.
    add_point(prep.curve, x_lo, p_first);
    const int curve_count = grid_steps(span, curve_step) + 1;
    for (int i = 1; i <= curve_count; ++i) {
      const double x = x0 + i * curve_step;
      if (!((x_hi - x) / curve_step > kEndPointGap)) continue;
      double p0 = 0.0, density = 0.0;
      tolerance_cdf(s.distribution, kReportingFloors, a + b * x, &p0, &density);
      add_point(prep.curve, x, response_at(form, p0, C, D));
    }
    add_point(prep.curve, x_hi, p_last);
    add_point(prep.fine_curve, x_lo, p_first);
    for (int i = 0; i <= kFineSteps; ++i) {
      const double x = x0 + span * i / kFineSteps;
      double p0 = 0.0, density = 0.0;
      tolerance_cdf(s.distribution, kReportingFloors, a + b * x, &p0, &density);
      add_point(prep.fine_curve, x, response_at(form, p0, C, D));
    }
    add_point(prep.fine_curve, x_hi, p_last);

    const double y_start = a + b * x0;
    const double y_end = a + b * (x0 + span);
    add_point(prep.line, x0, y_start);
    add_point(prep.line, x0 + span, y_end);

    // The band: for each grid response Y the limits of the log dose at which
    // the line reaches Y; its last Y is the line's own end.
    const int band_count = grid_steps(span, band_step);
    for (int e = 0; e <= band_count; ++e) {
      const double y = (e > 0 && e == band_count) ? y_end : (x0 + e * band_step) * b + a;
      const double m = (y - a) / b;
      double var = 0.0, upper = 0.0, lower = 0.0;
      log_dose_limits(s, j, m, t, &var, &upper, &lower);
      if (lower > kMissingLower) add_point(prep.lower_band, lower, y);
      if (upper < kMissingUpper) add_point(prep.upper_band, upper, y);
    }
    for (int e = 0; e <= kFineBandSteps; ++e) {
      const double y = y_start + (y_end - y_start) * e / kFineBandSteps;
      double var = 0.0, upper = 0.0, lower = 0.0;
      log_dose_limits(s, j, (y - a) / b, t, &var, &upper, &lower);
      if (lower > kMissingLower) add_point(prep.fine_lower_band, lower, y);
      if (upper < kMissingUpper) add_point(prep.fine_upper_band, upper, y);
    }

    prep.ed50 = log_effective_dose(s, j, kEd50Level);
    prep.ed50_response = response_at(form, kEd50Level, C, D);
    prep.ed50_lower = prep.ed50_upper = kMissing;
    if (std::isfinite(prep.ed50)) {
      double var = 0.0, upper = 0.0, lower = 0.0;
      log_dose_limits(s, j, prep.ed50, t, &var, &upper, &lower);
      if (lower > kMissingLower && upper < kMissingUpper && std::isfinite(lower) &&
          std::isfinite(upper)) {
        prep.ed50_lower = lower;
        prep.ed50_upper = upper;
      }
    } else {
      prep.ed50 = kMissing;
    }
  }
  return out;
}

}  // namespace varnalo
