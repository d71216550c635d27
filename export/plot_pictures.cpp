// Pictures of the plotted series through PLplot's plstream: the cairo PNG
// device and the svg device draw the same calls. Each picture is drawn into
// memory (PLplot writes its output to an in-memory stream), then written to
// its file with every write checked, so PLplot never opens files itself and
// never falls back to asking for a file name on the terminal.
#include "export/plot_pictures.h"

#include <plstream.h>
#include <stdio.h>  // open_memstream

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "foundation/output.h"
#include "foundation/process.h"

namespace varnalo {

namespace {

namespace fs = std::filesystem;

// ---- page and text -------------------------------------------------------

// Page size in pixels (PNG) and points (SVG): wide enough for a legend
// beside the plot.
constexpr PLINT kPageWidth = 1000;
constexpr PLINT kPageHeight = 700;
// PLplot's cairo and svg devices map the page at 72 dots per inch.
constexpr double kPixelsPerMm = 72.0 / 25.4;
// Character height: 4.8 mm is about 14 pixels, readable at full size and
// when the picture is scaled into a report.
constexpr PLFLT kCharMm = 4.8;
constexpr double kCharPx = kCharMm * kPixelsPerMm;
// Rough width of one character of a name (capitals of a sans-serif font), in
// character heights; used to size the legend.
constexpr double kCharWidth = 0.8;
// Legend: rows per column beside the plot; beyond that the legend moves
// below the plot in columns and the page grows.
constexpr std::size_t kLegendBesideMax = 16;
// A legend wider than this (long names) also goes below the plot.
constexpr double kLegendBesideMaxPx = 300.0;
// Legend text below the plot, relative to the other text.
constexpr PLFLT kLegendBelowScale = 0.85;
constexpr PLFLT kLegendSpacing = 1.9;    // between entries, in character heights
constexpr PLFLT kLegendEdgeGap = 0.01;  // from the plot or page edge, fraction of the page
constexpr PLFLT kLegendLineLength = 0.05;  // of the plot width
constexpr double kLegendSampleChars = 8.0;  // offset, line sample and gap, in character heights
// Margins in character heights.
constexpr double kTopMargin = 3.2;
constexpr double kLeftMargin = 6.0;
constexpr double kRightMargin = 2.5;
constexpr double kAxisLabelsHeight = 4.8;  // tick labels and the axis label
constexpr double kNoteSpacing = 1.5;
constexpr PLFLT kMarkerScale = 0.95;
constexpr PLFLT kNoteScale = 0.85;
constexpr PLFLT kTitleScale = 1.15;
// Rough width of one character of the title (mixed case), in character
// heights.
constexpr double kTitleCharWidth = 0.7;
constexpr PLFLT kCurveWidth = 2.0;
constexpr PLFLT kThinWidth = 1.0;

// ---- colours, markers, line styles -----------------------------------------

struct Rgb {
  PLINT r, g, b;
};
// Ten colours that stay apart from each other, also for most colour-blind
// readers.
constexpr Rgb kPalette[] = {{31, 119, 180},  {255, 127, 14}, {44, 160, 44},   {214, 39, 40},
                            {148, 103, 189}, {140, 86, 75},  {227, 119, 194}, {127, 127, 127},
                            {188, 189, 34},  {23, 190, 207}};
constexpr std::size_t kColours = std::size(kPalette);
// Eight markers; with ten colours every preparation up to the 40th has its
// own pair.
constexpr const char* kMarkers[] = {"●", "■", "▲", "◆", "▼", "○", "□", "△"};
constexpr std::size_t kMarkerCount = std::size(kMarkers);
// PLplot line styles: continuous, then three dash patterns for the
// preparations beyond each run of ten colours.
constexpr PLINT kLineStyles[] = {1, 3, 2, 4};
constexpr std::size_t kLineStyleCount = std::size(kLineStyles);
constexpr PLINT kBandStyle = 2;
// Shading of a band: the preparation's colour, mostly transparent.
constexpr PLFLT kShadeAlpha = 0.15;

// cmap0 entries.
constexpr PLINT kWhite = 0;
constexpr PLINT kBlack = 1;
constexpr PLINT kGridGrey = 2;
constexpr PLINT kFirstColour = 3;
constexpr PLINT kFirstShade = kFirstColour + static_cast<PLINT>(kColours);
constexpr PLINT kColourEntries = kFirstShade + static_cast<PLINT>(kColours);

PLINT colour_of(std::size_t j) { return kFirstColour + static_cast<PLINT>(j % kColours); }
PLINT shade_of(std::size_t j) { return kFirstShade + static_cast<PLINT>(j % kColours); }
const char* marker_of(std::size_t j) { return kMarkers[j % kMarkerCount]; }
PLINT line_style_of(std::size_t j) { return kLineStyles[(j / kColours) % kLineStyleCount]; }

// ---- axes ----------------------------------------------------------------

// The dose-response picture's y range: 0 to 1 with room for markers on the
// edges.
constexpr PLFLT kProportionMin = -0.03;
constexpr PLFLT kProportionMax = 1.03;
constexpr PLFLT kProportionTick = 0.2;
// Room left and right of the data, as a fraction of their range.
constexpr double kRangePad = 0.03;
// Half width of the x range when the data give a single value.
constexpr double kSingleValueHalfWidth = 0.5;
// A curve or line far wider than the doses (a slope near 0) is shown only
// this many data widths (at least one log unit each) beyond the doses, so the
// observed points do not shrink to a dot.
constexpr double kDataWidthsBeyond = 2.0;
constexpr double kSmallestDataWidth = 1.0;
// ED50 marks and confidence bands are drawn for at most this many
// preparations; beyond that they would cover each other.
constexpr std::size_t kMaxDetailedPreparations = 10;
// Dose ticks: at most this many, at least this far apart (fraction of the
// axis).
constexpr std::size_t kMaxDoseTicks = 8;
constexpr double kMinDoseTickGap = 0.07;
// Tick mark length as a fraction of the plot height.
constexpr double kTickLength = 0.012;
// Doses outside this range are labelled as powers of ten.
constexpr double kSmallestPlainDose = 1e-4;
constexpr double kLargestPlainDose = 1e5;
// ED50 mark: a short upright stroke across the curve (proportion units).
constexpr double kEd50Stroke = 0.025;
// Notes naming preparations list at most this many of them.
constexpr std::size_t kNamesInNote = 3;
// Buffer for PLplot's error text (its messages are one short line).
constexpr std::size_t kErrorTextSize = 1024;

enum class Kind { kSigmoid, kLinear };

struct Device {
  const char* driver;
  bool svg;
};
constexpr Device kPng = {"pngcairo", false};
constexpr Device kSvg = {"svg", true};

// ---- failures --------------------------------------------------------------

// The picture being drawn, for PLplot's handlers (plain functions).
struct Drawing {
  std::string file;
  std::string abort_message;
  PLINT error_code = 0;
  char error_text[kErrorTextSize] = {};
};
Drawing* current_drawing = nullptr;

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  while (!text.empty() && text.front() == '\n') text.erase(text.begin());
  return text;
}

[[noreturn]] void fail(const std::string& file, const std::string& reason) {
  write_error("  CAN'T WRITE '" + file + "': " + reason + "\n");
  end_run(1);
}

// PLplot gave up one operation: the picture would be incomplete.
void on_plplot_abort(const char* message) {
  if (current_drawing != nullptr && current_drawing->abort_message.empty())
    current_drawing->abort_message = trimmed(message);
}

// PLplot is about to end the process: end the run our own way instead, so
// that the run driver closes the files and returns status 1.
int on_plplot_exit(const char* message) {
  const std::string file = current_drawing != nullptr ? current_drawing->file : "picture";
  current_drawing = nullptr;
  fail(file, "PLplot: " + trimmed(message));
}

bool device_available(const char* driver) {
  constexpr int kMaxDevices = 128;
  const char* menus[kMaxDevices] = {};
  const char* names[kMaxDevices] = {};
  const char** menu_list = menus;
  const char** name_list = names;
  int count = kMaxDevices;
  ::plgDevs(&menu_list, &name_list, &count);
  for (int i = 0; i < count; ++i)
    if (name_list[i] != nullptr && std::strcmp(name_list[i], driver) == 0) return true;
  return false;
}

// ---- text ----------------------------------------------------------------

// PLplot reads '#' as the start of an escape sequence.
std::string plain_text(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '#') out += '#';
  }
  return out;
}

std::string number_text(double v, const char* format) {
  return std::isfinite(v) ? strprintf(format, v) : "-";
}

std::string names_list(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size() && i < kNamesInNote; ++i)
    out += (i > 0 ? ", " : "") + names[i];
  if (names.size() > kNamesInNote) out += strprintf(" and %zu more", names.size() - kNamesInNote);
  return out;
}

const char* distribution_name(int distribution) {
  switch (distribution) {
    case 2: return "Logistic (logit)";
    case 3: return "Complementary log-log";
    default: return "Normal (probit)";
  }
}

const char* linear_scale_name(int distribution) {
  switch (distribution) {
    case 2: return "Logit";
    case 3: return "Complementary log-log";
    default: return "Probit (normal equivalent deviate)";
  }
}

const char* model_name(int model) {
  static const char* const kNames[] = {"",
                                       "All or Nothing (a, b)",
                                       "All or Nothing (a, b, C)",
                                       "All or Nothing (a, b, D)",
                                       "All or Nothing (a, b, C, D)",
                                       "Preference (a, b), C fixed",
                                       "Preference (a, b, C)",
                                       "Preference (a, b, D), C fixed",
                                       "Preference (a, b, C, D)"};
  return model >= 1 && model <= 8 ? kNames[model] : "";
}

// A log dose as the data give doses: the dose, or the log dose itself.
std::string dose_text(const PlotSeries& series, double log_dose) {
  return strprintf("%.4g", series.dose_scale == 1 ? std::pow(10.0, log_dose) : log_dose);
}

// C and D of the models that have them, in words.
std::string c_d_note(const PlotSeries& series) {
  const std::string C = number_text(series.C, "%.4f");
  const std::string D = number_text(series.D, "%.4f");
  switch (series.model) {
    case 2: return "Natural response C = " + C;
    case 3: return "Natural immunity D = " + D;
    case 4: return "Natural response C = " + C + ", natural immunity D = " + D;
    case 5: return "Natural preference C = " + C + " (fixed)";
    case 6: return "Natural preference C = " + C;
    case 7: return "Natural preference C = " + C + " (fixed), natural immunity D = " + D;
    case 8: return "Natural preference C = " + C + ", natural immunity D = " + D;
    default: return "";
  }
}

// A preparation has a curve and a line to draw when its intercept and the
// slope are numbers and the slope is not 0.
bool has_fit(const PlotSeries& series, const PreparationSeries& prep) {
  return std::isfinite(prep.intercept) && std::isfinite(series.slope) && series.slope != 0.0;
}

// Why no preparation has a curve or line.
std::string no_fit_reason(const PlotSeries& series) {
  return series.slope == 0.0 ? "zero slope" : "estimates not finite";
}

// The note for preparations without a curve (or line).
std::string missing_fit_note(const PlotSeries& series, bool linear) {
  std::vector<std::string> names;
  for (const PreparationSeries& prep : series.preps)
    if (!has_fit(series, prep)) names.push_back(prep.name);
  if (names.empty()) return "";
  const char* what = linear ? "No fitted line" : "No fitted curve";
  if (names.size() == series.preps.size())
    return std::string(what) + " (" + no_fit_reason(series) + "): observed points only";
  return std::string(what) + " for " + names_list(names);
}

std::string zero_dose_note(const PlotSeries& series, bool linear) {
  std::size_t count = 0;
  std::string listed;
  for (const PreparationSeries& prep : series.preps) {
    for (double p : prep.zero_dose_proportions)
      listed += (count++ > 0 ? ", " : "") + prep.name + " " + number_text(p, "%.3f");
  }
  if (count == 0) return "";
  if (linear)
    return strprintf("Not shown: %zu control group%s at dose 0", count, count > 1 ? "s" : "");
  if (count <= kNamesInNote) return "Dose 0 cannot stand on a log axis. Observed at dose 0: " + listed;
  return strprintf("Dose 0 cannot stand on a log axis: %zu control groups not shown", count);
}

std::string infinite_dose_note(const PlotSeries& series) {
  int count = 0;
  for (const PreparationSeries& prep : series.preps) count += prep.infinite_dose_groups;
  if (count == 0) return "";
  return strprintf("Not shown: %d group%s at an infinite dose", count, count > 1 ? "s" : "");
}

std::vector<std::string> sigmoid_notes(const PlotSeries& series) {
  std::vector<std::string> notes;
  bool bars = false, bare = false;
  for (const PreparationSeries& prep : series.preps) {
    if (!std::isfinite(prep.ed50) || !has_fit(series, prep)) continue;
    if (std::isfinite(prep.ed50_lower)) bars = true;
    else bare = true;
  }
  if (series.preps.size() > kMaxDetailedPreparations) {
    if (bars || bare)
      notes.push_back(strprintf("ED50 marks and their limits left out with more than %zu "
                                "preparations", kMaxDetailedPreparations));
  } else {
    if (bars) notes.push_back("Bars: ED50 with its 95% Fieller limits");
    if (bare) notes.push_back("ED50 without a bar: 95% limits not available (g >= 1)");
    if (series.preps.size() <= kNamesInNote) {
      for (const PreparationSeries& prep : series.preps) {
        if (!std::isfinite(prep.ed50) || !has_fit(series, prep)) continue;
        std::string line = "ED50 of " + prep.name + ": " + dose_text(series, prep.ed50);
        if (std::isfinite(prep.ed50_lower))
          line += " (" + dose_text(series, prep.ed50_lower) + " to " +
                  dose_text(series, prep.ed50_upper) + ")";
        notes.push_back(line);
      }
    }
  }
  notes.push_back(c_d_note(series));
  notes.push_back(missing_fit_note(series, false));
  notes.push_back(zero_dose_note(series, false));
  notes.push_back(infinite_dose_note(series));
  std::erase(notes, std::string());
  return notes;
}

std::vector<std::string> linear_notes(const PlotSeries& series) {
  std::vector<std::string> notes;
  bool bands = false, no_band = false;
  std::size_t hidden = 0;
  for (const PreparationSeries& prep : series.preps) {
    if (!prep.lower_band.empty() && !prep.upper_band.empty()) bands = true;
    else if (has_fit(series, prep)) no_band = true;
    const std::size_t shown_on_axis =
        prep.observed.size() - static_cast<std::size_t>(prep.infinite_dose_groups);
    if (shown_on_axis > prep.linear_observed.size()) hidden += shown_on_axis - prep.linear_observed.size();
  }
  if (series.preps.size() > kMaxDetailedPreparations) {
    if (bands)
      notes.push_back(strprintf("95%% confidence bands left out with more than %zu preparations",
                                kMaxDetailedPreparations));
  } else {
    if (bands) notes.push_back("Shaded: 95% confidence band of the log dose (Fieller limits)");
    if (no_band) notes.push_back("No confidence band: 95% Fieller limits not available (g >= 1)");
  }
  const std::string cd = c_d_note(series);
  if (!cd.empty()) notes.push_back("Observed points corrected for C and D. " + cd);
  if (hidden > 0)
    notes.push_back(strprintf("Not shown: %zu observed point%s off this scale (%s)", hidden,
                              hidden > 1 ? "s" : "",
                              cd.empty() ? "proportion 0 or 1"
                                         : "corrected proportion at or beyond 0 or 1"));
  notes.push_back(missing_fit_note(series, true));
  notes.push_back(zero_dose_note(series, true));
  notes.push_back(infinite_dose_note(series));
  std::erase(notes, std::string());
  return notes;
}

// ---- ranges and ticks ------------------------------------------------------

struct Range {
  double lo, hi;
};

// A log dose that can stand on the axis (not a zero or infinite dose).
bool on_axis(double x) { return x > kZeroDoseLog && x < kInfiniteDoseLog; }

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

// Log10 positions of round doses (1, 2, 5 ... times a power of ten) to
// label a log-dose axis; empty when the range is too narrow for two of
// them.
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

// A dose label for log10 position x: plain decimals, or a power of ten.
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

// PLplot's labels for a log-dose axis too narrow for round doses.
void dose_label_function(PLINT, PLFLT value, char* label, PLINT length, PLPointer) {
  std::snprintf(label, static_cast<std::size_t>(length), "%.3g", std::pow(10.0, value));
}

// ---- drawing ---------------------------------------------------------------

struct Layout {
  PLINT height = kPageHeight;
  bool legend_below = false;
  PLINT legend_columns = 1;
  PLINT legend_rows = 1;
  // Viewport in normalized page coordinates.
  PLFLT left = 0, right = 1, bottom = 0, top = 1;
};

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
    layout.legend_rows = static_cast<PLINT>(P);
  } else {
    layout.legend_below = true;
    const double usable = kPageWidth - 2.0 * kRightMargin * kCharPx;
    layout.legend_columns = std::clamp(static_cast<PLINT>(usable / (entry_px * kLegendBelowScale)),
                                       PLINT{1}, static_cast<PLINT>(P));
    layout.legend_rows = static_cast<PLINT>((P + layout.legend_columns - 1) / layout.legend_columns);
    const double legend_px = (layout.legend_rows + 1) * row_px;
    bottom_px += legend_px;
    layout.height = kPageHeight + static_cast<PLINT>(legend_px);
  }
  const double W = kPageWidth, H = layout.height;
  layout.left = kLeftMargin * kCharPx / W;
  layout.right = 1.0 - right_px / W;
  layout.bottom = bottom_px / H;
  layout.top = 1.0 - kTopMargin * kCharPx / H;
  return layout;
}

void set_colours(plstream& pls) {
  pls.scmap0n(kColourEntries);
  pls.scol0(kWhite, 255, 255, 255);
  pls.scol0(kBlack, 0, 0, 0);
  pls.scol0(kGridGrey, 225, 225, 225);
  for (std::size_t i = 0; i < kColours; ++i) {
    const Rgb c = kPalette[i];
    pls.scol0(kFirstColour + static_cast<PLINT>(i), c.r, c.g, c.b);
    pls.scol0a(kFirstShade + static_cast<PLINT>(i), c.r, c.g, c.b, kShadeAlpha);
  }
}

struct Xy {
  std::vector<PLFLT> x, y;
};

Xy coordinates(const std::vector<PlotPoint>& points, bool skip_off_axis) {
  Xy out;
  for (const PlotPoint& p : points) {
    if (skip_off_axis && !on_axis(p.x)) continue;
    out.x.push_back(p.x);
    out.y.push_back(p.y);
  }
  return out;
}

void draw_line(plstream& pls, const Xy& xy) {
  if (xy.x.size() >= 2) pls.line(static_cast<PLINT>(xy.x.size()), xy.x.data(), xy.y.data());
}

void draw_markers(plstream& pls, const Xy& xy, const char* marker) {
  if (!xy.x.empty()) pls.string(static_cast<PLINT>(xy.x.size()), xy.x.data(), xy.y.data(), marker);
}

// Frame, grid, ticks and labels of the dose-response picture's log-dose axis
// and proportion axis.
void sigmoid_axes(plstream& pls, const PlotSeries& series, Range x) {
  pls.col0(kGridGrey);
  pls.width(kThinWidth);
  for (double y = 0.0; y <= 1.0 + 1e-9; y += kProportionTick) pls.join(x.lo, y, x.hi, y);
  const std::vector<double> ticks = series.dose_scale == 1 ? dose_ticks(x) : std::vector<double>{};
  if (series.dose_scale == 1 && !ticks.empty()) {
    for (double t : ticks) pls.join(t, kProportionMin, t, kProportionMax);
    pls.col0(kBlack);
    pls.box("bc", 0.0, 0, "bcnstv", kProportionTick, 2);
    const double tick = kTickLength * (kProportionMax - kProportionMin);
    for (double t : ticks) {
      pls.join(t, kProportionMin, t, kProportionMin + tick);
      pls.join(t, kProportionMax, t, kProportionMax - tick);
      pls.mtex("b", 1.5, (t - x.lo) / (x.hi - x.lo), 0.5, dose_label(t).c_str());
    }
  } else {
    pls.box("g", 0.0, 0, "", 0.0, 0);
    pls.col0(kBlack);
    if (series.dose_scale == 1) {
      pls.slabelfunc(dose_label_function, nullptr);
      pls.box("bcnsto", 0.0, 0, "bcnstv", kProportionTick, 2);
      pls.slabelfunc(nullptr, nullptr);
    } else {
      pls.box("bcnst", 0.0, 0, "bcnstv", kProportionTick, 2);
    }
  }
  const char* x_label = series.dose_scale == 1 ? "Dose (log scale)" : "Log10(Dose)";
  pls.lab(x_label, "Proportion responding", "");
}

void linear_axes(plstream& pls, const PlotSeries& series) {
  pls.col0(kGridGrey);
  pls.width(kThinWidth);
  pls.box("g", 0.0, 0, "g", 0.0, 0);
  pls.col0(kBlack);
  pls.box("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
  pls.lab("Log10(Dose)", linear_scale_name(series.distribution), "");
}

// The x range of a picture: what it draws of every preparation (curves or
// lines), held near the doses of the observed points, with room each side.
Range picture_x_range(const PlotSeries& series,
                      std::vector<PlotPoint> PreparationSeries::*drawn) {
  Range x{1e300, -1e300}, data{1e300, -1e300};
  for (const PreparationSeries& prep : series.preps) {
    widen(x, prep.*drawn);
    widen(data, prep.observed);
  }
  widen(x, {{data.lo, 0.0}, {data.hi, 0.0}});
  return padded(near_data(x, data));
}

// Preparation j's fitted curve or line and its observed points, in its own
// colour, line style and marker.
void draw_preparation(plstream& pls, std::size_t j, const Xy& line, const Xy& points) {
  pls.col0(colour_of(j));
  pls.width(kCurveWidth);
  pls.lsty(line_style_of(j));
  draw_line(pls, line);
  pls.lsty(1);
  pls.schr(0.0, kMarkerScale);
  draw_markers(pls, points, marker_of(j));
  pls.schr(0.0, 1.0);
}

void draw_sigmoid(plstream& pls, const PlotSeries& series) {
  const Range x = picture_x_range(series, &PreparationSeries::curve);
  pls.wind(x.lo, x.hi, kProportionMin, kProportionMax);
  sigmoid_axes(pls, series, x);
  for (std::size_t j = 0; j < series.preps.size(); ++j)
    draw_preparation(pls, j, coordinates(series.preps[j].curve, true),
                     coordinates(series.preps[j].observed, true));
  // ED50 marks over the markers.
  if (series.preps.size() > kMaxDetailedPreparations) return;
  for (std::size_t j = 0; j < series.preps.size(); ++j) {
    const PreparationSeries& prep = series.preps[j];
    if (!has_fit(series, prep) || !std::isfinite(prep.ed50)) continue;
    pls.col0(colour_of(j));
    const double y = prep.ed50_response;
    pls.join(prep.ed50, y - kEd50Stroke, prep.ed50, y + kEd50Stroke);
    if (std::isfinite(prep.ed50_lower)) {
      PLFLT lo = prep.ed50_lower, hi = prep.ed50_upper, at = y;
      pls.errx(1, &lo, &hi, &at);
    }
  }
}

void draw_linear(plstream& pls, const PlotSeries& series) {
  const Range x = picture_x_range(series, &PreparationSeries::line);
  const double pad = (series.y_hi - series.y_lo) * kRangePad;
  pls.wind(x.lo, x.hi, series.y_lo - pad, series.y_hi + pad);
  linear_axes(pls, series);
  for (std::size_t j = 0; j < series.preps.size(); ++j) {
    const PreparationSeries& prep = series.preps[j];
    const Xy lower = coordinates(prep.lower_band, false);
    const Xy upper = coordinates(prep.upper_band, false);
    if (series.preps.size() > kMaxDetailedPreparations) break;
    if (lower.x.size() >= 2 && upper.x.size() >= 2) {
      Xy band = lower;
      band.x.insert(band.x.end(), upper.x.rbegin(), upper.x.rend());
      band.y.insert(band.y.end(), upper.y.rbegin(), upper.y.rend());
      pls.col0(shade_of(j));
      pls.fill(static_cast<PLINT>(band.x.size()), band.x.data(), band.y.data());
    }
    pls.col0(colour_of(j));
    pls.width(kThinWidth);
    pls.lsty(kBandStyle);
    draw_line(pls, lower);
    draw_line(pls, upper);
  }
  // Lines and points over every band.
  for (std::size_t j = 0; j < series.preps.size(); ++j)
    draw_preparation(pls, j, coordinates(series.preps[j].line, false),
                     coordinates(series.preps[j].linear_observed, true));
}

void draw_legend(plstream& pls, const PlotSeries& series, const Layout& layout) {
  const std::size_t P = series.preps.size();
  if (P == 0) return;
  std::vector<PLINT> options(P, PL_LEGEND_LINE | PL_LEGEND_SYMBOL);
  std::vector<PLINT> colours(P), styles(P), text_colours(P, kBlack), symbol_numbers(P, 1);
  std::vector<PLFLT> widths(P, kCurveWidth), symbol_scales(P, kMarkerScale);
  std::vector<std::string> names(P);
  std::vector<const char*> texts(P), symbols(P);
  for (std::size_t j = 0; j < P; ++j) {
    colours[j] = colour_of(j);
    styles[j] = line_style_of(j);
    names[j] = plain_text(series.preps[j].name);
    texts[j] = names[j].c_str();
    symbols[j] = marker_of(j);
  }
  // Offsets in page fractions: just right of the plot, level with its top;
  // or centred at the foot of the page.
  PLINT position = PL_POSITION_LEFT | PL_POSITION_TOP | PL_POSITION_INSIDE | PL_POSITION_SUBPAGE;
  PLFLT x = layout.right + kLegendEdgeGap, y = 1.0 - layout.top;
  if (layout.legend_below) {
    position = PL_POSITION_BOTTOM | PL_POSITION_INSIDE | PL_POSITION_SUBPAGE;
    x = 0.0;
    y = kLegendEdgeGap;
  }
  PLFLT width = 0.0, height = 0.0;
  const PLFLT text_scale = layout.legend_below ? kLegendBelowScale : 1.0;
  pls.legend(&width, &height, 0, position, x, y, kLegendLineLength, kWhite, kBlack, 1,
             layout.legend_rows, layout.legend_columns, static_cast<PLINT>(P), options.data(),
             1.0, text_scale, kLegendSpacing, 0.0, text_colours.data(), texts.data(), nullptr, nullptr,
             nullptr, nullptr, colours.data(), styles.data(), widths.data(), colours.data(),
             symbol_scales.data(), symbol_numbers.data(), symbols.data());
}

void draw_notes(plstream& pls, const std::vector<std::string>& notes) {
  pls.col0(kBlack);
  pls.schr(0.0, kNoteScale);
  for (std::size_t i = 0; i < notes.size(); ++i) {
    const double below = (kAxisLabelsHeight + kNoteSpacing * static_cast<double>(i)) / kNoteScale;
    pls.mtex("b", below, 0.0, 0.0, plain_text(notes[i]).c_str());
  }
  pls.schr(0.0, 1.0);
}

std::string title(const PlotSeries& series, Kind kind) {
  return strprintf("%s: %s, model %d: %s",
                   kind == Kind::kSigmoid ? "Dose-response" : "Linearised",
                   distribution_name(series.distribution), series.model,
                   model_name(series.model));
}

void draw_picture(plstream& pls, const PlotSeries& series, Kind kind,
                  const std::vector<std::string>& notes, const Layout& layout) {
  pls.adv(0);
  pls.vpor(layout.left, layout.right, layout.bottom, layout.top);
  if (kind == Kind::kSigmoid)
    draw_sigmoid(pls, series);
  else
    draw_linear(pls, series);
  pls.col0(kBlack);
  pls.width(kThinWidth);
  draw_notes(pls, notes);
  draw_legend(pls, series, layout);
  // The title is centred over the plot, or over the page when it is wider
  // than the plot.
  const std::string heading = title(series, kind);
  const double heading_px = static_cast<double>(heading.size()) * kTitleCharWidth * kTitleScale * kCharPx;
  if (heading_px > (layout.right - layout.left) * kPageWidth)
    pls.vpor(0.0, 1.0, layout.bottom, layout.top);
  pls.schr(0.0, kTitleScale);
  pls.mtex("t", 1.0, 0.5, 0.5, plain_text(heading).c_str());
  pls.schr(0.0, 1.0);
}

// The named reference of a character XML reserves; nullptr for others.
const char* xml_entity(unsigned long code) {
  switch (code) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&apos;";
    default: return nullptr;
  }
}

// Character references that PLplot's svg device writes for every character
// of a text become the characters themselves (UTF-8), so that the text can
// be read and searched in the file; the characters XML reserves get their
// named references.
std::string readable_svg(const std::string& svg) {
  std::string out;
  out.reserve(svg.size());
  std::size_t i = 0;
  while (i < svg.size()) {
    if (svg.compare(i, 3, "&#x") == 0) {
      const std::size_t end = svg.find(';', i);
      char* stop = nullptr;
      const unsigned long code = std::strtoul(svg.c_str() + i + 3, &stop, 16);
      if (end != std::string::npos && stop == svg.c_str() + end && code >= 0x20 &&
          code <= 0x10FFFF && code != 0x7F) {
        if (const char* name = xml_entity(code)) {
          out += name;
        } else if (code < 0x80) {
          out += static_cast<char>(code);
        } else if (code < 0x800) {
          out += static_cast<char>(0xC0 | (code >> 6));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
          out += static_cast<char>(0xE0 | (code >> 12));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
          out += static_cast<char>(0xF0 | (code >> 18));
          out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        }
        i = end + 1;
        continue;
      }
    }
    out += svg[i++];
  }
  return out;
}

// Draws one picture on a device into memory; returns the file's bytes.
std::string render(const PlotSeries& series, Kind kind, const Device& device,
                   const std::string& file) {
  if (!device_available(device.driver))
    fail(file, strprintf("PLplot has no '%s' device (is its driver package installed?)",
                         device.driver));
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* memory = ::open_memstream(&buffer, &size);
  if (memory == nullptr) fail(file, std::strerror(errno));

  Drawing drawing;
  drawing.file = file;
  current_drawing = &drawing;
  ::plsabort(on_plplot_abort);
  ::plsexit(on_plplot_exit);
  // The stream is not an automatic object: should PLplot end the run from
  // inside a call, it is left as it is rather than ended again on the way
  // out.
  plstream* pls = new plstream();
  // PLplot's messages go to the handlers and this buffer, not the terminal.
  pls->sError(&drawing.error_code, drawing.error_text);
  pls->sdev(device.driver);
  pls->sfile(memory);  // the device writes here and closes it at the end
  const std::vector<std::string> notes =
      kind == Kind::kSigmoid ? sigmoid_notes(series) : linear_notes(series);
  const Layout layout = plan_layout(series, notes.size());
  pls->spage(0.0, 0.0, kPageWidth, layout.height, 0, 0);
  set_colours(*pls);
  pls->init();
  pls->schr(kCharMm, 1.0);
  draw_picture(*pls, series, kind, notes, layout);
  delete pls;
  current_drawing = nullptr;

  std::string bytes(buffer != nullptr ? buffer : "", size);
  std::free(buffer);
  if (!drawing.abort_message.empty()) fail(file, "PLplot: " + drawing.abort_message);
  if (bytes.empty()) fail(file, "PLplot drew nothing");
  return device.svg ? readable_svg(bytes) : bytes;
}

// Creates the file (never replacing one) and writes the bytes; a failure
// removes the incomplete file and ends the run.
void write_new_file(const fs::path& path, const std::string& file, const std::string& bytes) {
  std::FILE* f = std::fopen(path.string().c_str(), "wbx");
  if (f == nullptr) fail(file, std::strerror(errno));
  int error = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) error = errno;
  if (std::fflush(f) != 0 && error == 0) error = errno;
  if (std::fclose(f) != 0 && error == 0) error = errno;
  if (error != 0) {
    std::error_code ignored;
    fs::remove(path, ignored);
    fail(file, std::strerror(error));
  }
}

}  // namespace

std::vector<std::string> picture_names(int n) {
  return {strprintf("SIGMOID%03d.PNG", n), strprintf("SIGMOID%03d.SVG", n),
          strprintf("LINEAR%03d.PNG", n), strprintf("LINEAR%03d.SVG", n)};
}

int free_picture_number(const fs::path& dir) {
  for (int n = 1; n <= kMaxPictureNumber; ++n) {
    bool free = true;
    for (const std::string& name : picture_names(n)) {
      std::error_code error;
      const fs::file_status status = fs::symlink_status(dir / name, error);
      if (status.type() != fs::file_type::not_found) free = false;
    }
    if (free) return n;
  }
  return 0;
}

std::vector<std::string> write_plot_pictures(const fs::path& dir, const PlotSeries& series) {
  const int n = free_picture_number(dir);
  if (n == 0)
    fail(picture_names(kMaxPictureNumber)[0],
         strprintf("every picture number up to %03d is taken", kMaxPictureNumber));
  const std::vector<std::string> names = picture_names(n);
  const Kind kinds[] = {Kind::kSigmoid, Kind::kSigmoid, Kind::kLinear, Kind::kLinear};
  const Device* devices[] = {&kPng, &kSvg, &kPng, &kSvg};
  for (std::size_t i = 0; i < names.size(); ++i)
    write_new_file(dir / names[i], names[i], render(series, kinds[i], *devices[i], names[i]));
  return names;
}

}  // namespace varnalo
