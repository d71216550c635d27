// Pictures of an analysis, drawn with PLplot from the plotted series
// (plot_series.h): the dose-response picture SIGMOIDnnn and the linearised
// picture LINEARnnn, each as PNG (cairo) and SVG, in the working folder.
//
// The dose-response picture shows the dose on a logarithmic axis (ticks
// labelled as doses, or as log doses when the data hold log doses), the
// proportion responding from 0 to 1, every preparation's observed
// proportions as markers and its fitted curve as a line (one colour and
// marker per preparation, named in the legend), the ED50 of each
// preparation with its 95 per cent Fieller limits as a horizontal bar (on
// the curve; several preparations' bars one above another), a title naming
// the model in words with its formula in small print, and notes with the
// ED50 values, C and D, zero-dose groups (no place on a log axis) and what
// cannot be drawn. The dose axis holds to the doses; the dose unit, when
// given, is on it. The linearised picture shows the log10 dose against the
// probit, logit or complementary log-log scale: background-corrected
// observed points, the fitted lines and the 95 per cent confidence band of
// each preparation, shaded in its colour. Up to 99 preparations: the legend
// moves below the plot in columns and the page grows. The parts: geometry in
// plot_pictures_layout.h, words in plot_pictures_notes.h, the PLplot drawing
// in plot_pictures_draw.h, the SVG text in plot_pictures_svg.h; here the
// file names and the writing.
//
// PLplot draws in a child process of its own, which hands the pictures back
// through a pipe: when PLplot gives up for good it ends the process it runs
// in, and so ends only that one; the run learns why and ends in its own way.
//
// Without PLplot's cairo driver the SVG pictures are still written, and the
// screen says which package gives the PNG pictures.
//
// nnn is the smallest number from 001 for which none of the four files
// exists, so no earlier picture is ever overwritten. A picture that cannot
// be drawn or written gives one line on the error stream naming the file and
// ends the run with status 1; pictures written before it stay.
// Inputs: the series and the working folder. Outputs: the four files; the
// names written, in writing order.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "export/plot_series.h"

namespace varnalo {

// Largest picture number (three digits).
inline constexpr int kMaxPictureNumber = 999;

// The four file names of picture number n, in writing order:
// SIGMOIDnnn.PNG, SIGMOIDnnn.SVG, LINEARnnn.PNG, LINEARnnn.SVG.
std::vector<std::string> picture_names(int n);

// Smallest n in 1..kMaxPictureNumber for which none of the four names exists
// in dir (a dangling link counts as existing); 0 when every number is taken.
int free_picture_number(const std::filesystem::path& dir);

struct WrittenPictures {
  std::vector<std::string> names;  // in writing order
  bool png_missing = false;        // PLplot lacks its PNG (cairo) device
};

// Draws and writes the four pictures; the SVG pictures alone when PLplot
// has no PNG device.
WrittenPictures write_plot_pictures(const std::filesystem::path& dir, const PlotSeries& series);

// What the screen shows of the pictures written: the line naming them and,
// when the PNG pictures could not be drawn, a line naming the package that
// draws them.
std::string pictures_screen_text(const WrittenPictures& written);

}  // namespace varnalo
