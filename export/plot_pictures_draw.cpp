// Pictures drawn through PLplot's plstream: the cairo PNG device and the svg
// device draw the same calls. Each picture is drawn into memory (PLplot
// writes its output to an in-memory stream), so PLplot never opens files
// itself and never falls back to asking for a file name on the terminal.
// Method: PLplot 5.15's C++ interface; the viewport, notes and legend placed
// by plot_pictures_layout.h, the words from plot_pictures_notes.h.
// Accuracy: coordinates are drawn as the series holds them.
#include "export/plot_pictures_draw.h"

#include <plstream.h>
#include <stdio.h>  // open_memstream

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "export/plot_pictures_layout.h"
#include "export/plot_pictures_notes.h"
#include "export/plot_pictures_svg.h"
#include "foundation/output.h"

namespace varnalo {

namespace {

constexpr PLFLT kLegendLineLength = 0.05;  // of the plot width
constexpr PLFLT kMarkerScale = 0.95;
constexpr PLFLT kNoteScale = 0.85;
constexpr PLFLT kTitleScale = 1.15;
// Rough width of one character of the title (mixed case), in character
// heights.
constexpr double kTitleCharWidth = 0.7;
constexpr PLFLT kCurveWidth = 2.0;
constexpr PLFLT kThinWidth = 1.0;
// Tick mark length as a fraction of the plot height.
constexpr double kTickLength = 0.012;
// Text across the page leaves this fraction of its width (the estimate of
// its width is rough).
constexpr double kWidestText = 0.9;
// The formula under the title, relative to the other text.
constexpr PLFLT kFormulaScale = 0.8;
// Distances of the title and the formula above the plot, in their own
// character heights.
constexpr PLFLT kTitleAbove = 2.1;
constexpr PLFLT kFormulaAbove = 0.9;

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

// Status with which PLplot ends the process should a fatal-end function
// return after all.
constexpr int kFatalStatus = 1;

// The drawing that PLplot's handlers report to.
PictureDrawing* active_drawing = nullptr;

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  while (!text.empty() && text.front() == '\n') text.erase(text.begin());
  return text;
}

// PLplot gave up one operation: the picture would be incomplete.
void on_plplot_abort(const char* message) {
  if (active_drawing != nullptr) active_drawing->record_abort(trimmed(message));
}

// PLplot gives up for good. PLplot 5.15's plexit calls this, then ends the
// stream and the process with the value returned as its status: there is no
// going on, so the drawing's fatal end takes over here.
int on_plplot_exit(const char* message) {
  if (active_drawing != nullptr) active_drawing->end_fatally(trimmed(message));
  return kFatalStatus;
}

// Registers a drawing with PLplot's handlers while it draws.
class ActiveDrawing {
 public:
  explicit ActiveDrawing(PictureDrawing* drawing) {
    active_drawing = drawing;
    ::plsabort(on_plplot_abort);
    ::plsexit(on_plplot_exit);
  }
  ~ActiveDrawing() { active_drawing = nullptr; }
  ActiveDrawing(const ActiveDrawing&) = delete;
  ActiveDrawing& operator=(const ActiveDrawing&) = delete;
};

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

// The part of a curve (x increasing) that the x range shows, with the point
// either side of it, so that it still reaches the edges.
Xy within(const Xy& curve, Range x) {
  Xy out;
  const std::size_t n = curve.x.size();
  for (std::size_t i = 0; i < n; ++i) {
    const bool next_inside = i + 1 < n && curve.x[i + 1] >= x.lo;
    const bool previous_inside = i > 0 && curve.x[i - 1] <= x.hi;
    if ((curve.x[i] >= x.lo || next_inside) && (curve.x[i] <= x.hi || previous_inside)) {
      out.x.push_back(curve.x[i]);
      out.y.push_back(curve.y[i]);
    }
  }
  return out;
}

void draw_line(plstream& pls, const Xy& xy) {
  if (xy.x.size() >= 2) pls.line(static_cast<PLINT>(xy.x.size()), xy.x.data(), xy.y.data());
}

void draw_markers(plstream& pls, const Xy& xy, const char* marker) {
  if (!xy.x.empty()) pls.string(static_cast<PLINT>(xy.x.size()), xy.x.data(), xy.y.data(), marker);
}

// PLplot's labels for a log-dose axis too narrow for round doses.
void dose_label_function(PLINT, PLFLT value, char* label, PLINT length, PLPointer) {
  std::snprintf(label, static_cast<std::size_t>(length), "%.3g", std::pow(10.0, value));
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
  pls.lab(plain_text(dose_axis_label(series, false)).c_str(), "Proportion responding", "");
}

void linear_axes(plstream& pls, const PlotSeries& series) {
  pls.col0(kGridGrey);
  pls.width(kThinWidth);
  pls.box("g", 0.0, 0, "g", 0.0, 0);
  pls.col0(kBlack);
  pls.box("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
  pls.lab(plain_text(dose_axis_label(series, true)).c_str(), linear_scale_name(series.distribution),
          "");
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
  const Range x = picture_x_range(series);
  pls.wind(x.lo, x.hi, kProportionMin, kProportionMax);
  sigmoid_axes(pls, series, x);
  for (std::size_t j = 0; j < series.preps.size(); ++j) {
    // The curve's ends are its levels far from the ED50: drawn on to the
    // edges of a wider axis.
    Xy curve = within(coordinates(series.preps[j].fine_curve, true), x);
    if (curve.x.size() >= 2) {
      if (curve.x.front() > x.lo) {
        curve.x.insert(curve.x.begin(), x.lo);
        curve.y.insert(curve.y.begin(), curve.y.front());
      }
      if (curve.x.back() < x.hi) {
        curve.x.push_back(x.hi);
        curve.y.push_back(curve.y.back());
      }
    }
    draw_preparation(pls, j, curve, coordinates(series.preps[j].observed, true));
  }
  // ED50 marks over the markers.
  if (series.preps.size() > kMaxDetailedPreparations) return;
  const std::vector<double> heights = ed50_bar_heights(series);
  const double stroke = ed50_stroke_half_height(series);
  for (std::size_t j = 0; j < series.preps.size(); ++j) {
    const PreparationSeries& prep = series.preps[j];
    if (!has_fit(series, prep) || !std::isfinite(prep.ed50)) continue;
    pls.col0(colour_of(j));
    const double y = heights[j];
    pls.join(prep.ed50, y - stroke, prep.ed50, y + stroke);
    if (std::isfinite(prep.ed50_lower)) {
      PLFLT lo = prep.ed50_lower, hi = prep.ed50_upper, at = y;
      pls.errx(1, &lo, &hi, &at);
    }
  }
}

void draw_linear(plstream& pls, const PlotSeries& series) {
  const Range x = picture_x_range(series);
  const Range y = linear_y_range(series, x);
  pls.wind(x.lo, x.hi, y.lo, y.hi);
  linear_axes(pls, series);
  for (std::size_t j = 0; j < series.preps.size(); ++j) {
    const PreparationSeries& prep = series.preps[j];
    const Xy lower = coordinates(prep.fine_lower_band, false);
    const Xy upper = coordinates(prep.fine_upper_band, false);
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

// Text of the given scale and length, centred over the plot, or over the
// page when it is wider than the plot, and made smaller when it is wider
// than the page.
void draw_centred(plstream& pls, const Layout& layout, const std::string& text, PLFLT scale,
                  PLFLT above) {
  const double plot_px = (layout.right - layout.left) * kPageWidth;
  const double page_px = kPageWidth * kWidestText;
  double text_px = static_cast<double>(text.size()) * kTitleCharWidth * scale * kCharPx;
  if (text_px > page_px) {
    scale *= page_px / text_px;
    text_px = page_px;
  }
  if (text_px > plot_px)
    pls.vpor(0.0, 1.0, layout.bottom, layout.top);
  else
    pls.vpor(layout.left, layout.right, layout.bottom, layout.top);
  pls.schr(0.0, scale);
  pls.mtex("t", above, 0.5, 0.5, plain_text(text).c_str());
  pls.schr(0.0, 1.0);
}

// The title and the model's formula in small print under it.
void draw_heading(plstream& pls, const PlotSeries& series, const Layout& layout) {
  draw_centred(pls, layout, picture_title(series), kTitleScale, kTitleAbove);
  const std::string formula = picture_formula(series);
  if (!formula.empty()) draw_centred(pls, layout, formula, kFormulaScale, kFormulaAbove);
}

void draw_picture(plstream& pls, const PlotSeries& series, bool linear,
                  const std::vector<std::string>& notes, const Layout& layout) {
  pls.adv(0);
  pls.vpor(layout.left, layout.right, layout.bottom, layout.top);
  if (linear)
    draw_linear(pls, series);
  else
    draw_sigmoid(pls, series);
  pls.col0(kBlack);
  pls.width(kThinWidth);
  draw_notes(pls, notes);
  draw_legend(pls, series, layout);
  draw_heading(pls, series, layout);
}

}  // namespace

const char* device_name(PictureFormat format) {
  return format == PictureFormat::kPng ? "pngcairo" : "svg";
}

bool device_available(PictureFormat format) {
  const char* driver = device_name(format);
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

PictureDrawing::PictureDrawing(FatalEnd fatal_end) : fatal_end_(std::move(fatal_end)) {}

void PictureDrawing::record_abort(const std::string& message) {
  if (abort_message_.empty()) abort_message_ = message;
}

void PictureDrawing::end_fatally(const std::string& message) {
  if (fatal_end_) fatal_end_(message);
  std::_Exit(kFatalStatus);
}

DrawnPicture PictureDrawing::draw(const PlotSeries& series, PictureKind kind,
                                  PictureFormat format) {
  DrawnPicture out;
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* memory = ::open_memstream(&buffer, &size);
  if (memory == nullptr) {
    out.failure = std::strerror(errno);
    return out;
  }
  abort_message_.clear();
  error_code_ = 0;
  error_text_[0] = '\0';
  const bool linear = kind == PictureKind::kLinear;
  const std::vector<std::string> notes = linear ? linear_notes(series) : sigmoid_notes(series);
  const Layout layout = plan_layout(series, notes.size());
  {
    const ActiveDrawing active(this);
    plstream pls;
    // PLplot's messages go to the handlers and this buffer, not the terminal.
    pls.sError(&error_code_, error_text_);
    pls.sdev(device_name(format));
    pls.sfile(memory);  // the device writes here and closes it at the end
    pls.spage(0.0, 0.0, kPageWidth, layout.height, 0, 0);
    set_colours(pls);
    pls.init();
    pls.schr(kCharMm, 1.0);
    draw_picture(pls, series, linear, notes, layout);
  }  // the stream ends here and the device writes the file out
  std::string bytes(buffer != nullptr ? buffer : "", size);
  std::free(buffer);
  if (!abort_message_.empty())
    out.failure = "PLplot: " + abort_message_;
  else if (bytes.empty())
    out.failure = "PLplot drew nothing";
  else
    out.bytes = format == PictureFormat::kSvg ? readable_svg(bytes) : std::move(bytes);
  return out;
}

}  // namespace varnalo
