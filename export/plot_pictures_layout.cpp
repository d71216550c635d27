// Page layout, x ranges and dose ticks of the pictures.
// Method: text and legend sizes estimated from character counts (no font
// metrics are at hand before PLplot draws); ticks chosen from ever coarser
// sets of round mantissas until they fit the axis.
// Accuracy: sizes are estimates to within about a character; positions are
// exact log10 values of the round doses.
#include "export/plot_pictures_layout.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "foundation/output.h"

namespace varnalo {

namespace {

// Rough width of one character of a name (capitals of a sans-serif font), in
// character heights; used to size the legend.
constexpr double kCharWidth = 0.8;
// Legend: rows per column beside the plot; beyond that the legend moves
// below the plot in columns and the page grows.
constexpr std::size_t kLegendBesideMax = 16;
// A legend wider than this (long names) also goes below the plot.
constexpr double kLegendBesideMaxPx = 300.0;
constexpr double kLegendSampleChars = 8.0;  // offset, line sample and gap, in character heights
// Margins in character heights.
constexpr double kTopMargin = 4.6;  // the title and the formula under it
constexpr double kLeftMargin = 6.0;
constexpr double kRightMargin = 2.5;
// Room each side of the doses, in decades (log10 units).
constexpr double kDosePad = 0.1;
// ED50 marks and limits widen the x range up to this many decades beyond
// the doses; a bar reaching further is cut at the edge.
constexpr double kMarkReach = 0.5;
// Half width of the x range when the doses are a single value, in decades.
constexpr double kSingleValueHalfWidth = 0.5;
// Room above and below the linearised picture's lines, as a fraction of the
// range.
constexpr double kRangePad = 0.03;
// ED50 bars of several preparations: the step between two bars and the half
// height of their marks (proportion); one preparation's mark is taller.
constexpr double kBarStagger = 0.035;
constexpr double kStaggeredStroke = 0.012;
constexpr double kSingleStroke = 0.025;
// Dose ticks: at most this many, at least this far apart (fraction of the
// axis).
constexpr std::size_t kMaxDoseTicks = 8;
constexpr double kMinDoseTickGap = 0.07;
// Doses outside this range are labelled as powers of ten.
constexpr double kSmallestPlainDose = 1e-4;
constexpr double kLargestPlainDose = 1e5;

constexpr Range kEmpty{1e300, -1e300};

bool is_empty(Range r) { return !(r.lo <= r.hi); }

void widen(Range& r, double x) {
  if (!on_axis(x)) return;
  r.lo = std::min(r.lo, x);
  r.hi = std::max(r.hi, x);
}

void widen(Range& r, const std::vector<PlotPoint>& points) {
  for (const PlotPoint& p : points) widen(r, p.x);
}

bool inside(Range r, double x) { return x >= r.lo && x <= r.hi; }

// Whether a preparation's ED50 mark is drawn.
bool has_mark(const PlotSeries& series, const PreparationSeries& prep) {
  return series.preps.size() <= kMaxDetailedPreparations && std::isfinite(prep.intercept) &&
         std::isfinite(series.slope) && series.slope != 0.0 && std::isfinite(prep.ed50);
}

}  // namespace

bool on_axis(double x) { return x > kZeroDoseLog && x < kInfiniteDoseLog; }

Layout plan_layout(const PlotSeries& series, std::size_t notes) {
  Layout layout;
  const std::size_t P = std::max<std::size_t>(series.preps.size(), 1);
  std::size_t longest = 1;
  for (const PreparationSeries& prep : series.preps) longest = std::max(longest, prep.name.size());
  const double entry_px = (static_cast<double>(longest) * kCharWidth + kLegendSampleChars) * kCharPx;
  const double row_px = kLegendSpacing * kCharPx;
  double right_px = kRightMargin * kCharPx + kLegendEdgeGap * kPageWidth;
  double bottom_px = (kAxisLabelsHeight + kNoteSpacing * static_cast<double>(notes) + 1.0) * kCharPx;
  if (P <= kLegendBesideMax && entry_px <= kLegendBesideMaxPx) {
    right_px += entry_px;
    layout.legend_rows = static_cast<int>(P);
  } else {
    layout.legend_below = true;
    const double usable = kPageWidth - 2.0 * kRightMargin * kCharPx;
    layout.legend_columns = std::clamp(static_cast<int>(usable / (entry_px * kLegendBelowScale)),
                                       1, static_cast<int>(P));
    layout.legend_rows = static_cast<int>((P + layout.legend_columns - 1) / layout.legend_columns);
    const double legend_px = (layout.legend_rows + 1) * row_px;
    bottom_px += legend_px;
    layout.height = kPageHeight + static_cast<int>(legend_px);
  }
  const double W = kPageWidth, H = layout.height;
  layout.left = kLeftMargin * kCharPx / W;
  layout.right = 1.0 - right_px / W;
  layout.bottom = bottom_px / H;
  layout.top = 1.0 - kTopMargin * kCharPx / H;
  return layout;
}

Range picture_x_range(const PlotSeries& series) {
  Range data = kEmpty;
  for (const PreparationSeries& prep : series.preps) widen(data, prep.observed);
  if (is_empty(data)) {
    // No dose to hold to (only controls): what is drawn of the curves.
    for (const PreparationSeries& prep : series.preps) widen(data, prep.curve);
    if (is_empty(data)) return {-1.0, 1.0};
  }
  Range x = data;
  const Range reach{data.lo - kMarkReach, data.hi + kMarkReach};
  for (const PreparationSeries& prep : series.preps) {
    if (!has_mark(series, prep)) continue;
    for (double v : {prep.ed50, prep.ed50_lower, prep.ed50_upper})
      if (std::isfinite(v)) widen(x, std::clamp(v, reach.lo, reach.hi));
  }
  if (x.hi - x.lo <= 0.0) return {x.lo - kSingleValueHalfWidth, x.hi + kSingleValueHalfWidth};
  return {x.lo - kDosePad, x.hi + kDosePad};
}

Range linear_y_range(const PlotSeries& series, Range x) {
  Range y = kEmpty;
  auto take = [&](double v) {
    if (!std::isfinite(v)) return;
    y.lo = std::min(y.lo, v);
    y.hi = std::max(y.hi, v);
  };
  const bool bands = series.preps.size() <= kMaxDetailedPreparations;
  for (const PreparationSeries& prep : series.preps) {
    if (prep.line.size() >= 2) {
      take(prep.intercept + series.slope * x.lo);
      take(prep.intercept + series.slope * x.hi);
    }
    for (const PlotPoint& p : prep.linear_observed)
      if (inside(x, p.x)) take(p.y);
    if (!bands) continue;
    for (const std::vector<PlotPoint>* band : {&prep.fine_lower_band, &prep.fine_upper_band})
      for (const PlotPoint& p : *band)
        if (inside(x, p.x)) take(p.y);
  }
  y = {std::max(y.lo, series.y_lo), std::min(y.hi, series.y_hi)};
  if (is_empty(y) || y.hi - y.lo <= 0.0) y = {series.y_lo, series.y_hi};
  const double pad = (y.hi - y.lo) * kRangePad;
  return {y.lo - pad, y.hi + pad};
}

std::vector<double> ed50_bar_heights(const PlotSeries& series) {
  const std::size_t P = series.preps.size();
  std::vector<double> heights;
  for (std::size_t j = 0; j < P; ++j) {
    const double middle = (static_cast<double>(P) - 1.0) / 2.0;
    heights.push_back(series.preps[j].ed50_response +
                      (middle - static_cast<double>(j)) * kBarStagger);
  }
  return heights;
}

double ed50_stroke_half_height(const PlotSeries& series) {
  return series.preps.size() > 1 ? kStaggeredStroke : kSingleStroke;
}

std::vector<double> dose_ticks(Range r) {
  static const std::vector<std::vector<double>> kMantissas = {
      {1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, 3, 4, 5, 7}, {1, 2, 3, 5}, {1, 2, 5}, {1, 3}, {1}};
  const double width = r.hi - r.lo;
  const int first = static_cast<int>(std::floor(r.lo));
  const int last = static_cast<int>(std::ceil(r.hi));
  auto acceptable = [&](const std::vector<double>& ticks) {
    if (ticks.size() < 2 || ticks.size() > kMaxDoseTicks) return false;
    for (std::size_t i = 1; i < ticks.size(); ++i)
      if (ticks[i] - ticks[i - 1] < kMinDoseTickGap * width) return false;
    return true;
  };
  for (const std::vector<double>& mantissas : kMantissas) {
    std::vector<double> ticks;
    for (int k = first; k <= last; ++k)
      for (double m : mantissas) {
        const double x = k + std::log10(m);
        if (x >= r.lo && x <= r.hi) ticks.push_back(x);
      }
    if (acceptable(ticks)) return ticks;
  }
  // Wide ranges: every second, fifth, tenth ... power of ten.
  for (int every = 2; every <= 1000; every *= (every % 2 == 0 ? 5 : 2)) {
    std::vector<double> ticks;
    for (int k = first; k <= last; ++k)
      if (k % every == 0) ticks.push_back(k);
    if (acceptable(ticks)) return ticks;
  }
  return {};
}

std::string dose_label(double x) {
  const double dose = std::pow(10.0, x);
  const int decade = static_cast<int>(std::floor(x + 1e-9));
  if (dose < kSmallestPlainDose || dose >= kLargestPlainDose) {
    const double mantissa = dose / std::pow(10.0, decade);
    if (std::fabs(mantissa - 1.0) < 1e-6) return strprintf("10#u%d#d", decade);
    return strprintf("%.3g", dose);
  }
  return strprintf("%.*f", decade < 0 ? -decade : 0, dose);
}

}  // namespace varnalo
