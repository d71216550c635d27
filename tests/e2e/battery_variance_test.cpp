// Variance matrices and Fieller limits on the random battery of
// tests/reference against base R (make_information.R): the "Finney
// Equivalent" matrix is the inverse expected information at the maximum,
// the "SAS Equivalent" matrix approximates the inverse observed information,
// and the effective-dose limits follow from each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "fit/edition.h"
#include "inference/covariance.h"
#include "model/model_family.h"
#include "potency/effective_dose.h"
#include "potency/fieller.h"
#include "support/battery.h"
#include "support/reference_data.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::Battery;
using testing::BatteryFit;
using testing::BatterySet;
using testing::ReferenceValues;
using testing::StageFixture;

// The program's matrix and R's are the same sum at the same point, each
// inverted in double precision: they differ by rounding amplified by the
// condition number (curvature ratios down to 1e-5 in the battery) and by the
// Normal distribution function's polynomial (absolute error 1.1e-9, which
// moves the weight of a group in the lower tail by up to 1e-6 of itself).
// Entries are compared relative to sqrt(V_ii V_jj).
constexpr double kExpectedInformation = 1e-6;
// A rate that a group with P or Q near 0 pins to its bound has an
// information of 1e16 or more (infinite where P or Q is 0): its variance is
// 0 to within this fraction of the largest variance, and its covariances
// are compared on that scale.
constexpr double kPinnedVariance = 1e-10;
// Log10 effective doses and their limits: the same formula at the same
// point, apart from the program's Normal quantile (absolute error 5e-8,
// divided by the slope) and five-decimal deviate (R uses the same one).
constexpr double kLogDose = 1e-6;
constexpr double kQuantileError = 5e-8;
// Fits whose index g lies this close to 1 are not compared (see below).
constexpr double kLimitsUnbounded = 1e-3;

const ReferenceValues& information() { return ReferenceValues::information(); }

std::string entry(int i, int j) { return std::to_string(i) + "_" + std::to_string(j); }

// Loads a battery fit's data into the fixture and sets the reference
// estimates.
void load_fit(StageFixture& fx, const BatteryFit& fit) {
  const BatterySet& set = Battery::get().set(fit.set);
  const int nprep = static_cast<int>(set.preps.size());
  fx.set_groups(set.preps);
  fx.begin_fit(fit.distribution, fit.model, fit.separate ? nprep : 1);
  fx.state().fixed_c = set.fixed_c;
  testing::set_battery_params(fx.state(), fit);
}

// Largest difference of the leading npar x npar block of V from the
// reference matrix `prefix`, relative to sqrt(ref_ii ref_jj); a reference
// variance of 0 (a pinned rate) is held to kPinnedVariance of the largest.
double worst_difference(const AnalysisState& s, const Matrix& V, const std::string& name,
                        const std::string& prefix) {
  const ReferenceValues& ref = information();
  double largest = 0.0;
  for (int i = 1; i <= s.npar; ++i) largest = std::max(largest, ref.at(name, prefix + entry(i, i)));
  double worst = 0.0;
  for (int i = 1; i <= s.npar; ++i)
    for (int j = i; j <= s.npar; ++j) {
      const double r = ref.at(name, prefix + entry(i, j));
      const double vi = ref.at(name, prefix + entry(i, i));
      const double vj = ref.at(name, prefix + entry(j, j));
      const double floor = kPinnedVariance * largest;
      const double scale = std::sqrt(std::max(vi, floor) * std::max(vj, floor));
      worst = std::max(worst, std::fabs(V[i][j] - r) / scale);
    }
  return worst;
}

TEST(BatteryVariance, FinneyMatrixIsTheInverseExpectedInformation) {
  const Battery& battery = Battery::get();
  if (!battery.available() || !information().has("INFO.d1.m1.common", "exp_cov_1_1"))
    GTEST_SKIP() << "information values not generated";
  int compared = 0;
  for (const BatteryFit& fit : battery.fits()) {
    const std::string name = fit.name();
    if (!information().has(name, "exp_cov_1_1")) continue;
    StageFixture fx;
    load_fit(fx, fit);
    AnalysisState& s = fx.state();
    build_info_matrix(s);
    EXPECT_LE(worst_difference(s, s.info_cov, name, "exp_cov_"), kExpectedInformation) << name;
    ++compared;
  }
  EXPECT_GT(compared, 800);
}

// The 95 per cent limits of ED10, ED50 and ED90 of every preparation in the
// common-slope fits, under "Finney Equivalent" at the reference maximum.
TEST(BatteryVariance, FinneyLimitsOfEffectiveDoses) {
  const Battery& battery = Battery::get();
  if (!battery.available() || !information().has("INFO.d1.m1.common", "exp_cov_1_1"))
    GTEST_SKIP() << "information values not generated";
  const ReferenceValues& ref = information();
  constexpr int k95 = 2;
  int compared = 0;
  for (const BatteryFit& fit : battery.fits()) {
    const std::string name = fit.name();
    if (fit.separate || !ref.has(name, "ed50.1")) continue;
    StageFixture fx;
    load_fit(fx, fit);
    AnalysisState& s = fx.state();
    s.variance_method = 2;
    build_info_matrix(s);
    alloc_potency_arrays(s);
    compute_deviates(s, s.conf_alpha, s.conf_deviates);
    const double b = s.params[s.nprep + 1];
    // With g near 1 the limits run off towards infinity: the least rounding
    // of the slope's variance moves them arbitrarily far (or off the line).
    const double t = s.conf_deviates[k95];
    const double g = t * t * s.info_cov[s.nprep + 1][s.nprep + 1] / (b * b);
    if (std::fabs(1.0 - g) < kLimitsUnbounded) continue;
    for (int level : {10, 50, 90}) {
      compute_effective_doses(s, level / 100.0);
      const double tolerance = kLogDose + kQuantileError / std::fabs(b);
      for (int j = 1; j <= s.nprep; ++j) {
        const std::string q = "ed" + std::to_string(level) + "." + std::to_string(j);
        const double m = ref.at(name, q);
        EXPECT_NEAR(s.ed_log[j], m, tolerance * (1 + std::fabs(m))) << name << " " << q;
        const double lo = ref.at(name, q + ".finney_lo");
        const double hi = ref.at(name, q + ".finney_hi");
        if (lo == kMissingLower) {
          EXPECT_EQ(s.ed_lower[k95][j], kMissingLower) << name << " " << q;
          EXPECT_EQ(s.ed_upper[k95][j], kMissingUpper) << name << " " << q;
          continue;
        }
        EXPECT_NEAR(s.ed_lower[k95][j], lo, tolerance * (1 + std::fabs(lo))) << name << " " << q;
        EXPECT_NEAR(s.ed_upper[k95][j], hi, tolerance * (1 + std::fabs(hi))) << name << " " << q;
        ++compared;
      }
    }
    free_potency_arrays(s);
  }
  EXPECT_GT(compared, 300);
}

// Four preparations whose doses lie decades apart, probit, common slope:
// the fit and its "Finney Equivalent" standard errors against glm's. The
// lowest group of the fourth lies at z = -6.2, where a floored P once added
// weight of 0.13 for the 1e-7 the data hold and shrank SE(b) by 5 per cent.
TEST(BatteryVariance, FinneyStandardErrorsOfPreparationsDecadesApart) {
  const ReferenceValues& ref = information();
  const std::string name = "INFO.d1.m1.common";
  if (!ref.has(name, "exp_cov_1_1")) GTEST_SKIP() << "information values not generated";
  // The fit ends within about 1e-7 of glm's estimates; the matrix moves by
  // as little with them.
  constexpr double kFittedPoint = 1e-5;
  std::vector<std::vector<testing::Group>> preps;
  for (int i = 1; i <= 4; ++i)
    preps.push_back(testing::sorted_as_loader(testing::read_group_file(
        testing::reference_path("data/INFO_P" + std::to_string(i) + ".TXT"), false)));
  StageFixture fx;
  fx.set_groups(preps);
  fx.begin_fit(1, 1, 1);
  AnalysisState& s = fx.state();
  testing::fit_from_regression(s, kVariableMetricEdition);
  EXPECT_NEAR(s.max_loglik, ref.at(name, "max_loglik"), kFittedPoint);
  build_info_matrix(s);
  for (int i = 1; i <= 5; ++i) {
    const double se = std::sqrt(ref.at(name, "exp_cov_" + entry(i, i)));
    EXPECT_NEAR(std::sqrt(s.info_cov[i][i]) / se, 1.0, kFittedPoint) << "entry " << i;
  }
}

}  // namespace
}  // namespace varnalo
