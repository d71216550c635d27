// The words of the pictures: titles, the notes printed below the plot, and
// the text helpers they share.
//
// The notes say what a reader cannot see in the plot itself: what the bars
// and bands are, the ED50 values, C and D, and everything left out (zero-dose
// groups, points off the scale, preparations without a fitted curve). Each
// note is one line; notes that do not apply are left out, so the list may be
// empty.
// Inputs: the plotted series. Outputs: strings as they are to be read (the
// drawing escapes them for PLplot with plain_text).
#pragma once

#include <string>
#include <vector>

#include "export/plot_series.h"

namespace varnalo {

// A preparation has a curve and a line to draw when its intercept and the
// slope are numbers and the slope is not 0.
bool has_fit(const PlotSeries& series, const PreparationSeries& prep);

// Notes of the dose-response picture and of the linearised picture, in
// drawing order.
std::vector<std::string> sigmoid_notes(const PlotSeries& series);
std::vector<std::string> linear_notes(const PlotSeries& series);

// The title over both pictures: the distribution and the model in words
// (e.g. "Probit model with natural response rate C").
std::string picture_title(const PlotSeries& series);

// The model's formula in small print under the title (e.g. "P = C + (1 - C)
// F(a + b log10 dose), where F is the standard normal distribution
// function"); empty for a model number without one.
std::string picture_formula(const PlotSeries& series);

// The label of the dose axis: the dose on a log scale, or the log10 dose
// (the linearised picture, or data that hold log doses); with the dose unit
// when one was given.
std::string dose_axis_label(const PlotSeries& series, bool linear);

// v with the given number of significant digits, trailing zeros kept ("21.00"
// for 21 with four), in plain decimals from 1e-4 to below 1e6, otherwise in
// exponent form; "-" when v is not a number.
std::string significant_text(double v, int digits);

// The y-axis label of the linearised picture.
const char* linear_scale_name(int distribution);

// The text with PLplot's escape character '#' doubled, so that it is drawn
// as it is.
std::string plain_text(const std::string& text);

}  // namespace varnalo
