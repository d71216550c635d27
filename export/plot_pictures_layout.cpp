// Page layout, x ranges and dose ticks of the pictures.
// Method: text and legend sizes estimated from character counts (no font
// metrics are at hand before PLplot draws); ticks chosen from ever coarser
// sets of round mantissas until they fit the axis.
// Accuracy: sizes are estimates to within about a character; positions are
// exact log10 values of the round doses.
#include "export/plot_pictures_layout.h"

#include <algorithm>
#include <cmath>

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
constexpr double kTopMargin = 3.2;
constexpr double kLeftMargin = 6.0;
constexpr double kRightMargin = 2.5;
// Half width of the x range when the data give a single value.
constexpr double kSingleValueHalfWidth = 0.5;
// A curve or line far wider than the doses (a slope near 0) is shown only
// this many data widths (at least one log unit each) beyond the doses, so the
// observed points do not shrink to a dot.
constexpr double kDataWidthsBeyond = 2.0;
constexpr double kSmallestDataWidth = 1.0;
// Dose ticks: at most this many, at least this far apart (fraction of the
// axis).
constexpr std::size_t kMaxDoseTicks = 8;
constexpr double kMinDoseTickGap = 0.07;
// Doses outside this range are labelled as powers of ten.
constexpr double kSmallestPlainDose = 1e-4;
constexpr double kLargestPlainDose = 1e5;

void widen(Range& r, const std::vector<PlotPoint>& points) {
  for (const PlotPoint& p : points) {
    if (!on_axis(p.x)) continue;
    r.lo = std::min(r.lo, p.x);
    r.hi = std::max(r.hi, p.x);
  }
}

// The drawn range of a curve or line: cut to a few data widths beyond the
// observed doses when it reaches much further.
Range near_data(Range drawn, Range data) {
  if (!(data.lo <= data.hi)) return drawn;
  const double reach = kDataWidthsBeyond * std::max(data.hi - data.lo, kSmallestDataWidth);
  return {std::max(drawn.lo, data.lo - reach), std::min(drawn.hi, data.hi + reach)};
}

// Range of the x values with a little room on both sides.
Range padded(Range r) {
  if (!(r.lo <= r.hi)) return {-1.0, 1.0};
  if (r.hi - r.lo <= 0.0) return {r.lo - kSingleValueHalfWidth, r.hi + kSingleValueHalfWidth};
  const double pad = (r.hi - r.lo) * kRangePad;
  return {r.lo - pad, r.hi + pad};
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

Range picture_x_range(const PlotSeries& series, bool linear) {
  Range x{1e300, -1e300}, data{1e300, -1e300};
  for (const PreparationSeries& prep : series.preps) {
    widen(x, linear ? prep.line : prep.curve);
    widen(data, prep.observed);
  }
  widen(x, {{data.lo, 0.0}, {data.hi, 0.0}});
  return padded(near_data(x, data));
}

std::vector<double> dose_ticks(Range r) {
  static const std::vector<std::vector<double>> kMantissas = {
      {1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, 5}, {1, 3}, {1}};
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
