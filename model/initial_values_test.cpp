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

// ---- the editing dialogue --------------------------------------------------

constexpr const char* kAsk = "Unweighted Regression\n  Edit Initial Values?\n  [*/y] ";

class EditDialogue : public ::testing::Test {
 protected:
  // Two preparations, common slope, model 2.
  void load(StageFixture& fx) {
    fx.set_groups({{{0.1, 10, 2}, {0.5, 10, 6}}, {{0.2, 10, 3}, {0.6, 10, 8}}}, {"Alpha", "Beta"});
    fx.begin_fit(2, 2, 1);
    DVector& p = fx.state().params;
    p[1] = -1.25;
    p[2] = 0.5;
    p[3] = 2.0;
    p[4] = 0.1;
  }
};

TEST_F(EditDialogue, AnythingButLowerCaseYSkipsEverything) {
  for (const char* answer : {"n", "Y", "\n"}) {
    StageFixture fx(answer);
    load(fx);
    edit_initial_values(fx.state(), fx.state().params);
    EXPECT_EQ(fx.screen(), std::string(kAsk) + "\n") << answer;
    EXPECT_EQ(fx.report(), "");
    EXPECT_EQ(fx.state().params[1], -1.25);
  }
}

TEST_F(EditDialogue, EditPassScreenAndReport) {
  StageFixture fx("y\n1.5\n\n0\nabc\nn");
  load(fx);
  AnalysisState& s = fx.state();
  edit_initial_values(s, s.params);
  EXPECT_EQ(s.params[1], 1.5);
  EXPECT_EQ(s.params[2], 0.5);
  EXPECT_EQ(s.params[3], 0.0001);
  EXPECT_EQ(s.params[4], 0.0001);

  const std::string before =
      "  a1    -1.2500000        Alpha\n"
      "  a2     0.5000000        Beta\n"
      "  b          2.0000000    Regression Coefficient\n"
      "  C      0.1000000\n";
  const std::string after =
      "  a1     1.5000000        Alpha\n"
      "  a2     0.5000000        Beta\n"
      "  b          0.0001000    Regression Coefficient\n"
      "  C      0.0001000\n";
  EXPECT_EQ(fx.screen(), std::string(kAsk) +
                             "\nInitial Values by Unweighted Regression\n"
                             "   #   Parameters   \n" +
                             before +
                             "\n"
                             "  a1       a2       b            C     "
                             "  Edit again? \n  [*/y] "
                             "\n");
  EXPECT_EQ(fx.report(), "   #  Initial Values of Parameters\n" + before + "\f" +
                             "   #  Initial Values of Parameters\n" + after + "\f");
}

TEST_F(EditDialogue, SeparateSlopesKnownCAndEditingTwice) {
  StageFixture fx("y\n\n\n\n\n0.25\ny\n\n\n-3e2\n\n\nn");
  fx.set_groups({{{0.1, 10, 2}, {0.5, 10, 6}}, {{0.2, 10, 3}, {0.6, 10, 8}}}, {"Alpha", "Beta"});
  fx.begin_fit(1, 7, 2);
  AnalysisState& s = fx.state();
  s.fixed_c = 0.5;
  for (int e = 1; e <= 6; ++e) s.params[e] = e;
  edit_initial_values(s, s.params);
  EXPECT_EQ(s.params[5], 0.25);
  EXPECT_EQ(s.params[2], -300.0);
  const std::string rows_before =
      "  a1     1.0000000        Alpha\n"
      "  b1         3.0000000    Regression Coefficient\n"
      "  a2     2.0000000        Beta\n"
      "  b2         4.0000000    Regression Coefficient\n"
      "  D      5.0000000\n";
  const std::string rows_after =
      "  a1     1.0000000        Alpha\n"
      "  b1         3.0000000    Regression Coefficient\n"
      "  a2  -300.0000000        Beta\n"
      "  b2         4.0000000    Regression Coefficient\n"
      "  D      0.2500000\n";
  const std::string prompts = "  a1       b1           a2       b2           D     ";
  EXPECT_EQ(fx.screen(), std::string(kAsk) + "\nInitial Values by Unweighted Regression\n" +
                             "   #   Parameters   \n" + rows_before + "\n" + prompts +
                             "  Edit again? \n  [*/y] " + prompts + "  Edit again? \n  [*/y] " + "\n");
  // The known C appears in the report tables only; each table once.
  const std::string natc = "  NatC     0.5000000\n";
  EXPECT_EQ(fx.report(), "   #  Initial Values of Parameters\n" + rows_before + natc + "\f" +
                             "   #  Initial Values of Parameters\n" + rows_after + natc + "\f");
}

TEST_F(EditDialogue, NoNatCLineOutsideModelsFiveAndSeven) {
  for (int model : {1, 4, 6, 8}) {
    StageFixture fx("y\n\n\n\n\n\n\nn");
    fx.set_groups({{{0.1, 10, 2}, {0.5, 10, 6}}});
    fx.begin_fit(2, model, 1);
    edit_initial_values(fx.state(), fx.state().params);
    EXPECT_EQ(fx.report().find("NatC"), std::string::npos) << model;
  }
  StageFixture fx("y\n\n\nn");
  fx.set_groups({{{0.1, 10, 2}, {0.5, 10, 6}}});
  fx.begin_fit(2, 5, 1);
  edit_initial_values(fx.state(), fx.state().params);
  EXPECT_NE(fx.report().find("  b          0.0000000    Regression Coefficient\n  NatC "),
            std::string::npos);
}

TEST(ReadParameterValue, ConversionRules) {
  StageFixture fx("\n0\nabc\n  2.5xyz\n12345678901234567890123\ninf\n-0\n");
  fx.set_groups({{{0.1, 10, 2}}});
  fx.begin_fit(2, 1, 1);
  AnalysisState& s = fx.state();
  DVector p = dvector(1, 3);
  const double expected[] = {7.0, 0.0001, 0.0001, 2.5, 1234567890123456789.0, 0.0001, 0.0001};
  for (double want : expected) {
    p[2] = 7.0;
    read_parameter_value(s, p, 2);
    EXPECT_EQ(p[2], want);
  }
}

}  // namespace
}  // namespace varnalo
