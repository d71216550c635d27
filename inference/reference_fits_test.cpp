// The covariance matrices, weights, expected counts, Pearson chi-square and
// AIC of fitted models against the committed independent reference values.
// The fitted parameters are taken from the references themselves, so these
// tests do not depend on the maximiser.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "inference/covariance.h"
#include "inference/gof_tests.h"
#include "inference/obs_exp.h"
#include "inference/variance_ratio.h"
#include "support/harness.h"
#include "support/reference_data.h"

namespace varnalo {
namespace {

using testing::matrix_entry;
using testing::ReferenceValues;
using testing::StageFixture;

// Matrix entries agree to five significant digits of the scale
// sqrt(V[i][i] V[j][j]) of their row and column.
constexpr double kFiveDigits = 1e-5;
// Expected counts and the Pearson sum carry the normal distribution
// function's error of about 1e-9 per probability, times n (at most 63).
constexpr double kCountError = 1e-6;
// AIC is a sum of two doubles given to 15 digits.
constexpr double kAicDigits = 1e-10;

struct Case {
  std::string name;
  std::string dataset;
  int distribution, model, nslopes;
};

// Every fitted case in the reference file.
std::vector<Case> reference_cases() {
  const ReferenceValues& ref = ReferenceValues::get();
  std::vector<Case> cases;
  for (const char* ds : testing::kReferenceDataSets)
    for (int d = 1; d <= 3; ++d)
      for (int m = 1; m <= 8; ++m)
        for (bool separate : {false, true}) {
          const std::string name = testing::reference_case(ds, d, m, separate);
          if (!ref.has(name, "cov_1_1")) continue;
          const int nprep = std::string(ds) == "budworm" ? 2 : 1;
          cases.push_back({name, ds, d, m, separate ? nprep : 1});
        }
  return cases;
}

// A fixture holding the case's data and the reference estimates.
void load_case(StageFixture& f, const Case& c) {
  f.set_groups(testing::sorted_as_loader(testing::reference_dataset(c.dataset)));
  f.begin_fit(c.distribution, c.model, c.nslopes);
  AnalysisState& s = f.state();
  ASSERT_EQ(static_cast<int>(testing::reference_parameter_names(s.nprep, s.nslopes, s.model).size()),
            s.npar);
  testing::set_reference_params(s, c.name);
}

TEST(ReferenceFits, InformationExpectedCountsPearsonAndAic) {
  const auto cases = reference_cases();
  if (cases.empty()) GTEST_SKIP() << "reference values not present";
  const ReferenceValues& ref = ReferenceValues::get();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StageFixture f(std::string(2, '\n'));  // one pause per preparation
    load_case(f, c);
    AnalysisState& s = f.state();
    build_info_matrix(s);
    auto r = [&](int i, int j) { return ref.at(c.name, matrix_entry("cov_", i, j)); };
    for (int i = 1; i <= s.npar; ++i)
      for (int j = 1; j <= s.npar; ++j)
        EXPECT_NEAR(s.info_cov[i][j], r(i, j), kFiveDigits * std::sqrt(std::fabs(r(i, i) * r(j, j))))
            << i << "," << j;
    for (int i = s.npar + 1; i <= s.param_capacity(); ++i)  // slots beyond the model stay empty
      for (int j = 1; j <= s.param_capacity(); ++j) EXPECT_EQ(s.info_cov[i][j], 0.0);
    for (int j = 1; j <= s.nprep; ++j) {
      const double sumw = ref.at(c.name, "sumw_" + std::to_string(j));
      const double meanx = ref.at(c.name, "meanx_" + std::to_string(j));
      EXPECT_NEAR(s.prep_sum_w[j], sumw, kFiveDigits * sumw);
      EXPECT_NEAR(s.prep_mean_x[j], meanx, kFiveDigits * std::fabs(meanx) + kCountError);
    }
    print_obs_exp(s, f.answers());
    for (int j = 1; j <= s.nprep; ++j)
      for (int k = 1; k <= s.ngroups[j]; ++k)
        EXPECT_NEAR(s.groups[j][k][4], ref.at(c.name, matrix_entry("exp_", j, k)), kCountError) << j << "," << k;
    compute_pearson(s);
    const double pearson = ref.at(c.name, "pearson");
    EXPECT_NEAR(s.pearson_chi2, pearson, kCountError * (1 + pearson));
    s.max_loglik = ref.at(c.name, "max_loglik");
    report_aic(s);
    EXPECT_NEAR(s.aic, ref.at(c.name, "aic"), kAicDigits * std::fabs(s.aic));
  }
}

TEST(ReferenceFits, LocationScaleCovarianceByDeltaMethod) {
  const auto cases = reference_cases();
  if (cases.empty()) GTEST_SKIP() << "reference values not present";
  const ReferenceValues& ref = ReferenceValues::get();
  int checked = 0;
  for (const Case& c : cases) {
    if (c.nslopes != 1 || !ref.has(c.name, "dcov_1_1")) continue;
    SCOPED_TRACE(c.name);
    StageFixture f;
    load_case(f, c);
    AnalysisState& s = f.state();
    // The reference matrix itself is the input, so only the derivation is tested.
    testing::set_reference_matrix(s.info_cov, s.npar, c.name, "cov_");
    derive_location_scale(s, s.params, s.derived_params, s.info_cov, s.derived_cov);
    for (int j = 1; j <= s.nprep; ++j)
      EXPECT_NEAR(s.derived_params[j], ref.at(c.name, "m" + std::to_string(j)),
                  kFiveDigits * std::fabs(ref.at(c.name, "m" + std::to_string(j))));
    EXPECT_NEAR(s.derived_params[s.nprep + 1], ref.at(c.name, "s"),
                kFiveDigits * std::fabs(ref.at(c.name, "s")));
    auto r = [&](int i, int j) { return ref.at(c.name, matrix_entry("dcov_", i, j)); };
    for (int i = 1; i <= s.npar; ++i)
      for (int j = 1; j <= s.npar; ++j)
        EXPECT_NEAR(s.derived_cov[i][j], r(i, j), kFiveDigits * std::sqrt(std::fabs(r(i, i) * r(j, j))))
            << i << "," << j;
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace varnalo
