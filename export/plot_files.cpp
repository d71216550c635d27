// Plot data files: sigmoid curves and linearised responses with the Fieller
// band.
// Method: curves sampled on an even grid of the linear predictor over
// centre +- 5 standard deviations of the tolerance distribution (50 steps in
// SIGMOID.TXT, 10 in LINEAR.TXT); observed proportions linearised by the
// inverse tolerance distribution after removing the natural rates (Abbott's
// correction); band limits by Fieller's theorem at the 95 per cent deviate.
// Source: Finney, "Probit Analysis" (3rd ed., 1971), chapters 3-4.
// Accuracy: six decimals ("%lf") of the values held by the program.
#include "export/plot_files.h"

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

#include "foundation/arrays.h"
#include "foundation/output.h"
#include "inference/covariance.h"
#include "model/distributions.h"
#include "model/model_family.h"
#include "potency/effective_dose.h"
#include "potency/fieller.h"

namespace varnalo {

namespace {

constexpr int kLevels = 3;
constexpr int kLevel95 = 2;
constexpr double kConfAlpha[kLevels + 1] = {0.0, 0.10, 0.05, 0.01};
// Floor mode of the reporting stages for the distribution function.
constexpr int kReportFloorMode = 2;
// Grid steps as fractions of the plotted range of the linear predictor.
constexpr double kSigmoidStepFraction = 0.02;
constexpr double kLinearStepFraction = 0.1;
// Euler's constant: mean of the standard extreme-value (cloglog) tolerance.
constexpr double kEulerGamma = 0.577215664901533;
// Half range: five standard deviations of the tolerance distribution.
constexpr double kStandardDeviations = 5.0;

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

// Number of whole steps in a span; 0 when the quotient is not a finite
// non-negative number (a slope of 0 gives infinite or undefined spans).
int whole_steps(double span, double step) {
  const double q = span / step;
  if (!std::isfinite(q) || q < 0.0) return 0;
  return static_cast<int>(q);
}

std::string tabs(int count) { return std::string(static_cast<std::size_t>(count), '\t'); }

// A data point is written only when both of its coordinates are finite
// numbers: a slope of 0 (or estimates that are not finite) leaves the grids
// without finite points, and a chart must not receive "inf" or "nan".
bool plottable(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

// One data line: x, the tabs up to the preparation's column (lead, then the
// preparation's filler), y and the line end(s).
void write_point(std::FILE* f, double x, const char* lead, const std::string& filler, double y,
                 const char* end) {
  std::fprintf(f, "%lf%s%s%lf%s", x, lead, filler.c_str(), y, end);
}

// A header value: "%-6.3lf" when finite, else "-".
std::string header_value(double v) { return std::isfinite(v) ? strprintf("%-6.3lf", v) : "-"; }

void write_header(AnalysisState& s, std::FILE* f, const std::string& filler, double C, double D) {
  const int P = s.nprep;
  const double b = s.params[P + 1];
  std::fprintf(f, "%sUSE LEFT COLUMNS FOR THE GRAPHIC DISPLAY\n\n", filler.c_str());
  std::fprintf(f, "%sDistribution\tModel\tAlgorithm\tMethod\n", filler.c_str());
  std::fprintf(f, "%s%d\t%d\t%s\t%d\n\n", filler.c_str(), s.distribution, s.model,
               s.edition->algorithm_name, s.variance_method);
  std::fprintf(f, "%s", filler.c_str());
  for (int i = 1; i <= P; ++i) std::fprintf(f, "Prep.%d\t", i);
  std::fprintf(f, "\n%s", filler.c_str());
  for (int i = 1; i <= P; ++i) std::fprintf(f, "%s\t", s.prep_names[i].c_str());
  std::fprintf(f, "\n%s", filler.c_str());
  for (int i = 1; i <= P; ++i) {
    if (std::isfinite(s.params[i]) && std::isfinite(b))
      std::fprintf(f, "Y=%-6.3lf +%6.3lfX\t", s.params[i], b);
    else
      std::fprintf(f, "-\t");  // no line to describe
  }
  std::fprintf(f, "\n%sC\tD\t\n", filler.c_str());
  std::fprintf(f, "%s%s\t%s\t\n", filler.c_str(), header_value(C).c_str(),
               header_value(D).c_str());
}

}  // namespace

void write_sigmoid_file(AnalysisState& s) {
  std::FILE* f = s.sigmoid_file;
  if (f == nullptr) return;
  const int P = s.nprep;
  const double b = s.params[P + 1];
  const PlotRange range = plot_range(s.distribution);
  double a_max = -1e50, a_min = 1e50;
  for (int j = 1; j <= P; ++j) {
    if (s.params[j] > a_max) a_max = s.params[j];
    if (s.params[j] < a_min) a_min = s.params[j];
  }
  const double x_lo = (range.lo - a_max) / b;
  const double x_hi = (range.hi - a_min) / b;
  const double step = (range.half + range.half) / b * kSigmoidStepFraction;
  double C = 0.0, D = 0.0;
  fitted_c_d(s, &C, &D);

  write_header(s, f, tabs(2 * P + 1), C, D);

  for (int j = 1; j <= P; ++j) {
    const double a = s.params[j];
    const std::string filler = tabs(2 * (j - 1));
    const double x0 = (range.lo - a) / b;
    const int count = whole_steps((range.hi - a) / b - x0, step) + 1;

    for (int g = 1; g <= s.ngroups[j]; ++g) {
      DRef group = s.groups[j][g];
      if (!(group[1] > kZeroDoseLog)) continue;
      const double y = group[3] / group[2];
      if (plottable(group[1], y)) write_point(f, group[1], "\t", filler, y, "\n\n");
    }

    double p = 0.0, q = 0.0;
    response_probability(s.model, 0.0, &p, &q, C, D);
    if (plottable(x_lo, p)) write_point(f, x_lo, "\t\t", filler, p, "\n");
    for (int i = 1; i <= count; ++i) {
      const double x = x0 + i * step;
      double p0 = 0.0, density = 0.0;
      tolerance_cdf(s.distribution, kReportFloorMode, a + b * x, &p0, &density);
      response_probability(s.model, p0, &p, &q, C, D);
      if (plottable(x, p)) write_point(f, x, "\t\t", filler, p, "\n");
    }
    response_probability(s.model, 1.0, &p, &q, C, D);
    // The blank line closing the curve stays also when its last point is
    // left out.
    if (plottable(x_hi, p))
      write_point(f, x_hi, "\t\t", filler, p, "\n\n");
    else
      std::fprintf(f, "\n");
  }
}

void write_linear_file(AnalysisState& s) {
  std::FILE* f = s.linear_file;
  if (f == nullptr) return;
  const int P = s.nprep;
  const double b = s.params[P + 1];
  const PlotRange range = plot_range(s.distribution);
  const double step = (range.half + range.half) / b * kLinearStepFraction;

  DVector alpha = dvector(1, kLevels);
  DVector deviates = dvector(1, kLevels);
  for (int k = 1; k <= kLevels; ++k) alpha[k] = kConfAlpha[k];
  compute_deviates(s, alpha, deviates);
  const double t = deviates[kLevel95];

  double C = 0.0, D = 0.0;
  fitted_c_d(s, &C, &D);

  write_header(s, f, tabs(4 * P + 1), C, D);

  for (int j = 1; j <= P; ++j) {
    const double a = s.params[j];
    const std::string filler = tabs(4 * (j - 1));
    const double x0 = (range.lo - a) / b;
    const double span = (range.hi - a) / b - x0;
    // Every band but the last gets one point beyond the range.
    const int count = whole_steps(span, step) + (j < P ? 1 : 0);

    for (int g = 1; g <= s.ngroups[j]; ++g) {
      DRef group = s.groups[j][g];
      if (!(group[1] > kZeroDoseLog)) continue;
      double p0 = 0.0;
      background_free_proportion(s.model, group[3] / group[2], &p0, C, D);
      // Left unwritten for a proportion that is not a number: skipped below.
      double y = kInfiniteDoseLog;
      tolerance_inverse(s.distribution, p0, &y);
      if (range.lo <= y && y <= range.hi && plottable(group[1], y))
        write_point(f, group[1], "\t", filler, y, "\n\n");
    }

    for (int e = 0; e <= 1; ++e) {
      const double x = x0 + e * span;
      const double y = a + b * x;
      if (plottable(x, y)) write_point(f, x, "\t\t", filler, y, "\n");
    }
    std::fprintf(f, "\n");

    // The band: for each grid response Y the limits of the log dose at which
    // the line reaches Y.
    for (int side = 0; side <= 1; ++side) {
      for (int e = 0; e <= count; ++e) {
        const double y = (x0 + e * step) * b + a;
        const double m = (y - a) / b;
        double var = 0.0, upper = 0.0, lower = 0.0;
        log_dose_limits(s, j, m, t, &var, &upper, &lower);
        if (side == 0 && lower > kMissingLower && plottable(lower, y))
          write_point(f, lower, "\t\t\t", filler, y, "\n");
        if (side == 1 && upper < kMissingUpper && plottable(upper, y))
          write_point(f, upper, "\t\t\t\t", filler, y, "\n");
      }
      std::fprintf(f, "\n");
    }
  }

  dvector_free(alpha, 1, kLevels);
  dvector_free(deviates, 1, kLevels);
}

}  // namespace varnalo
