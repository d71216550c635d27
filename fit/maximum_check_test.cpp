// The check of a fit's end point: kept exactly when it is the maximum,
// moved into the parameter space, replaced by the maximum where the
// maximiser stopped short or in a lower basin (the reproducers of the
// battery, against their independent maxima), and left alone on data with
// no finite maximum.
#include "fit/maximum_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fit/fit_driver.h"
#include "fit/simplex.h"
#include "model/likelihood.h"
#include "model/model_family.h"
#include "support/battery.h"
#include "support/harness.h"
#include "support/reference_data.h"
#include "session/routine_reports.h"

namespace varnalo {
namespace {

using testing::Battery;
using testing::StageFixture;

// The criterion for a fit: within a millionth of |^L| of the
// independent maximum.
constexpr double kMaximumRelative = 1e-6;

const char kStoppedShort[] = "  The maximiser stopped short of the maximum";
const char kLeftTheSpace[] = "  The maximiser left the parameter space";

TEST(CheckMaximum, AMaximumIsKeptBitForBit) {
  if (!testing::reference_available()) GTEST_SKIP() << "reference values not generated yet";
  // Rotenone, logistic, model 4: C and D interior. The reference estimates
  // are the maximum to about 1e-12.
  StageFixture fx;
  fx.set_groups(testing::reference_dataset("rotenone"));
  fx.begin_fit(2, 4, 1);
  AnalysisState& s = fx.state();
  testing::set_reference_params(s, "rotenone.d2.m4.common");
  DVector p = dvector(1, 4), before = dvector(1, 4);
  for (int i = 1; i <= 4; ++i) p[i] = before[i] = s.params[i];
  double fmin = 0.0;
  const MaximumCheck check = check_maximum(s, p, &fmin, true);
  EXPECT_FALSE(check.improved);
  EXPECT_FALSE(check.outside);
  EXPECT_FALSE(check.unverified);
  EXPECT_GT(check.searches, 1);
  EXPECT_GE(check.searches, check.candidates);
  EXPECT_GT(check.evaluations, check.searches);
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(p[i], before[i]) << i;
  EXPECT_EQ(fmin, exact_objective(s, before));
  report_maximum_check(s, check);
  EXPECT_EQ(fx.report(), "");
}

// X1 under the logistic model 7 has no attained maximum: the likelihood
// rises towards this supremum as the slope grows (computed in R, the
// exclusion note of X1.d2.m7.common in battery_values.txt).
constexpr double kX1Supremum = -146.683934089589;

// The three reproducers: a model-7 fit thrown out of the space, a model-1
// fit whose line search failed far from the maximum, and a model-2 fit in
// the basin of a lower maximum. Each last run of the variable-metric
// maximiser ends on a line search that finds no decrease, and the record
// says so: the check takes the end point as unverified. Both programs end at the maximum (for X1,
// at the supremum), and say how their maximiser's point was replaced when
// it was.
TEST(CheckMaximum, TheReproducersEndAtTheirIndependentMaxima) {
  const Battery& battery = Battery::get();
  if (!battery.available()) GTEST_SKIP() << "battery values not generated yet";
  struct Case {
    const char* set;
    int distribution, model;
    const char* varnalo_line;  // the line Varnalo prints, nullptr: none
  };
  const Case cases[] = {
      {"X1", 2, 7, kLeftTheSpace},
      {"X2", 1, 1, kStoppedShort},
      {"X3", 3, 2, kStoppedShort},
  };
  for (const Case& c : cases) {
    const testing::BatterySet& set = battery.set(c.set);
    double reference = std::string(c.set) == "X1" ? kX1Supremum : 0.0;
    for (const testing::BatteryFit& fit : battery.fits())
      if (fit.set == c.set && fit.distribution == c.distribution && fit.model == c.model &&
          !fit.separate)
        reference = fit.max_loglik;
    ASSERT_LT(reference, 0.0) << c.set;
    for (const Edition* edition : {&kVariableMetricEdition, &kSimplexEdition}) {
      StageFixture fx;
      fx.set_groups(set.preps);
      fx.begin_fit(c.distribution, c.model, 1);
      AnalysisState& s = fx.state();
      s.fixed_c = set.fixed_c;
      const FitResult result = testing::fit_from_regression(s, *edition);
      EXPECT_NEAR(s.max_loglik, reference, kMaximumRelative * std::fabs(reference)) << c.set;
      EXPECT_TRUE(rates_in_space(s, s.params)) << c.set;
      if (edition == &kVariableMetricEdition) {
        EXPECT_NE(fx.report().find(c.varnalo_line), std::string::npos) << c.set << fx.report();
        EXPECT_EQ(result.runs.back().stop, SolverStop::kLineSearchFailed) << c.set;
        EXPECT_TRUE(result.check.unverified) << c.set;
      }
    }
  }
}

// End points a maximiser left off the maximum, each of a kind the check
// must see through: a preparation's curve lying flat under a known C (its
// P0 about 0 at every dose, so every gradient vanishes), a curve that fell
// the wrong way under a known C, and steep maxima under a common slope where
// a shallow preparation's responses are the rate's. Each ends at the
// battery's independent maximum.
TEST(CheckMaximum, EndPointsOffTheMaximumReachIt) {
  const Battery& battery = Battery::get();
  if (!battery.available()) GTEST_SKIP() << "battery values not generated yet";
  struct Case {
    const char* fit;  // battery fit: set.dDISTRIBUTION.mMODEL.(sep|common)
    std::vector<double> end;
  };
  const Case cases[] = {
      // Known C 0.3 above the lowest responses: every curve flat.
      {"R12.d3.m5.common", {-30.0, -30.0, 1.0}},
      // The third curve falling, its P0 about 0 at every dose.
      {"R11.d2.m5.sep", {-26.617, -8.82313, -33.2664, 7.44449, 2.65648, -0.943835}},
      // A moderate common slope where the maximum has a steep one, C large.
      {"R22.d1.m2.common", {-2.52968, -1.76575, 0.138907, 2.50092, 0.254167}},
      {"R04.d1.m8.common", {-1.29976, -3.1294, -4.48011, 1.15137, 0.2, 0.1}},
  };
  for (const Case& c : cases) {
    const testing::BatteryFit* reference = nullptr;
    for (const testing::BatteryFit& fit : battery.fits())
      if (fit.name() == c.fit) reference = &fit;
    ASSERT_NE(reference, nullptr) << c.fit;
    const testing::BatterySet& set = battery.set(reference->set);
    StageFixture fx;
    fx.set_groups(set.preps);
    const int nprep = static_cast<int>(set.preps.size());
    fx.begin_fit(reference->distribution, reference->model, reference->separate ? nprep : 1);
    AnalysisState& s = fx.state();
    s.fixed_c = set.fixed_c;
    ASSERT_EQ(static_cast<int>(c.end.size()), s.npar) << c.fit;
    DVector p = dvector(1, s.param_capacity());
    for (int i = 1; i <= s.npar; ++i) p[i] = c.end[static_cast<std::size_t>(i) - 1];
    double fmin = 0.0;
    const MaximumCheck check = check_maximum(s, p, &fmin, true);
    EXPECT_TRUE(check.improved) << c.fit;
    const double loglik = saturated_loglik(s) - fmin;
    EXPECT_NEAR(loglik, reference->max_loglik, kMaximumRelative * std::fabs(reference->max_loglik))
        << c.fit;
    dvector_free(p, 1, s.param_capacity());
  }
}

// A rate the maximiser left a rounding error above 0 where the maximum lies
// on the bound ends exactly on it (L04, normal, model 2: C's maximum is 0),
// so the variance matrices do not depend on digits of C that print as 0.
TEST(CheckMaximum, ARateARoundingErrorAboveItsBoundEndsOnIt) {
  const Battery& battery = Battery::get();
  if (!battery.available()) GTEST_SKIP() << "battery values not generated yet";
  const testing::BatterySet& set = battery.set("L04");
  for (const Edition* edition : {&kVariableMetricEdition, &kSimplexEdition}) {
    StageFixture fx;
    fx.set_groups(set.preps);
    fx.begin_fit(1, 2, 1);
    AnalysisState& s = fx.state();
    testing::fit_from_regression(s, *edition);
    EXPECT_EQ(s.params[s.npar], 0.0) << edition->program_name;
  }
}

TEST(CheckMaximum, AnEndPointOutsideTheSpaceIsMovedInAndSaysSo) {
  StageFixture fx;
  fx.set_groups({{{0.0, 30, 3}, {0.5, 30, 12}, {1.0, 30, 21}, {1.5, 30, 24}}});
  fx.begin_fit(2, 4, 1);
  AnalysisState& s = fx.state();
  DVector p = dvector(1, 4);
  p[1] = -1.0;
  p[2] = 2.0;
  p[3] = 0.7;  // C + D = 1.5: no population
  p[4] = 0.8;
  double fmin = 0.0;
  const MaximumCheck check = check_maximum(s, p, &fmin, true);
  EXPECT_TRUE(check.outside);
  EXPECT_TRUE(rates_in_space(s, p));
  EXPECT_EQ(fmin, exact_objective(s, p));
  EXPECT_LT(fmin, 1e50);
  report_maximum_check(s, check);
  EXPECT_EQ(fx.report().rfind(kLeftTheSpace, 0), 0u) << fx.report();
}

// Completely and quasi-completely separated data have no finite maximum:
// every search runs up a ridge towards a step, none yields a point, and
// the fits end as their maximiser left them, without a line about it.
TEST(CheckMaximum, DataWithNoFiniteMaximumEndAsTheMaximiserLeftThem) {
  const std::vector<std::vector<testing::Group>> separated[] = {
      {{{0.0, 10, 0}, {1.0, 10, 10}}},
      {{{0.0, 10, 0}, {0.3, 10, 0}, {0.6, 10, 3}, {0.9, 10, 10}, {1.2, 10, 10}}},
  };
  for (const auto& preps : separated)
    for (int model : {1, 2})
      for (const Edition* edition : {&kVariableMetricEdition, &kSimplexEdition}) {
        StageFixture fx;
        fx.set_groups(preps);
        fx.begin_fit(1, model, 1);
        testing::fit_from_regression(fx.state(), *edition);
        EXPECT_EQ(fx.report().find(kStoppedShort), std::string::npos) << fx.report();
      }
}

}  // namespace
}  // namespace varnalo
