// Both fit steps on the random battery of tests/reference: data sets drawn
// with controls, empty and full groups, steep and shallow curves, one to
// three preparations, fitted under the three distributions and the models
// with and without C and D. Each maximum was found independently in R
// (several starts, bound-constrained, in log space, polished).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>
#include <string>

#include "fit/fit_driver.h"
#include "fit/simplex.h"
#include "inference/covariance.h"
#include "potency/effective_dose.h"
#include "potency/fieller.h"
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

// At the same maximum as the reference (every estimate within this fraction
// of max(1, |estimate|); on a flat ridge the two can stand apart, and the
// matrices with them), the variance matrices are compared.
constexpr double kSamePoint = 1e-5;
// "Finney Equivalent" at the fitted point against the inverse expected
// information at the reference point: the same sum, at points that agree to
// kSamePoint, which moves the matrix of an ill-conditioned fit (curvature
// ratios down to 1e-7) by a few 1e-4 of sqrt(V_ii V_jj).
constexpr double kFinneyAtTheFit = 5e-4;
// "SAS Equivalent" against the inverse observed information: the
// maximiser's metric is kept only within 1e-3 of it (fit/fit_driver.cpp),
// plus what kSamePoint moves.
constexpr double kSasAtTheFit = 1.1e-3;
// Its Fieller limits move with it: by about a thousandth of the interval
// (divided by 1 - g).
constexpr double kSasLimits = 2e-3;
// Fits whose index g lies this close to 1 have limits that run off towards
// infinity at the least rounding: not compared.
constexpr double kLimitsUnbounded = 1e-3;
constexpr int k95 = 2;  // index of the 95 per cent limits

// The fit's variance matrices against the independent ones of
// information_values.txt, where the fit ended at the reference's maximum.
void check_variances(AnalysisState& s, const BatteryFit& ref, bool variable_metric,
                     const std::string& name) {
  const testing::ReferenceValues& information = testing::ReferenceValues::information();
  if (!information.has(ref.name(), "exp_cov_1_1")) return;
  std::vector<double> estimates(ref.a);
  estimates.insert(estimates.end(), ref.b.begin(), ref.b.end());
  for (std::size_t i = 0; i < estimates.size(); ++i) {
    const double p = s.params[static_cast<int>(i) + 1];
    if (std::fabs(p - estimates[i]) > kSamePoint * std::max(1.0, std::fabs(estimates[i]))) return;
  }
  build_info_matrix(s);
  EXPECT_LE(testing::covariance_difference(s, s.info_cov, ref.name(), "exp_cov_"), kFinneyAtTheFit)
      << name << " Finney Equivalent";
  if (!variable_metric || !information.has(ref.name(), "obs_cov_1_1")) return;
  EXPECT_LE(testing::covariance_difference(s, s.fit_cov, ref.name(), "obs_cov_"), kSasAtTheFit)
      << name << " SAS Equivalent";
  // The 95 per cent Fieller limits of every ED50 under "SAS Equivalent"
  // (common-slope fits).
  if (ref.separate || !information.has(ref.name(), "ed50.1.sas_lo")) return;
  s.variance_method = 1;
  alloc_potency_arrays(s);
  compute_deviates(s, s.conf_alpha, s.conf_deviates);
  const double t = s.conf_deviates[k95];
  const double b = s.params[s.nprep + 1];
  const double g = t * t * s.fit_cov[s.nprep + 1][s.nprep + 1] / (b * b);
  if (std::fabs(1.0 - g) >= kLimitsUnbounded) {
    compute_effective_doses(s, 0.5);
    for (int j = 1; j <= s.nprep; ++j) {
      const std::string q = "ed50." + std::to_string(j);
      const double lo = information.at(ref.name(), q + ".sas_lo");
      const double hi = information.at(ref.name(), q + ".sas_hi");
      if (lo == kMissingLower) continue;
      // Fieller's limits amplify the matrix's error by 1 / (1 - g).
      const double tolerance = kSasLimits * (hi - lo) / std::fabs(1.0 - g) + kSamePoint;
      EXPECT_NEAR(s.ed_lower[k95][j], lo, tolerance) << name << " " << q;
      EXPECT_NEAR(s.ed_upper[k95][j], hi, tolerance) << name << " " << q;
    }
  }
  free_potency_arrays(s);
}

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
    check_variances(s, ref, &fit == &kVariableMetricEdition, name);
  }
  EXPECT_GT(fits, 100);
}

TEST(RandomBattery, TheVariableMetricFitReachesEveryMaximum) { fit_the_battery(kVariableMetricEdition, "Varnalo"); }

TEST(RandomBattery, TheSimplexFitReachesEveryMaximum) {
  fit_the_battery(kSimplexEdition, "VarnaloNM");
}

}  // namespace
}  // namespace varnalo
