// Plot data files: headers, grids, end values, skipped points and the
// Fieller band.
#include "export/plot_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "model/model_form.h"
#include "support/hand_fit.h"

namespace varnalo {
namespace {

using testing::Group;
using testing::quadratic_limits;
using testing::read_stream;
using testing::StageFixture;

// Six printed decimals of values computed in another order.
constexpr double kPrinted = 6e-7;
// Printed curve probabilities: six decimals plus the error of the polynomial
// normal distribution function.
constexpr double kCurvePrinted = 2e-6;

struct Line {
  double x;
  int column;  // 1-based column of the one value after x
  double value;
};

// Data lines (those with a value in column 1), in file order.
std::vector<Line> data_lines(const std::string& text) {
  std::vector<Line> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = text.substr(start, nl - start);
    start = nl + 1;
    if (line.empty() || line[0] == '\t') continue;
    const std::size_t tab = line.find('\t');
    std::size_t last = line.find_last_of('\t');
    out.push_back({std::strtod(line.c_str(), nullptr), static_cast<int>(last - tab) + 2,
                   std::strtod(line.c_str() + last + 1, nullptr)});
    EXPECT_EQ(line.find_first_not_of('\t', tab), last + 1) << line;
  }
  return out;
}

// Groups: a zero dose, an observed 0, a half and an observed 1.
const std::vector<Group> kGroups = {{-99.0, 10, 1}, {-1.0, 10, 0}, {0.0, 10, 5}, {1.0, 10, 10}};

struct PlotRun {
  StageFixture fx;
  std::FILE* sigmoid = std::tmpfile();
  std::FILE* linear = std::tmpfile();
  // nprep Normal preparations with intercepts a and slope b, model 1 unless
  // given; covariance diag(0.04, 0.05) with covariance -0.01.
  PlotRun(std::vector<double> a, double b, int model = 1, int distribution = 1) {
    fx.set_groups(std::vector<std::vector<Group>>(a.size(), kGroups));
    fx.begin_fit(distribution, model, 1);
    AnalysisState& s = fx.state();
    const int P = static_cast<int>(a.size());
    for (int j = 1; j <= P; ++j) {
      s.params[j] = a[j - 1];
      s.fit_cov[j][j] = 0.04;
      s.fit_cov[j][P + 1] = s.fit_cov[P + 1][j] = -0.01;
      s.prep_sum_w[j] = 30.0;
      s.prep_mean_x[j] = 0.1;
    }
    s.params[P + 1] = b;
    s.fit_cov[P + 1][P + 1] = 0.05;
    s.het_factor = 1.0;
    s.fixed_c = 0.5;
    s.sigmoid_file = sigmoid;
    s.linear_file = linear;
  }
  ~PlotRun() {
    std::fclose(sigmoid);
    std::fclose(linear);
  }
  std::string sigmoid_text() {
    write_sigmoid_file(sigmoid, compute_plot_series(fx.state()));
    return read_stream(sigmoid);
  }
  std::string linear_text() {
    write_linear_file(linear, compute_plot_series(fx.state()));
    return read_stream(linear);
  }
};

TEST(SigmoidFile, NormalUnitLineGridAndHeader) {
  PlotRun run({0.0}, 1.0);
  const std::string text = run.sigmoid_text();
  EXPECT_EQ(0u, text.find("\t\t\tUSE LEFT COLUMNS FOR THE GRAPHIC DISPLAY\n\n"
                          "\t\t\tDistribution\tModel\tAlgorithm\tMethod\n"
                          "\t\t\t1\t1\tDFP\t1\n\n"
                          "\t\t\tPrep.1\t\n"
                          "\t\t\tP1\t\n"
                          "\t\t\tY=0.000  + 1.000X\t\n"
                          "\t\t\tC\tD\t\n"
                          "\t\t\t0.000 \t0.000 \t\n"));
  const std::vector<Line> lines = data_lines(text);
  // Observed 0, 0.5 and 1 (the zero dose is left out), then 51 curve points.
  ASSERT_EQ(3u + 51u, lines.size());
  EXPECT_EQ(-1.0, lines[0].x);
  EXPECT_EQ(0.0, lines[0].value);
  EXPECT_EQ(1.0, lines[2].value);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(2, lines[i].column);
  // End points -5 and 5 with P = 0 (the floor) and 1; interior -4.8 .. 4.8:
  // the grid stops short of the closing end point.
  EXPECT_EQ(-5.0, lines[3].x);
  EXPECT_EQ(0.0, lines[3].value);
  for (int i = 1; i <= 49; ++i) {
    const Line& l = lines[3 + i];
    EXPECT_NEAR(-5.0 + 0.2 * i, l.x, kPrinted);
    EXPECT_EQ(3, l.column);
    // Normal distribution function: 0.5 erfc(-x / sqrt 2).
    EXPECT_NEAR(0.5 * std::erfc(-l.x / std::sqrt(2.0)), l.value, kCurvePrinted) << l.x;
  }
  EXPECT_EQ(5.0, lines.back().x);
  EXPECT_EQ(1.0, lines.back().value);
}

TEST(SigmoidFile, NegativeSlopeReversesTheGrid) {
  PlotRun run({0.0}, -1.0);
  const std::vector<Line> lines = data_lines(run.sigmoid_text());
  ASSERT_EQ(3u + 51u, lines.size());
  EXPECT_EQ(5.0, lines[3].x);
  EXPECT_NEAR(4.8, lines[4].x, kPrinted);
  EXPECT_NEAR(-4.8, lines[52].x, kPrinted);
  EXPECT_EQ(-5.0, lines[53].x);
}

TEST(SigmoidFile, CurveEndValuesOfEveryModel) {
  // C = 0.1 and D = 0.2 where estimated; known C = 0.5 in models 5 and 7.
  const double first[9] = {0, 0.0, 0.1, 0.0, 0.1, 0.5, 0.1, 0.5, 0.1};
  const double last[9] = {0, 1.0, 1.0, 0.8, 0.8, 1.0, 1.0, 0.9, 0.82};
  for (int model = 1; model <= 8; ++model) {
    PlotRun run({0.0}, 1.0, model);
    AnalysisState& s = run.fx.state();
    if (model == 3 || model == 7) {
      s.params[3] = 0.2;
    } else if (model_form(s).extra_count() >= 1) {
      s.params[3] = 0.1;
      if (model_form(s).extra_count() == 2) s.params[4] = 0.2;
    }
    const std::vector<Line> lines = data_lines(run.sigmoid_text());
    EXPECT_NEAR(first[model], lines[3].value, kPrinted) << "model " << model;
    EXPECT_NEAR(last[model], lines.back().value, kPrinted) << "model " << model;
  }
}

TEST(SigmoidFile, SecondPreparationUsesItsOwnColumns) {
  PlotRun run({0.0, 1.0}, 1.0);
  const std::string text = run.sigmoid_text();
  EXPECT_EQ(0u, text.find("\t\t\t\t\tUSE LEFT COLUMNS"));
  const std::vector<Line> lines = data_lines(text);
  // x_lo and x_hi span both lines: (-5 - 1) / 1 and (5 - 0) / 1. The first
  // curve stops before x_hi (49 grid points); the second keeps its step past
  // its own range, to 4.2 (51 grid points).
  ASSERT_EQ(54u + 56u, lines.size());
  EXPECT_EQ(4, lines[54].column);  // observed points of preparation 2
  EXPECT_EQ(5, lines[57].column);  // its curve
  EXPECT_EQ(-6.0, lines[57].x);
  EXPECT_NEAR(4.2, lines[108].x, kPrinted);
  EXPECT_EQ(5.0, lines.back().x);
}

TEST(LinearFile, NormalUnitLineBandAndSkippedPoints) {
  PlotRun run({0.0}, 1.0);
  const std::string text = run.linear_text();
  EXPECT_EQ(0u, text.find("\t\t\t\t\tUSE LEFT COLUMNS FOR THE GRAPHIC DISPLAY\n\n"));
  const std::vector<Line> lines = data_lines(text);
  // Observed: only 0.5 (the 0 and 1 linearise outside the range), on Y = 0.
  ASSERT_EQ(1u + 2u + 11u + 11u, lines.size());
  EXPECT_EQ(0.0, lines[0].x);
  EXPECT_EQ(2, lines[0].column);
  EXPECT_NEAR(0.0, lines[0].value, kPrinted);
  EXPECT_EQ(-5.0, lines[1].x);
  EXPECT_EQ(-5.0, lines[1].value);
  EXPECT_EQ(5.0, lines[2].x);
  EXPECT_EQ(3, lines[2].column);
  // Band: responses -5 .. 5; column 1 holds the limits of the log dose
  // (a = 0, b = 1: m = Y).
  for (int e = 0; e <= 10; ++e) {
    const double y = -5.0 + e;
    const auto [lo, hi] = quadratic_limits(y, 1.0, 0.04, 0.05, 0.01, 1.95996);
    const Line& lower = lines[3 + e];
    const Line& upper = lines[14 + e];
    EXPECT_EQ(4, lower.column);
    EXPECT_EQ(5, upper.column);
    EXPECT_NEAR(y, lower.value, kPrinted);
    EXPECT_NEAR(lo, lower.x, kPrinted);
    EXPECT_NEAR(hi, upper.x, kPrinted);
  }
}

// Grids whose step count sits on either side of a whole number after
// rounding: every curve runs one way and every band spans exactly its
// line's range, as printed.
TEST(PlotGrids, CurvesRunOneWayAndBandsSpanTheirLines) {
  struct Case {
    std::vector<double> a;
    double b;
    int distribution;
  };
  const Case cases[] = {{{0.0, 0.5}, 1.0, 1},          {{0.0, 1.0}, 1.0, 1},
                        {{-1.407, -2.060}, 2.101, 1},  {{-2.887}, 4.213, 1},
                        {{0.3, -0.7, 1.1}, -3.3, 2},   {{-60.7, -61.2}, 34.3, 3},
                        {{0.1, 0.2, 0.3, 0.4}, 0.7, 3}};
  for (const Case& c : cases) {
    PlotRun run(c.a, c.b, 1, c.distribution);
    const std::vector<Line> sigmoid = data_lines(run.sigmoid_text());
    const std::vector<Line> linear = data_lines(run.linear_text());
    const std::string label = "b " + std::to_string(c.b) + " dist " + std::to_string(c.distribution);
    for (std::size_t j = 0; j < c.a.size(); ++j) {
      const int curve = 2 * static_cast<int>(j) + 3;
      std::vector<double> xs;
      for (const Line& l : sigmoid)
        if (l.column == curve) xs.push_back(l.x);
      ASSERT_GE(xs.size(), 50u) << label;
      for (std::size_t i = 1; i < xs.size(); ++i)
        EXPECT_GT((xs[i] - xs[i - 1]) * c.b, 0.0) << label << " curve " << j << " at " << xs[i];

      const int line = 4 * static_cast<int>(j) + 3;
      std::vector<double> line_y, lower_y, upper_y;
      for (const Line& l : linear) {
        if (l.column == line) line_y.push_back(l.value);
        if (l.column == line + 1) lower_y.push_back(l.value);
        if (l.column == line + 2) upper_y.push_back(l.value);
      }
      ASSERT_EQ(2u, line_y.size()) << label;
      for (const std::vector<double>& band : {lower_y, upper_y}) {
        ASSERT_EQ(11u, band.size()) << label;
        EXPECT_EQ(line_y.front(), band.front()) << label << " band " << j;
        EXPECT_EQ(line_y.back(), band.back()) << label << " band " << j;
      }
    }
  }
}

TEST(LinearFile, NoBandWhenGReachesOne) {
  PlotRun run({0.0}, 1.0);
  run.fx.state().fit_cov[2][2] = 1.0;  // g = 1.96^2 > 1
  const std::string text = run.linear_text();
  const std::vector<Line> lines = data_lines(text);
  EXPECT_EQ(3u, lines.size());  // one observed point and the two line points
  // The blank lines closing the two empty bands are still there.
  EXPECT_NE(std::string::npos, text.find("\t5.000000\n\n\n\n"));
}

TEST(LinearFile, LogisticObservedPointsAreLogitsAfterRemovingC) {
  PlotRun run({0.0}, 1.0, 2, 2);
  run.fx.state().params[3] = 0.1;
  const std::vector<Line> lines = data_lines(run.linear_text());
  // r/n = 0 gives p' < 0 and r/n = 1 gives p' = 1: both left out; r/n = 0.5
  // gives p' = 0.4 / 0.9 on the logit scale.
  const double p = 0.4 / 0.9;
  EXPECT_EQ(0.0, lines[0].x);
  EXPECT_EQ(2, lines[0].column);
  EXPECT_NEAR(std::log(p / (1 - p)), lines[0].value, kPrinted);
  EXPECT_EQ(3, lines[1].column);
  // Logistic range: 5 pi / sqrt 3 either side of 0.
  EXPECT_NEAR(-5.0 * std::numbers::pi / std::sqrt(3.0), lines[1].x, kPrinted);
}

// A zero slope: the headers stay, the curves, lines and bands have no
// points (their closing blank lines stay), and only observed points with
// finite coordinates are written.
TEST(ZeroSlopePlots, SigmoidKeepsHeaderAndObservedPointsOnly) {
  PlotRun run({0.0}, 0.0);
  const std::string text = run.sigmoid_text();
  const std::string header =
      "\t\t\tUSE LEFT COLUMNS FOR THE GRAPHIC DISPLAY\n\n"
      "\t\t\tDistribution\tModel\tAlgorithm\tMethod\n"
      "\t\t\t1\t1\tDFP\t1\n\n"
      "\t\t\tPrep.1\t\n"
      "\t\t\tP1\t\n"
      "\t\t\tY=0.000  + 0.000X\t\n"
      "\t\t\tC\tD\t\n"
      "\t\t\t0.000 \t0.000 \t\n";
  EXPECT_EQ(header +
                "-1.000000\t0.000000\n\n"
                "0.000000\t0.500000\n\n"
                "1.000000\t1.000000\n\n"
                "\n",
            text);
}

TEST(ZeroSlopePlots, LinearKeepsHeaderObservedPointAndBlankLines) {
  PlotRun run({0.0}, 0.0);
  const std::string text = run.linear_text();
  const std::string header =
      "\t\t\t\t\tUSE LEFT COLUMNS FOR THE GRAPHIC DISPLAY\n\n"
      "\t\t\t\t\tDistribution\tModel\tAlgorithm\tMethod\n"
      "\t\t\t\t\t1\t1\tDFP\t1\n\n"
      "\t\t\t\t\tPrep.1\t\n"
      "\t\t\t\t\tP1\t\n"
      "\t\t\t\t\tY=0.000  + 0.000X\t\n"
      "\t\t\t\t\tC\tD\t\n"
      "\t\t\t\t\t0.000 \t0.000 \t\n";
  // r/n = 0.5 is the one observed point inside the range (probit 0); then
  // the blank lines closing the line and the two bands.
  EXPECT_EQ(header + "0.000000\t0.000000\n\n" + "\n\n\n", text);
}

TEST(ZeroSlopePlots, TwoPreparationsUnderBothMethodsWriteNoInfOrNan) {
  for (int method = 1; method <= 2; ++method) {
    PlotRun run({0.0, 0.5}, 0.0);
    run.fx.state().variance_method = method;
    const std::string text = run.sigmoid_text() + run.linear_text();
    EXPECT_EQ(std::string::npos, text.find("inf")) << method;
    EXPECT_EQ(std::string::npos, text.find("nan")) << method;
  }
}

TEST(ZeroSlopePlots, HeaderValuesThatAreNotNumbersShowAsDashes) {
  PlotRun run({std::nan("")}, 1.0, 2);
  run.fx.state().params[3] = std::nan("");  // C of model 2
  const std::string text = run.sigmoid_text();
  EXPECT_NE(std::string::npos, text.find("\t\t\t-\t\n\t\t\tC\tD\t\n\t\t\t-\t0.000 \t\n"));
  EXPECT_EQ(std::string::npos, text.find("nan"));
}

}  // namespace
}  // namespace varnalo
