// Plot data files: the plotted series as tab-separated columns, six decimals
// ("%lf") of the values the series holds.
#include "export/plot_files.h"

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/output.h"

namespace varnalo {

namespace {

std::string tabs(std::size_t count) { return std::string(count, '\t'); }

// One data line: x, the tabs up to the preparation's column (lead, then the
// preparation's filler), y and the line end(s).
void write_point(std::FILE* f, const PlotPoint& point, const char* lead, const std::string& filler,
                 const char* end) {
  std::fprintf(f, "%lf%s%s%lf%s", point.x, lead, filler.c_str(), point.y, end);
}

// A header value: "%-6.3lf" when finite, else "-".
std::string header_value(double v) { return std::isfinite(v) ? strprintf("%-6.3lf", v) : "-"; }

void write_header(std::FILE* f, const PlotSeries& series, const std::string& filler) {
  const double b = series.slope;
  std::fprintf(f, "%sUSE LEFT COLUMNS FOR THE GRAPHIC DISPLAY\n\n", filler.c_str());
  std::fprintf(f, "%sDistribution\tModel\tAlgorithm\tMethod\n", filler.c_str());
  std::fprintf(f, "%s%d\t%d\t%s\t%d\n\n", filler.c_str(), series.distribution, series.model,
               series.algorithm.c_str(), series.variance_method);
  std::fprintf(f, "%s", filler.c_str());
  for (std::size_t i = 1; i <= series.preps.size(); ++i) std::fprintf(f, "Prep.%zu\t", i);
  std::fprintf(f, "\n%s", filler.c_str());
  for (const PreparationSeries& prep : series.preps) std::fprintf(f, "%s\t", prep.name.c_str());
  std::fprintf(f, "\n%s", filler.c_str());
  for (const PreparationSeries& prep : series.preps) {
    if (std::isfinite(prep.intercept) && std::isfinite(b))
      std::fprintf(f, "Y=%-6.3lf +%6.3lfX\t", prep.intercept, b);
    else
      std::fprintf(f, "-\t");  // no line to describe
  }
  std::fprintf(f, "\n%sC\tD\t\n", filler.c_str());
  std::fprintf(f, "%s%s\t%s\t\n", filler.c_str(), header_value(series.C).c_str(),
               header_value(series.D).c_str());
}

// One series of a preparation in its file: the points, each in the column
// that lead reaches and ended by end, then (closed) a blank line.
struct SeriesColumn {
  std::vector<PlotPoint> PreparationSeries::*points;
  const char* lead;
  const char* end;
  bool closed;
};

// The header and every preparation's series, columns_per_preparation
// columns apart.
void write_block(std::FILE* f, const PlotSeries& series, std::size_t columns_per_preparation,
                 std::initializer_list<SeriesColumn> columns) {
  const std::size_t P = series.preps.size();
  write_header(f, series, tabs(columns_per_preparation * P + 1));
  for (std::size_t j = 0; j < P; ++j) {
    const PreparationSeries& prep = series.preps[j];
    const std::string filler = tabs(columns_per_preparation * j);
    for (const SeriesColumn& column : columns) {
      for (const PlotPoint& p : prep.*column.points)
        write_point(f, p, column.lead, filler, column.end);
      if (column.closed) std::fprintf(f, "\n");
    }
  }
}

}  // namespace

void write_sigmoid_file(std::FILE* f, const PlotSeries& series) {
  write_block(f, series, 2,
              {{&PreparationSeries::observed, "\t", "\n\n", false},
               {&PreparationSeries::curve, "\t\t", "\n", true}});
}

void write_linear_file(std::FILE* f, const PlotSeries& series) {
  write_block(f, series, 4,
              {{&PreparationSeries::linear_observed, "\t", "\n\n", false},
               {&PreparationSeries::line, "\t\t", "\n", true},
               {&PreparationSeries::lower_band, "\t\t\t", "\n", true},
               {&PreparationSeries::upper_band, "\t\t\t\t", "\n", true}});
}

}  // namespace varnalo
