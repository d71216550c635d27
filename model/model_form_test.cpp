// The table of model forms against the formulas it stands for: the layout
// of C and D, the response probability of each family, its reverse, its
// derivatives and the words of each form.
#include "model/model_form.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace varnalo {
namespace {

// Products and sums of a few proportions: a few units of rounding.
constexpr double kRounding = 1e-15;

// The eight forms as the analyst knows them: family, what the first and
// second extra entries hold, how C and D enter, how many extra parameters.
TEST(ModelForms, TableHoldsTheEightFormsWithTheirRates) {
  struct Row {
    Family family;
    char first, second;  // extra entries k+1, k+2 ('-' for none)
    RateUse c;
    bool d;
    int extras;
  };
  const Family A = Family::kAllOrNothing, P = Family::kPreference;
  const RateUse no = RateUse::kAbsent, known = RateUse::kKnown, est = RateUse::kEstimated;
  const Row rows[] = {
      {A, '-', '-', no, false, 0},   {A, 'C', '-', est, false, 1}, {A, 'D', '-', no, true, 1},
      {A, 'C', 'D', est, true, 2},   {P, '-', '-', known, false, 0}, {P, 'C', '-', est, false, 1},
      {P, 'D', '-', known, true, 1}, {P, 'C', 'D', est, true, 2},
  };
  for (int m = 1; m <= kModelFormCount; ++m) {
    const ModelForm& form = model_form(m);
    const Row& row = rows[m - 1];
    EXPECT_EQ(form.number, m);
    EXPECT_EQ(form.family, row.family) << m;
    EXPECT_EQ(form.c, row.c) << m;
    EXPECT_EQ(form.estimates_d(), row.d) << m;
    EXPECT_EQ(form.extra_count(), row.extras) << m;
    auto holds = [&](int slot) {
      return form.c_slot() == slot ? 'C' : form.d_slot() == slot ? 'D' : '-';
    };
    EXPECT_EQ(holds(1), row.first) << m;
    EXPECT_EQ(holds(2), row.second) << m;
    EXPECT_EQ(form.d_first(), row.first == 'D') << m;
    EXPECT_EQ(form.rates_share_population(), row.family == A) << m;
    EXPECT_EQ(form.has_rates(), m != 1) << m;
  }
  EXPECT_EQ(&model_form(3), &kModelForms[2]);
}

TEST(ResponseProbability, ModelFormsAtKnownPoints) {
  double P = 0, Q = 0;
  model_form(4).probability(0.5, 0.1, 0.2, &P, &Q);
  EXPECT_NEAR(P, 0.1 + 0.7 * 0.5, kRounding);
  EXPECT_NEAR(Q, 0.55, kRounding);
  model_form(8).probability(0.5, 0.1, 0.2, &P, &Q);
  EXPECT_NEAR(P, 0.46, kRounding);
  EXPECT_NEAR(Q, 0.54, kRounding);
  // Models 2, 5, 6 with D = 0: P = C + (1 - C) P0; model 3: (1 - D) P0.
  for (int m : {2, 5, 6}) {
    model_form(m).probability(0.4, 0.25, 0.0, &P, &Q);
    EXPECT_NEAR(P, 0.25 + 0.75 * 0.4, kRounding) << m;
  }
  model_form(3).probability(0.4, 0.0, 0.3, &P, &Q);
  EXPECT_NEAR(P, 0.7 * 0.4, kRounding);
  model_form(7).probability(0.4, 0.5, 0.3, &P, &Q);
  EXPECT_NEAR(P, 0.5 + 0.5 * 0.7 * 0.4, kRounding);
}

TEST(ResponseProbability, RatesTheFormDoesNotUseCountAsZero) {
  double P = 0, Q = 0;
  model_form(1).probability(0.3, 0.4, 0.4, &P, &Q);
  EXPECT_EQ(P, 0.3);
  model_form(3).probability(0.4, 0.9, 0.3, &P, &Q);  // C is absent from form 3
  EXPECT_NEAR(P, 0.7 * 0.4, kRounding);
  model_form(6).probability(0.4, 0.25, 0.9, &P, &Q);  // D is absent from form 6
  EXPECT_NEAR(P, 0.25 + 0.75 * 0.4, kRounding);
  model_form(1).probability(1.0, 0.0, 0.0, &P, &Q);
  EXPECT_EQ(P, 1.0);
  EXPECT_EQ(Q, 1e-99);
  model_form(1).probability(0.0, 0.0, 0.0, &P, &Q);
  EXPECT_EQ(P, 1e-99);
  EXPECT_EQ(Q, 1.0);
  model_form(2).probability(0.0, 0.0, 0.0, &P, &Q);
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
    model_form(c.model).probability(c.P0, c.S0, c.C, c.D, &P, &Q);
    EXPECT_NEAR(Q / c.Q, 1.0, kRelative) << "model " << c.model;
  }
  double P1 = 0, Q1 = 0, P2 = 0, Q2 = 0;
  model_form(4).probability(0.3, 0.1, 0.2, &P1, &Q1);
  model_form(4).probability(0.3, 0.7 + 1e-12, 0.1, 0.2, &P2, &Q2);
  EXPECT_EQ(P1, P2);
  EXPECT_EQ(Q1, Q2);
}

TEST(BackgroundFree, UndoesTheResponseProbability) {
  EXPECT_EQ(model_form(2).background_free(0.15, 0.15, 0.0), 0.0);
  EXPECT_NEAR(model_form(4).background_free(0.8, 0.1, 0.2), 1.0, kRounding);
  for (int m = 1; m <= kModelFormCount; ++m) {
    double P = 0, Q = 0;
    model_form(m).probability(0.62, 0.15, 0.1, &P, &Q);
    EXPECT_NEAR(model_form(m).background_free(P, 0.15, 0.1), 0.62, 1e-14) << "model " << m;
  }
  // Below C the proportion due to treatment is negative (no floor here).
  EXPECT_NEAR(model_form(6).background_free(0.1, 0.5, 0.0), -0.8, kRounding);
}

TEST(BackgroundFree, ImmunityForTheCeilingMakesTheHighestResponseTheLargest) {
  for (int m : {3, 4, 7, 8}) {
    const double C = model_form(m).uses_c() ? 0.2 : 0.0;
    const double D = model_form(m).immunity_for_ceiling(0.9, C);
    double P = 0, Q = 0;
    model_form(m).probability(1.0, C, D, &P, &Q);
    EXPECT_NEAR(P, 0.9, kRounding) << "model " << m;
  }
  // Every proportion 1 and C 1: no immunity rather than 0 / 0.
  EXPECT_EQ(model_form(8).immunity_for_ceiling(1.0, 1.0), 0.0);
}

// First and second derivatives against central differences of P (and of
// the first derivatives), in every form at a few points; a rate the form
// does not estimate has no derivatives.
TEST(ResponseDerivatives, MatchDifferencesOfTheProbability) {
  constexpr double h = 1e-6;
  constexpr double kDifference = 1e-8;
  const double points[][3] = {{0.3, 0.1, 0.2}, {0.8, 0.25, 0.05}, {0.05, 0.4, 0.3}};
  for (int m = 1; m <= kModelFormCount; ++m) {
    const ModelForm& form = model_form(m);
    for (const auto& pt : points) {
      const double P0 = pt[0], C = pt[1], D = pt[2];
      auto P = [&](double p0, double c, double d) {
        double p = 0, q = 0;
        form.probability(p0, c, d, &p, &q);
        return p;
      };
      auto first = [&](double p0, double c, double d) { return form.derivatives(p0, c, d); };
      const ResponseDerivatives r = form.derivatives(P0, C, D);
      EXPECT_NEAR(r.dP0, (P(P0 + h, C, D) - P(P0 - h, C, D)) / (2 * h), kDifference) << m;
      const double dC = (P(P0, C + h, D) - P(P0, C - h, D)) / (2 * h);
      const double dD = (P(P0, C, D + h) - P(P0, C, D - h)) / (2 * h);
      EXPECT_NEAR(r.dC, form.estimates_c() ? dC : 0.0, kDifference) << m;
      EXPECT_NEAR(r.dD, form.estimates_d() ? dD : 0.0, kDifference) << m;
      const ResponseDerivatives up = first(P0 + h, C, D), down = first(P0 - h, C, D);
      EXPECT_NEAR(r.dP0P0, (up.dP0 - down.dP0) / (2 * h), kDifference) << m;
      EXPECT_NEAR(r.dP0C, (up.dC - down.dC) / (2 * h), kDifference) << m;
      EXPECT_NEAR(r.dP0D, (up.dD - down.dD) / (2 * h), kDifference) << m;
      const ResponseDerivatives c_up = first(P0, C + h, D), c_down = first(P0, C - h, D);
      EXPECT_NEAR(r.dCC, (c_up.dC - c_down.dC) / (2 * h), kDifference) << m;
      const bool both = form.estimates_c() && form.estimates_d();
      EXPECT_NEAR(r.dCD, both ? (c_up.dD - c_down.dD) / (2 * h) : 0.0, kDifference) << m;
      const ResponseDerivatives d_up = first(P0, C, D + h), d_down = first(P0, C, D - h);
      EXPECT_NEAR(r.dDD, (d_up.dD - d_down.dD) / (2 * h), kDifference) << m;
      if (form.estimates_d()) {
        EXPECT_DOUBLE_EQ(r.dD, -form.d_scale(C) * P0) << m;
      } else {
        EXPECT_EQ(r.dP0D, 0.0) << m;
      }
      if (!form.estimates_c()) {
        EXPECT_EQ(r.dP0C, 0.0) << m;
      }
    }
  }
}

}  // namespace
}  // namespace varnalo
