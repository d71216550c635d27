// Geometry of the pictures: the x range held to the doses, the y range of
// the linearised picture, the staggered ED50 bars, round dose ticks and
// their labels, and where the legend goes.
#include "export/plot_pictures_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace varnalo {
namespace {

// A preparation with observed points at the given log doses and, when
// ed50 is a number, a fit with that ED50 and limits.
PreparationSeries prep(const std::vector<double>& doses, double ed50 = NAN, double lower = NAN,
                       double upper = NAN) {
  PreparationSeries p;
  for (double x : doses) p.observed.push_back({x, 0.5});
  p.intercept = 1.0;
  p.ed50 = ed50;
  p.ed50_lower = lower;
  p.ed50_upper = upper;
  p.ed50_response = 0.5;
  return p;
}

PlotSeries series_of(std::vector<PreparationSeries> preps) {
  PlotSeries s;
  s.slope = 2.0;
  s.preps = std::move(preps);
  return s;
}

TEST(PictureLayout, TheXRangeHoldsToTheDosesAndTheEd50Marks) {
  const double rotenone_lo = std::log10(2.6), rotenone_hi = std::log10(10.2);
  struct Case {
    const char* what;
    PlotSeries series;
    double lo, hi;
  };
  std::vector<PreparationSeries> many(11, prep({0.2, 0.8}, 3.0, 2.9, 3.1));
  PreparationSeries controls_only = prep({-99.0});
  controls_only.curve = {{-0.4, 0.0}, {1.6, 1.0}};
  const Case cases[] = {
      // Doses 2.6 to 10.2: 2.07 to 12.8, a tenth of a decade each side.
      {"rotenone", series_of({prep({rotenone_lo, 0.58, 0.71, 0.89, rotenone_hi}, 0.685, 0.64, 0.73)}),
       rotenone_lo - 0.1, rotenone_hi + 0.1},
      {"limits beyond the doses", series_of({prep({0.0, 1.0}, 0.9, 0.7, 1.3)}), -0.1, 1.4},
      {"limits held to half a decade", series_of({prep({0.0, 1.0}, 1.2, -3.0, 9.0)}), -0.6, 1.6},
      {"an ED50 mark without limits", series_of({prep({0.0, 1.0}, -0.3)}), -0.4, 1.1},
      {"no marks with more than ten", series_of(many), 0.1, 0.9},
      {"a single dose", series_of({prep({0.5, 0.5})}), 0.0, 1.0},
      {"zero and infinite doses are no place", series_of({prep({-99.0, 0.3, 0.6, 99.0})}), 0.2, 0.7},
      {"only controls: the curve", series_of({controls_only}), -0.5, 1.7},
      {"nothing at all", series_of({}), -1.0, 1.0},
  };
  for (const Case& c : cases) {
    const Range x = picture_x_range(c.series);
    EXPECT_NEAR(c.lo, x.lo, 1e-12) << c.what;
    EXPECT_NEAR(c.hi, x.hi, 1e-12) << c.what;
  }
}

TEST(PictureLayout, TheLinearisedYRangeCoversWhatIsDrawnInTheXRange) {
  PreparationSeries p = prep({0.0, 1.0});
  p.intercept = -1.0;
  p.line = {{-2.0, -5.0}, {2.0, 3.0}};
  p.linear_observed = {{0.0, -1.5}, {1.0, 1.2}};
  p.fine_lower_band = {{-0.05, -1.2}, {3.0, 2.5}};  // the second is outside
  PlotSeries s = series_of({p});
  s.y_lo = -5.0;
  s.y_hi = 5.0;
  // Line -1.2 to 1.2 over -0.1 to 1.1, the point -1.5: -1.5 to 1.2, 3% room.
  Range y = linear_y_range(s, {-0.1, 1.1});
  EXPECT_NEAR(-1.5 - 0.081, y.lo, 1e-12);
  EXPECT_NEAR(1.2 + 0.081, y.hi, 1e-12);
  // Never beyond the plot range of the linear predictor.
  s.preps[0].linear_observed.push_back({0.5, -9.0});
  y = linear_y_range(s, {-0.1, 1.1});
  EXPECT_NEAR(-5.0 - 0.186, y.lo, 1e-12);
}

TEST(PictureLayout, SeveralEd50BarsAreSetOneAboveAnotherInLegendOrder) {
  EXPECT_EQ(std::vector<double>{0.5}, ed50_bar_heights(series_of({prep({0.0})})));
  const std::vector<double> two = ed50_bar_heights(series_of({prep({0.0}), prep({0.0})}));
  ASSERT_EQ(2u, two.size());
  EXPECT_NEAR(0.5175, two[0], 1e-12);
  EXPECT_NEAR(0.4825, two[1], 1e-12);
  PlotSeries ten = series_of(std::vector<PreparationSeries>(10, prep({0.0})));
  for (PreparationSeries& p : ten.preps) p.ed50_response = 0.6;  // C = 0.2
  const std::vector<double> heights = ed50_bar_heights(ten);
  ASSERT_EQ(10u, heights.size());
  EXPECT_NEAR(0.6 + 4.5 * 0.035, heights.front(), 1e-12);
  EXPECT_NEAR(0.6 - 4.5 * 0.035, heights.back(), 1e-12);
  // Neighbours apart by more than the marks' full height.
  for (std::size_t j = 1; j < heights.size(); ++j)
    EXPECT_GT(heights[j - 1] - heights[j], 2.0 * ed50_stroke_half_height(ten)) << j;
  EXPECT_EQ(0.025, ed50_stroke_half_height(series_of({prep({0.0})})));
}

TEST(PictureLayout, DoseTicksAreRoundDosesThatFitTheAxis) {
  auto logs = [](std::vector<double> doses) {
    for (double& d : doses) d = std::log10(d);
    return doses;
  };
  struct Case {
    Range range;
    std::vector<double> ticks;
  };
  const Case cases[] = {
      {{std::log10(2.07), std::log10(12.9)}, logs({3, 4, 5, 7, 10})},
      {{std::log10(0.8), std::log10(40.0)}, logs({1, 2, 3, 5, 10, 20, 30})},
      {{std::log10(0.3), std::log10(75.0)}, logs({0.5, 1, 2, 5, 10, 20, 50})},
      {{-0.2, 3.3}, logs({1, 3, 10, 30, 100, 300, 1000})},
      {{-0.2, 5.3}, logs({1, 10, 100, 1000, 1e4, 1e5})},
      {{-6.5, 6.5}, {-6, -4, -2, 0, 2, 4, 6}},
      {{std::log10(4.1), std::log10(4.9)}, {}},
  };
  for (const Case& c : cases) {
    const std::vector<double> ticks = dose_ticks(c.range);
    ASSERT_EQ(c.ticks.size(), ticks.size()) << c.range.lo << " " << c.range.hi;
    for (std::size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(c.ticks[i], ticks[i], 1e-12);
  }
  const std::pair<double, const char*> labels[] = {
      {std::log10(3.0), "3"},   {std::log10(0.05), "0.05"}, {std::log10(20.0), "20"},
      {5.0, "10#u5#d"},         {-5.0, "10#u-5#d"},         {std::log10(2e5), "2e+05"},
      {std::log10(3e-5), "3e-05"}};
  for (const auto& [x, label] : labels) EXPECT_EQ(label, dose_label(x)) << x;
}

TEST(PictureLayout, TheLegendStandsBesideThePlotUnlessTooLongOrTooMany) {
  struct Case {
    std::size_t preps;
    std::string name;
    bool below;
    int columns, rows, height;
  };
  const Case cases[] = {
      {1, "ROTENONE", false, 1, 1, 700},
      {16, "P16", false, 1, 16, 700},
      {17, "P17", true, 7, 3, 803},
      {2, "A_VERY_LONG_PREPARATION_NAME", true, 2, 1, 751},
      {99, "PREPARATION_99", true, 4, 25, 1372},
  };
  for (const Case& c : cases) {
    PlotSeries s;
    for (std::size_t j = 0; j < c.preps; ++j) {
      s.preps.emplace_back();
      s.preps.back().name = c.name;
    }
    const Layout layout = plan_layout(s, 2);
    EXPECT_EQ(c.below, layout.legend_below) << c.preps << " " << c.name;
    EXPECT_EQ(c.columns, layout.legend_columns) << c.preps << " " << c.name;
    EXPECT_EQ(c.rows, layout.legend_rows) << c.preps << " " << c.name;
    EXPECT_EQ(c.height, layout.height) << c.preps << " " << c.name;
    EXPECT_LT(layout.left, layout.right);
    EXPECT_LT(layout.bottom, layout.top);
  }
}

}  // namespace
}  // namespace varnalo
