// Both fit steps on the random battery of tests/reference: data sets drawn
// with controls, empty and full groups, steep and shallow curves, one to
// three preparations, fitted under the three distributions and the models
// with and without C and D. Each maximum was found independently in R
// (several starts, bound-constrained, in log space, polished).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "fit/fit_driver.h"
#include "fit/simplex.h"
#include "model/model_family.h"
#include "support/battery.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::Battery;
using testing::BatteryFit;
using testing::BatterySet;
using testing::StageFixture;

// A fit may end no more than a millionth of |^L| below the independent
// maximum (the reference is exact to about 1e-10; the maximisers stop on
// relative steps far below this). It may end above it: the reference's
// starts are finite in number too.
constexpr double kBatteryRelative = 1e-6;

void fit_the_battery(const Edition& fit, const char* program) {
  const Battery& battery = Battery::get();
  if (!battery.available()) GTEST_SKIP() << "battery values not generated yet";
  int fits = 0;
  for (const BatteryFit& ref : battery.fits()) {
    const BatterySet& set = battery.set(ref.set);
    const int nprep = static_cast<int>(set.preps.size());
    const std::string name = std::string(program) + " " + ref.set + ".d" +
                             std::to_string(ref.distribution) + ".m" + std::to_string(ref.model) +
                             (ref.separate ? ".sep" : ".common");
    StageFixture fx;
    fx.set_groups(set.preps);
    fx.begin_fit(ref.distribution, ref.model, ref.separate ? nprep : 1);
    AnalysisState& s = fx.state();
    s.fixed_c = set.fixed_c;
    testing::fit_from_regression(s, fit);
    EXPECT_GE(s.max_loglik, ref.max_loglik - kBatteryRelative * std::fabs(ref.max_loglik)) << name;
    EXPECT_LE(s.max_loglik, 0.0) << name;
    EXPECT_TRUE(rates_in_space(s, s.params)) << name;
    ++fits;
  }
  EXPECT_GT(fits, 100);
}

TEST(RandomBattery, TheVariableMetricFitReachesEveryMaximum) { fit_the_battery(kVariableMetricEdition, "Varnalo"); }

TEST(RandomBattery, TheSimplexFitReachesEveryMaximum) {
  fit_the_battery(kSimplexEdition, "VarnaloNM");
}

}  // namespace
}  // namespace varnalo
