// Tests of the parameter-vector layout, the parameter space and the labels.
#include "model/model_family.h"

#include <gtest/gtest.h>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;

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
