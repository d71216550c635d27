// Plotted series: the ED50 marks and the band against the reference fits,
// the text files as the series written out, and the groups a log axis
// cannot hold.
#include "export/plot_series.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "export/plot_files.h"
#include "support/hand_fit.h"
#include "support/reference_data.h"

namespace varnalo {
namespace {

using testing::Group;
using testing::quadratic_limits;
using testing::read_stream;
using testing::ReferenceValues;
using testing::StageFixture;

// Limits computed in another order, against values given to 15 digits.
constexpr double kLimitTolerance = 1e-9;
// Six printed decimals.
constexpr double kPrinted = 6e-7;
// The five-decimal 95 per cent normal deviate of the limits.
constexpr double kNormal95 = 1.95996;

// ED50 and its 95 per cent limits under both variance methods, and the band
// at the bottom of the range, for reference fits of one and two
// preparations, with and without C.
TEST(PlotSeries, Ed50MarksAndBandAgreeWithTheReferenceFits) {
  if (!testing::reference_available()) GTEST_SKIP() << "reference values not generated";
  struct Case {
    const char* name;
    int nprep, distribution, model;
  };
  const Case cases[] = {{"rotenone.d1.m1.common", 1, 1, 1},
                        {"budworm.d2.m1.common", 2, 2, 1},
                        {"rotenone_c.d1.m2.common", 1, 1, 2}};
  const ReferenceValues& ref = ReferenceValues::get();
  for (const Case& c : cases) {
    for (int method = 1; method <= 2; ++method) {
      StageFixture fx;
      ASSERT_TRUE(testing::load_reference_fit(fx, c.name, c.nprep, c.distribution, c.model, 1.0));
      AnalysisState& s = fx.state();
      s.variance_method = method;
      const PlotSeries series = compute_plot_series(s);
      // Method 2 takes the form centred on the weighted mean log dose.
      const std::string kind = method == 1 ? "obs" : "fnm";
      const std::string label = std::string(c.name) + " method " + std::to_string(method);
      const int P = c.nprep;
      for (int j = 1; j <= P; ++j) {
        const PreparationSeries& prep = series.preps[static_cast<std::size_t>(j - 1)];
        const std::string n = "_" + std::to_string(j);
        EXPECT_NEAR(ref.at(c.name, "ed50_log" + n), prep.ed50, kLimitTolerance) << label;
        EXPECT_NEAR(ref.at(c.name, "ed50_lo95_" + kind + "_z" + n), prep.ed50_lower,
                    kLimitTolerance) << label;
        EXPECT_NEAR(ref.at(c.name, "ed50_hi95_" + kind + "_z" + n), prep.ed50_upper,
                    kLimitTolerance) << label;
        // The ED50 mark sits on the curve: the response at P0 = 1/2.
        const double C = ref.at(c.name, "C");
        EXPECT_NEAR(C + (1.0 - C) * 0.5, prep.ed50_response, 1e-12) << label;
        if (method != 1) continue;
        // The band's first response is the bottom of the range; its limits
        // are the roots of Fieller's quadratic for (Y - a) / b.
        const double a = s.params[j], b = s.params[P + 1];
        const auto [lo, hi] = quadratic_limits(series.y_lo - a, b, s.fit_cov[j][j],
                                               s.fit_cov[P + 1][P + 1], -s.fit_cov[j][P + 1],
                                               kNormal95);
        ASSERT_FALSE(prep.lower_band.empty()) << label;
        EXPECT_EQ(series.y_lo, prep.lower_band.front().y) << label;
        EXPECT_NEAR(lo, prep.lower_band.front().x, kLimitTolerance) << label;
        EXPECT_NEAR(hi, prep.upper_band.front().x, kLimitTolerance) << label;
      }
    }
  }
}

// Column -> the (x, y) pairs of the data lines that fill it, in file order.
std::map<int, std::vector<PlotPoint>> columns(const std::string& text) {
  std::map<int, std::vector<PlotPoint>> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '\t') continue;
    const std::size_t last = line.find_last_of('\t');
    const int column = 1 + static_cast<int>(std::count(line.begin(), line.end(), '\t'));
    out[column].push_back({std::strtod(line.c_str(), nullptr),
                           std::strtod(line.c_str() + last + 1, nullptr)});
  }
  return out;
}

void expect_written(const std::vector<PlotPoint>& series, const std::vector<PlotPoint>& file,
                    const std::string& what) {
  ASSERT_EQ(series.size(), file.size()) << what;
  for (std::size_t i = 0; i < series.size(); ++i) {
    EXPECT_NEAR(series[i].x, file[i].x, kPrinted) << what << " point " << i;
    EXPECT_NEAR(series[i].y, file[i].y, kPrinted) << what << " point " << i;
  }
}

// What the pictures draw is what the text files hold, column by column.
TEST(PlotSeries, TextFilesHoldTheSeries) {
  // Two preparations with a control group and a group at an infinite dose.
  StageFixture fx;
  const std::vector<Group> groups = {{-99.0, 20, 1}, {0.0, 20, 3}, {0.5, 20, 9},
                                     {1.0, 20, 15}, {1.5, 20, 20}, {99.0, 20, 20}};
  fx.set_groups({groups, groups});
  fx.begin_fit(1, 1, 1);
  AnalysisState& s = fx.state();
  const double a[] = {0.0, -1.0, -1.6};
  for (int j = 1; j <= 2; ++j) {
    s.params[j] = a[j];
    s.fit_cov[j][j] = 0.04;
    s.fit_cov[j][3] = s.fit_cov[3][j] = -0.01;
  }
  s.params[3] = 2.0;
  s.fit_cov[3][3] = 0.05;
  s.het_factor = 1.0;
  const PlotSeries series = compute_plot_series(s);
  std::FILE* sigmoid = std::tmpfile();
  std::FILE* linear = std::tmpfile();
  ASSERT_TRUE(sigmoid != nullptr && linear != nullptr);
  write_sigmoid_file(sigmoid, series);
  write_linear_file(linear, series);
  const auto sigmoid_columns = columns(read_stream(sigmoid));
  const auto linear_columns = columns(read_stream(linear));
  std::fclose(sigmoid);
  std::fclose(linear);
  for (int j = 1; j <= 2; ++j) {
    const PreparationSeries& prep = series.preps[static_cast<std::size_t>(j - 1)];
    const std::string p = "preparation " + std::to_string(j);
    auto column = [](const std::map<int, std::vector<PlotPoint>>& m, int c) {
      const auto it = m.find(c);
      return it == m.end() ? std::vector<PlotPoint>{} : it->second;
    };
    expect_written(prep.observed, column(sigmoid_columns, 2 * j), p + " observed");
    expect_written(prep.curve, column(sigmoid_columns, 2 * j + 1), p + " curve");
    expect_written(prep.linear_observed, column(linear_columns, 4 * j - 2), p + " linearised");
    expect_written(prep.line, column(linear_columns, 4 * j - 1), p + " line");
    expect_written(prep.lower_band, column(linear_columns, 4 * j), p + " lower band");
    expect_written(prep.upper_band, column(linear_columns, 4 * j + 1), p + " upper band");
    // The control group is kept aside; the infinite dose is counted.
    EXPECT_EQ(std::vector<double>{0.05}, prep.zero_dose_proportions) << p;
    EXPECT_EQ(1, prep.infinite_dose_groups) << p;
    EXPECT_EQ(5u, prep.observed.size()) << p;
  }
}

}  // namespace
}  // namespace varnalo
