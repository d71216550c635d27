// Verdicts on what a fit estimates: separated data (complete and quasi-
// complete, alone or beside a well-behaved preparation, with and without C
// or D, both programs), a preparation with one dose, responding controls
// under a model without C, and well-behaved data left alone; the variances
// of what is estimated come from its own information.
#include "inference/estimability.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fit/edition.h"
#include "inference/covariance.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::Group;
using testing::StageFixture;
using Preps = std::vector<std::vector<Group>>;

constexpr Estimable kYes = Estimable::kYes;
constexpr Estimable kStep = Estimable::kNoFiniteMaximum;
constexpr Estimable kFew = Estimable::kTooFewDoses;
constexpr Estimable kControls = Estimable::kControlsUnexplained;

const std::vector<Group> kRotenone = {
    {0.41497, 50, 6}, {0.57978, 48, 16}, {0.70757, 46, 24}, {0.88649, 49, 42}, {1.00860, 50, 44}};
const std::vector<Group> kSeparated = {{0.0, 10, 0}, {0.30103, 10, 0}, {0.60206, 10, 10},
                                       {0.90309, 10, 10}};
const std::vector<Group> kQuasi = {{0.0, 10, 0}, {0.30103, 10, 3}, {0.60206, 10, 10},
                                   {0.90309, 10, 10}};
const std::vector<Group> kNone = {{0.0, 10, 0}, {0.30103, 10, 0}, {0.60206, 10, 0}};
// One dose (twice) and a control group.
const std::vector<Group> kOneDose = {{0.69897, 10, 4}, {0.69897, 12, 7}, {kZeroDoseLog, 10, 0}};
// Rotenone with a control group that responds.
std::vector<Group> with_responding_controls() {
  std::vector<Group> groups = kRotenone;
  groups.push_back({kZeroDoseLog, 49, 2});
  return groups;
}

FitEstimability fitted_verdict(const Edition& edition, int distribution, int model, int nslopes,
                               const Preps& preps) {
  StageFixture fx;
  fx.set_groups(preps);
  fx.begin_fit(distribution, model, nslopes);
  testing::fit_from_regression(fx.state(), edition);
  return assess_estimability(fx.state());
}

TEST(Estimability, VerdictsPerPreparationInBothProgramsAndBothFits) {
  struct Case {
    const char* what;
    int distribution, model, nslopes;
    Preps preps;
    std::vector<Estimable> expected;  // [1..nprep]
  };
  const Case cases[] = {
      {"well-behaved probit", 1, 1, 1, {kRotenone}, {kYes}},
      {"well-behaved logit with C and D", 2, 4, 1, {kRotenone}, {kYes}},
      {"complete separation", 1, 1, 1, {kSeparated}, {kStep}},
      {"complete separation, logit", 2, 1, 1, {kSeparated}, {kStep}},
      {"quasi-complete separation", 1, 1, 1, {kQuasi}, {kStep}},
      {"complete separation with C", 1, 2, 1, {kSeparated}, {kStep}},
      {"complete separation with D, logit", 2, 3, 1, {kSeparated}, {kStep}},
      {"quasi-complete separation with C", 3, 2, 1, {kQuasi}, {kStep}},
      {"quasi beside rotenone, own slopes", 1, 1, 2, {kRotenone, kQuasi}, {kYes, kStep}},
      {"quasi beside rotenone, common slope", 1, 1, 1, {kRotenone, kQuasi}, {kYes, kYes}},
      {"separation beside rotenone, C and D", 2, 4, 2, {kRotenone, kSeparated}, {kYes, kStep}},
      {"no responders beside rotenone, common slope", 2, 1, 1, {kRotenone, kNone}, {kYes, kStep}},
      {"one dose, own slopes", 1, 1, 2, {kRotenone, kOneDose}, {kYes, kFew}},
      {"one dose, common slope", 1, 1, 1, {kRotenone, kOneDose}, {kYes, kYes}},
      {"one dose alone", 1, 1, 1, {kOneDose}, {kFew}},
      {"responding controls without C", 1, 1, 1, {with_responding_controls()}, {kControls}},
      {"responding controls, model with D", 1, 3, 1, {with_responding_controls()}, {kControls}},
      {"responding controls with C", 1, 2, 1, {with_responding_controls()}, {kYes}},
  };
  for (const Edition* edition : {&kVariableMetricEdition, &kSimplexEdition})
    for (const Case& c : cases) {
      const FitEstimability verdict =
          fitted_verdict(*edition, c.distribution, c.model, c.nslopes, c.preps);
      ASSERT_EQ(verdict.prep.size(), c.expected.size() + 1) << c.what;
      for (std::size_t j = 1; j <= c.expected.size(); ++j)
        EXPECT_EQ(verdict.prep[j], c.expected[j - 1])
            << c.what << ", preparation " << j << ", " << edition->program_name;
    }
}

TEST(Estimability, DistinctDosesLeaveOutControlsAndRepeats) {
  StageFixture fx;
  fx.set_groups({kOneDose, kRotenone, {{kZeroDoseLog, 5, 1}, {kInfiniteDoseLog, 5, 5}}});
  EXPECT_EQ(distinct_doses(fx.state(), 1), 1);
  EXPECT_EQ(distinct_doses(fx.state(), 2), 5);
  EXPECT_EQ(distinct_doses(fx.state(), 3), 0);
}

// Under separate slopes the preparations are independent (no C or D): what
// is estimated keeps the variances of its own information (expected under
// the Finney method, observed under the SAS one: rotenone alone agrees with
// the maximiser's metric to 0.1 per cent), what is not has none.
TEST(Estimability, VariancesOfWhatIsEstimatedComeFromItsOwnInformation) {
  for (int method : {1, 2}) {
    StageFixture alone;
    alone.set_groups({kRotenone});
    alone.begin_fit(1, 1, 1);
    alone.state().variance_method = method;
    testing::fit_from_regression(alone.state(), kVariableMetricEdition);
    build_info_matrix(alone.state());
    const Matrix& A = selected_cov(alone.state());
    const double tolerance = method == 1 ? 1e-3 : 1e-6;

    StageFixture fx;
    fx.set_groups({kRotenone, kQuasi});
    fx.begin_fit(1, 1, 2);
    AnalysisState& s = fx.state();
    s.variance_method = method;
    testing::fit_from_regression(s, kVariableMetricEdition);
    build_info_matrix(s);
    s.separate_estimability = assess_estimability(s);
    mark_not_estimated(s);
    const Matrix& V = selected_cov(s);
    // a1, b1 (entries 1 and 3) against the fit of rotenone alone.
    EXPECT_NEAR(V[1][1], A[1][1], tolerance * A[1][1]) << method;
    EXPECT_NEAR(V[3][3], A[2][2], tolerance * A[2][2]) << method;
    EXPECT_NEAR(V[1][3], A[1][2], tolerance * std::fabs(A[1][2])) << method;
    for (int i = 1; i <= 4; ++i) {
      EXPECT_TRUE(std::isnan(V[2][i])) << i;  // a2
      EXPECT_TRUE(std::isnan(V[i][4])) << i;  // b2
    }
  }
}

// A complete verdict leaves the matrices as the fit made them, bit for bit.
TEST(Estimability, WellBehavedFitsKeepTheirMatrices) {
  StageFixture fx;
  fx.set_groups({kRotenone});
  fx.begin_fit(2, 4, 1);
  AnalysisState& s = fx.state();
  testing::fit_from_regression(s, kVariableMetricEdition);
  build_info_matrix(s);
  const int N = s.param_capacity();
  std::vector<double> before;
  for (int i = 1; i <= N; ++i)
    for (int k = 1; k <= N; ++k) before.push_back(s.fit_cov[i][k]), before.push_back(s.info_cov[i][k]);
  s.common_estimability = assess_estimability(s);
  ASSERT_TRUE(s.common_estimability.complete());
  mark_not_estimated(s);
  std::size_t at = 0;
  for (int i = 1; i <= N; ++i)
    for (int k = 1; k <= N; ++k) {
      EXPECT_EQ(s.fit_cov[i][k], before[at++]);
      EXPECT_EQ(s.info_cov[i][k], before[at++]);
    }
}

}  // namespace
}  // namespace varnalo
