// Tests of the starting values and of the dialogue that edits them.
#include "model/initial_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::Group;
using testing::StageFixture;

// Regression sums over a handful of points: rounding only.
constexpr double kRounding = 1e-12;

double logit(double p) { return std::log(p / (1.0 - p)); }
double expit(double y) { return 1.0 / (1.0 + std::exp(-y)); }

// Fills a parameter vector of the current fit with starting values.
DVector start(StageFixture& fx, int dist, int model, int nslopes) {
  fx.begin_fit(dist, model, nslopes);
  AnalysisState& s = fx.state();
  DVector p = dvector(1, s.param_capacity());
  initial_values(s, p);
  return p;
}

TEST(InitialValues, InflatedLeastSquaresLineThroughTheCentroid) {
  // Logits -1, 0, 1 at x = 1, 2, 3: the line Y = x - 2. Slope 1.2 through
  // the centroid (2, 0) gives intercept -2.4.
  StageFixture fx;
  fx.set_groups({{{1, 1000, 1000 * expit(-1)}, {2, 1000, 500}, {3, 1000, 1000 * expit(1)}}});
  DVector p = start(fx, 2, 1, 1);
  EXPECT_NEAR(p[2], 1.2, kRounding);
  EXPECT_NEAR(p[1], -2.4, kRounding);
  EXPECT_EQ(p[3], 0.0);
  EXPECT_EQ(p[4], 0.0);
}

TEST(InitialValues, ControlGroupSitsThreeUnitsBelowTheLowestDose) {
  // Control (logit -2) counted at x = 1 - 3 = -2; logits 1 and 2 at x = 1, 2:
  // all on Y = x. Centroid (1/3, 1/3), slope 1.2: intercept 1/3 - 0.4.
  StageFixture fx;
  fx.set_groups({{{-99, 1000, 1000 * expit(-2)}, {1, 1000, 1000 * expit(1)}, {2, 1000, 1000 * expit(2)}}});
  DVector p = start(fx, 2, 1, 1);
  EXPECT_NEAR(p[2], 1.2, kRounding);
  EXPECT_NEAR(p[1], 1.0 / 3.0 - 1.2 / 3.0, kRounding);
}

TEST(InitialValues, SeparateAndPooledSlopes) {
  // Preparation 1: logits -1, 1 at x = 0, 1 (slope 2); preparation 2:
  // logits 0, 0.5, 1 at x = 0.5, 1, 1.5 (slope 1). xmin = 0.
  const std::vector<std::vector<Group>> data = {
      {{0, 100, 100 * expit(-1)}, {1, 100, 100 * expit(1)}},
      {{0.5, 100, 50}, {1, 100, 100 * expit(0.5)}, {1.5, 100, 100 * expit(1)}}};
  StageFixture fx;
  fx.set_groups(data);
  DVector sep = start(fx, 2, 1, 2);
  EXPECT_NEAR(sep[3], 2.4, kRounding);
  EXPECT_NEAR(sep[4], 1.2, kRounding);
  EXPECT_NEAR(sep[1], 0.0 - 2.4 * 0.5, kRounding);
  EXPECT_NEAR(sep[2], 0.5 - 1.2 * 1.0, kRounding);
  // Pooled: Sxy = 1 + 0.5, Sxx = 0.5 + 0.5; b = 1.2 * 1.5.
  DVector com = start(fx, 2, 1, 1);
  const double b = 1.2 * 1.5;
  EXPECT_NEAR(com[3], b, kRounding);
  EXPECT_NEAR(com[1], 0.0 - b * 0.5, kRounding);
  EXPECT_NEAR(com[2], 0.5 - b * 1.0, kRounding);
}

TEST(InitialValues, StartingCAndDFromTheExtremeProportions) {
  StageFixture fx;
  fx.set_groups({{{0.0, 20, 2}, {0.5, 20, 10}, {1.0, 20, 19}}});  // pmin 0.1, pmax 0.95
  fx.state().fixed_c = 0.2;
  struct Case {
    int model;
    double e1, e2;
  };
  const Case cases[] = {{1, 0, 0},          {2, 0.1, 0},         {3, 0.05, 0},
                        {4, 0.1, 0.05},      {5, 0, 0},           {6, 0.1, 0},
                        {7, 0.05 / 0.8, 0},  {8, 0.1, 0.05 / 0.9}};
  for (const Case& c : cases) {
    DVector p = start(fx, 1, c.model, 1);
    EXPECT_NEAR(p[3], c.e1, kRounding) << "model " << c.model;
    EXPECT_NEAR(p[4], c.e2, kRounding) << "model " << c.model;
  }
  // A highest proportion of 1 starts D at 0.
  StageFixture full;
  full.set_groups({{{0.0, 20, 2}, {1.0, 20, 20}}});
  DVector p = start(full, 1, 3, 1);
  EXPECT_EQ(p[3], 0.0);
}

TEST(InitialValues, ProportionBelowTheKnownCIsClamped) {
  // Model 5, C = 0.5: 0.2 frees to a negative proportion, clamped to 0.001;
  // 0.75 frees to 0.5 (logit 0). Two points: slope 1.2 * (0 - logit(0.001)).
  StageFixture fx;
  fx.set_groups({{{0.0, 100, 20}, {1.0, 100, 75}}});
  fx.state().fixed_c = 0.5;
  DVector p = start(fx, 2, 5, 1);
  const double y1 = logit(0.001);
  const double b = 1.2 * (0.0 - y1);
  EXPECT_NEAR(p[2], b, 1e-10);
  EXPECT_NEAR(p[1], y1 / 2 - b * 0.5, 1e-10);
}

TEST(InitialValues, DegenerateDataGiveFiniteStarts) {
  const std::vector<std::vector<std::vector<Group>>> datasets = {
      {{{0.5, 10, 0}, {1.0, 10, 0}, {1.5, 10, 0}}},                  // no responses
      {{{0.5, 10, 10}, {1.0, 10, 10}, {1.5, 10, 10}}},               // all respond
      {{{0.7, 10, 2}, {0.7, 10, 5}, {0.7, 10, 9}}},                  // one dose
      {{{0.7, 10, 4}}, {{1.1, 10, 6}}},                              // single groups
      {{{0.2, 10, 3}, {0.9, 10, 7}}},                                // two groups
      {{{-99, 10, 1}, {-99, 10, 2}}, {{-99, 10, 0}}},                // zero doses only
      {{{0.4, 10, 5}, {0.8, 10, 5}}, {{0.3, 10, 5}, {0.9, 10, 5}}},  // equal proportions
      {{{-99, 10, 10}, {99, 10, 10}}},                               // sentinels, all respond
  };
  for (std::size_t d = 0; d < datasets.size(); ++d) {
    StageFixture fx;
    fx.set_groups(datasets[d]);
    const int P = fx.state().nprep;
    for (int nslopes : {1, P}) {
      for (int dist = 1; dist <= 3; ++dist) {
        for (int model = 1; model <= 8; ++model) {
          DVector p = start(fx, dist, model, nslopes);
          for (int e = 1; e <= fx.state().param_capacity(); ++e)
            EXPECT_TRUE(std::isfinite(p[e]))
                << "data " << d << " dist " << dist << " model " << model << " nslopes " << nslopes
                << " entry " << e << " = " << p[e];
        }
      }
    }
  }
}

TEST(InitialValues, SlopeOfOneWhenTheDosesDoNotVary) {
  StageFixture fx;
  fx.set_groups({{{0.7, 10, 2}, {0.7, 10, 8}}, {{0.2, 10, 2}, {0.9, 10, 8}}});
  DVector p = start(fx, 2, 1, 2);
  EXPECT_EQ(p[3], 1.0);
  EXPECT_GT(p[4], 0.0);
  // Intercept through the mean logit at the common dose.
  const double mean_y = (logit(0.2) + logit(0.8)) / 2;
  EXPECT_NEAR(p[1] + p[3] * 0.7, mean_y, kRounding);
}

}  // namespace
}  // namespace varnalo
