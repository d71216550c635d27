// Tests of the model forms, the parameter-vector layout and the labels.
#include "model/model_family.h"

#include <gtest/gtest.h>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;

// Products and sums of a few proportions: a few units of rounding.
constexpr double kRounding = 1e-15;

TEST(ResponseProbability, ModelFormsAtKnownPoints) {
  double P = 0, Q = 0;
  response_probability(4, 0.5, &P, &Q, 0.1, 0.2);
  EXPECT_NEAR(P, 0.1 + 0.7 * 0.5, kRounding);
  EXPECT_NEAR(Q, 0.55, kRounding);
  response_probability(8, 0.5, &P, &Q, 0.1, 0.2);
  EXPECT_NEAR(P, 0.46, kRounding);
  EXPECT_NEAR(Q, 0.54, kRounding);
  // Models 2, 5, 6 with D = 0: P = C + (1 - C) P0; model 3: (1 - D) P0.
  for (int m : {2, 5, 6}) {
    response_probability(m, 0.4, &P, &Q, 0.25, 0.0);
    EXPECT_NEAR(P, 0.25 + 0.75 * 0.4, kRounding) << m;
  }
  response_probability(3, 0.4, &P, &Q, 0.0, 0.3);
  EXPECT_NEAR(P, 0.7 * 0.4, kRounding);
  response_probability(7, 0.4, &P, &Q, 0.5, 0.3);
  EXPECT_NEAR(P, 0.5 + 0.5 * 0.7 * 0.4, kRounding);
}

TEST(ResponseProbability, ModelOneIgnoresCAndDAndFloorsBothEnds) {
  double P = 0, Q = 0;
  response_probability(1, 0.3, &P, &Q, 0.4, 0.4);
  EXPECT_EQ(P, 0.3);
  response_probability(1, 1.0, &P, &Q, 0.0, 0.0);
  EXPECT_EQ(P, 1.0);
  EXPECT_EQ(Q, 1e-99);
  response_probability(1, 0.0, &P, &Q, 0.0, 0.0);
  EXPECT_EQ(P, 1e-99);
  EXPECT_EQ(Q, 1.0);
  response_probability(2, 0.0, &P, &Q, 0.0, 0.0);
  EXPECT_EQ(P, 1e-99);
}

// Where 1 - P has lost its digits Q comes from the accurate tail S0; where
// it has not, the tail changes nothing.
TEST(ResponseProbability, QFromTheTailWhereTheSubtractionLosesItsDigits) {
  constexpr double kRelative = 1e-14;
  struct Case {
    int model;
    double P0, S0, C, D, Q;
  };
  const Case cases[] = {
      {1, 1.0, 3e-20, 0.0, 0.0, 3e-20},
      {2, 1.0, 3e-20, 0.1, 0.0, 0.9 * 3e-20},
      {3, 1.0, 3e-20, 0.0, 1e-12, 1e-12 + (1 - 1e-12) * 3e-20},
      {8, 1.0, 3e-20, 0.2, 1e-10, 0.8 * (1e-10 + (1 - 1e-10) * 3e-20)},
      {1, 1.0, 1e-300, 0.0, 0.0, 1e-99},  // floored as before
  };
  for (const Case& c : cases) {
    double P = 0, Q = 0;
    response_probability(c.model, c.P0, c.S0, &P, &Q, c.C, c.D);
    EXPECT_NEAR(Q / c.Q, 1.0, kRelative) << "model " << c.model;
  }
  double P1 = 0, Q1 = 0, P2 = 0, Q2 = 0;
  response_probability(4, 0.3, &P1, &Q1, 0.1, 0.2);
  response_probability(4, 0.3, 0.7 + 1e-12, &P2, &Q2, 0.1, 0.2);
  EXPECT_EQ(P1, P2);
  EXPECT_EQ(Q1, Q2);
}

// The parameter space: C and D in [0, 1), C + D < 1 where both enter
// P = C + (1 - C - D) P0; a start outside is moved to its nearest sensible
// point inside, a start inside is left alone.
TEST(ParameterSpace, RatesInsideAndMovedInside) {
  StageFixture fx;
  fx.set_groups({{{0.1, 20, 4}, {0.5, 20, 10}}});
  constexpr double kTop = 1.0 - kRateMargin;
  struct Case {
    int model;
    double e3, e4;
    bool inside;
    double moved3, moved4;
  };
  const Case cases[] = {
      {1, 7.0, -3.0, true, 7.0, -3.0},  // no rates: nothing is read
      {2, 0.3, 5.0, true, 0.3, 5.0},    // entry 4 unused
      {2, 1.0, 0.0, false, kTop, 0.0},
      {3, -0.2, 0.0, false, 0.0, 0.0},
      {4, 0.4, 0.59, true, 0.4, 0.59},
      {4, 0.6, 0.6, false, kTop / 2, kTop / 2},
      {7, 4.7, 0.0, false, kTop, 0.0},
      {8, 0.7, 0.9, true, 0.7, 0.9},  // preference: C + D may pass 1
      {8, 0.7, 1.2, false, 0.7, kTop},
  };
  for (const Case& c : cases) {
    fx.begin_fit(1, c.model, 1);
    DVector p = dvector(1, 4);
    p[1] = -1.0;
    p[2] = 2.0;
    p[3] = c.e3;
    p[4] = c.e4;
    EXPECT_EQ(rates_in_space(fx.state(), p), c.inside) << "model " << c.model;
    EXPECT_EQ(move_rates_into_space(fx.state(), p), !c.inside) << "model " << c.model;
    EXPECT_DOUBLE_EQ(p[3], c.moved3) << "model " << c.model;
    EXPECT_DOUBLE_EQ(p[4], c.moved4) << "model " << c.model;
    EXPECT_TRUE(rates_in_space(fx.state(), p)) << "model " << c.model;
    EXPECT_EQ(p[1], -1.0);
    EXPECT_EQ(p[2], 2.0);
  }
}

TEST(BackgroundFreeProportion, UndoesTheResponseProbability) {
  double P0 = -1;
  background_free_proportion(2, 0.15, &P0, 0.15, 0.0);
  EXPECT_EQ(P0, 0.0);
  background_free_proportion(4, 0.8, &P0, 0.1, 0.2);
  EXPECT_NEAR(P0, 1.0, kRounding);
  for (int m = 1; m <= 8; ++m) {
    const double C = m == 1 ? 0.0 : 0.15, D = (m == 1 || m == 2 || m == 5 || m == 6) ? 0.0 : 0.1;
    double P = 0, Q = 0;
    response_probability(m, 0.62, &P, &Q, C, D);
    background_free_proportion(m, P, &P0, C, D);
    EXPECT_NEAR(P0, 0.62, 1e-14) << "model " << m;
  }
  // Below C the proportion due to treatment is negative (no floor here).
  background_free_proportion(6, 0.1, &P0, 0.5, 0.0);
  EXPECT_NEAR(P0, -0.8, kRounding);
}

class ModelFamily : public ::testing::Test {
 protected:
  // Three preparations, one group each (the layout only needs nprep).
  void SetUp() override { fx.set_groups({{{0.1, 10, 5}}, {{0.2, 10, 5}}, {{0.3, 10, 5}}}); }
  StageFixture fx;
};

TEST_F(ModelFamily, CurrentCDReadsTheActiveEntriesAndClampsThemAtZero) {
  AnalysisState& s = fx.state();
  s.fixed_c = 0.35;
  s.nslopes = 1;  // k = 4
  struct Case {
    int model;
    double e5, e6, C, D, after5, after6;
  };
  const Case cases[] = {
      {1, -0.3, -0.2, 0.0, 0.0, -0.3, -0.2},  {2, -0.3, 0.4, 0.0, 0.0, 0.0, 0.4},
      {2, 0.2, 0.4, 0.2, 0.0, 0.2, 0.4},      {6, 0.2, -1.0, 0.2, 0.0, 0.2, -1.0},
      {3, 0.3, 0.4, 0.0, 0.3, 0.3, 0.4},      {3, -0.1, 0.4, 0.0, 0.0, 0.0, 0.4},
      {4, 0.1, -0.2, 0.1, 0.0, 0.1, 0.0},     {8, -0.1, 0.25, 0.0, 0.25, 0.0, 0.25},
      {5, 0.9, 0.8, 0.35, 0.0, 0.9, 0.8},     {7, 0.9, 0.8, 0.35, 0.9, 0.9, 0.8},
      {7, -0.9, 0.8, 0.35, 0.0, 0.0, 0.8},
  };
  for (const Case& c : cases) {
    s.model = c.model;
    DVector p = dvector(1, 6);
    p[5] = c.e5;
    p[6] = c.e6;
    double C = -7, D = -7;
    current_c_d(s, p, &C, &D);
    EXPECT_EQ(C, c.C) << "model " << c.model;
    EXPECT_EQ(D, c.D) << "model " << c.model;
    EXPECT_EQ(p[5], c.after5) << "model " << c.model;
    EXPECT_EQ(p[6], c.after6) << "model " << c.model;
  }
}

TEST_F(ModelFamily, FittedCDLeavesTheParametersAlone) {
  AnalysisState& s = fx.state();
  fx.begin_fit(2, 7, 1);
  s.fixed_c = 0.4;
  s.params[5] = 0.2;
  s.params[6] = 0.6;
  double C = 0, D = 0;
  fitted_c_d(s, &C, &D);
  EXPECT_EQ(C, 0.4);
  EXPECT_EQ(D, 0.2);
  s.model = 8;
  fitted_c_d(s, &C, &D);
  EXPECT_EQ(C, 0.2);
  EXPECT_EQ(D, 0.6);
  s.model = 3;
  fitted_c_d(s, &C, &D);
  EXPECT_EQ(C, 0.0);
  EXPECT_EQ(D, 0.2);
  s.model = 1;
  fitted_c_d(s, &C, &D);
  EXPECT_EQ(C, 0.0);
  EXPECT_EQ(D, 0.0);
  EXPECT_EQ(s.params[5], 0.2);
  EXPECT_EQ(s.params[6], 0.6);
}

TEST_F(ModelFamily, CDVariancesFromTheDiagonal) {
  AnalysisState& s = fx.state();
  Matrix M = matrix(1, 6, 1, 6);
  for (int i = 1; i <= 6; ++i) M[i][i] = 10.0 * i;
  double vc = -1, vd = -1;
  s.model = 4;
  c_d_variances(s, M, &vc, &vd);
  EXPECT_EQ(vc, 50.0);
  EXPECT_EQ(vd, 60.0);
  for (int m : {3, 7}) {
    s.model = m;
    c_d_variances(s, M, &vc, &vd);
    EXPECT_EQ(vc, 0.0);
    EXPECT_EQ(vd, 50.0);
  }
}

TEST_F(ModelFamily, LabelsOfBothFormsAndBothSlopeLayouts) {
  AnalysisState& s = fx.state();
  LabelTable L;
  s.model = 4;
  s.nslopes = 1;
  make_param_labels(s, 1, L);
  ASSERT_EQ(L.size(), 7u);
  EXPECT_EQ(L[1], "a1");
  EXPECT_EQ(L[3], "a3");
  EXPECT_EQ(L[4], "b");
  EXPECT_EQ(L[5], "C");
  EXPECT_EQ(L[6], "D");
  make_param_labels(s, 2, L);
  EXPECT_EQ(L[2], "m2");
  EXPECT_EQ(L[4], "s");
  EXPECT_EQ(L[5], "C");
  s.nslopes = 3;
  s.model = 7;
  make_param_labels(s, 1, L);
  ASSERT_EQ(L.size(), 9u);
  EXPECT_EQ(L[4], "b1");
  EXPECT_EQ(L[6], "b3");
  EXPECT_EQ(L[7], "D");
  EXPECT_EQ(L[8], "C");
  make_param_labels(s, 2, L);
  EXPECT_EQ(L[5], "s2");
  EXPECT_EQ(L[7], "D");
}

TEST(ModelFamilyLabels, NinetyNinePreparationsWithSeparateSlopes) {
  AnalysisState s;
  s.nprep = 99;
  s.nslopes = 99;
  s.model = 3;
  LabelTable L;
  make_param_labels(s, 1, L);
  ASSERT_EQ(L.size(), 201u);
  EXPECT_EQ(L[99], "a99");
  EXPECT_EQ(L[100], "b1");
  EXPECT_EQ(L[198], "b99");
  EXPECT_EQ(L[199], "D");
  EXPECT_EQ(L[200], "C");
}

}  // namespace
}  // namespace varnalo
