// One picture drawn with PLplot into memory: the dose-response picture or
// the linearised picture of the plotted series, as PNG (PLplot's cairo
// driver) or SVG.
//
// A PictureDrawing is owned by its caller and holds what PLplot reports
// while it draws: the messages of its abort handler (an operation given up:
// the picture would be incomplete) become the drawing's failure. PLplot's
// exit handler, called when PLplot gives up for good, records the message
// and hands it to the caller's fatal-end function, which must end the
// process that draws (PLplot itself would end it right after the handler
// returns, whatever the handler returns); nothing is thrown through PLplot.
// PLplot's handlers are plain functions, so while a drawing draws it is the
// one registered with them; only one draws at a time.
// Inputs: the plotted series, the kind of picture, the format. Outputs: the
// file's bytes (SVG text made readable, plot_pictures_svg.h) or the reason
// there are none.
#pragma once

#include <functional>
#include <string>

#include "export/plot_series.h"

namespace varnalo {

enum class PictureKind { kSigmoid, kLinear };
enum class PictureFormat { kPng, kSvg };

// PLplot's name of the device that draws a format.
const char* device_name(PictureFormat format);

// Whether PLplot has the device of a format (its driver is installed).
bool device_available(PictureFormat format);

struct DrawnPicture {
  std::string bytes;    // the whole file when drawn
  std::string failure;  // why not; empty when drawn
};

class PictureDrawing {
 public:
  // Called with PLplot's message when PLplot gives up for good; must not
  // return.
  using FatalEnd = std::function<void(const std::string& message)>;

  explicit PictureDrawing(FatalEnd fatal_end);
  PictureDrawing(const PictureDrawing&) = delete;
  PictureDrawing& operator=(const PictureDrawing&) = delete;

  DrawnPicture draw(const PlotSeries& series, PictureKind kind, PictureFormat format);

  // For PLplot's handlers.
  void record_abort(const std::string& message);
  [[noreturn]] void end_fatally(const std::string& message);

 private:
  // Buffer for PLplot's error text (its messages are one short line).
  static constexpr std::size_t kErrorTextSize = 1024;
  FatalEnd fatal_end_;
  std::string abort_message_;
  int error_code_ = 0;
  char error_text_[kErrorTextSize] = {};
};

}  // namespace varnalo
