// Relative potency: the reference dialogue, the default against preparation
// 1, limits against the Fieller quadratic and the reference values.
#include "potency/relative_potency.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "foundation/output.h"
#include "potency/effective_dose.h"
#include "session/analysis.h"
#include "support/hand_fit.h"
#include "support/reference_data.h"

namespace varnalo {
namespace {

using testing::count_of;
using testing::HandFit;
using testing::load_hand_fit;
using testing::quadratic_limits;
using testing::StageFixture;

// Closed forms against the quadratic solution: rounding only.
constexpr double kRoundoff = 1e-12;
// Agreement asked of relative potencies and limits: 6 significant digits.
constexpr double kSixDigits = 5e-7;

// Two Normal preparations with a common slope 2 and correlated estimates.
HandFit two_preps() {
  return {{-1.0, -0.4},
          2.0,
          {{0.04, 0.01, -0.03}, {0.01, 0.05, -0.02}, {-0.03, -0.02, 0.05}},
          {30.0, 25.0},
          {0.45, 0.3}};
}

void prepare(StageFixture& fx, int method = 1) {
  load_hand_fit(fx, two_preps());
  AnalysisState& s = fx.state();
  s.variance_method = method;
  alloc_potency_arrays(s);
  compute_deviates(s, s.conf_alpha, s.conf_deviates);
}

TEST(RelativePotency, SinglePreparationPrintsNothingAndHoldsZeros) {
  StageFixture fx;
  load_hand_fit(fx, {{-1.0}, 2.0, {{0.04, -0.03}, {-0.03, 0.05}}, {30.0}, {0.45}});
  alloc_potency_arrays(fx.state());
  AnalysisState& s = fx.state();
  s.rp_log[1] = s.rp_var[1] = 7.0;
  relative_potency_dialogue(s, fx.answers());
  EXPECT_EQ("", fx.screen());
  EXPECT_EQ("", fx.report());
  EXPECT_EQ(0.0, s.rp_log[1]);
  EXPECT_EQ(0.0, s.rp_var[1]);
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(0.0, s.rp_lower[k][1]);
    EXPECT_EQ(0.0, s.rp_upper[k][1]);
  }
}

TEST(RelativePotency, LeavingAtOnceKeepsPotenciesAgainstPreparationOne) {
  StageFixture fx("q\n");
  prepare(fx);
  AnalysisState& s = fx.state();
  relative_potency_dialogue(s, fx.answers());
  EXPECT_EQ(
      "Relative Potency Estimation (#: Code for Reference, q: to Exit)\n  1 P1  2 P2"
      "\n  [1] Current Reference\n  [*/#/q]  \n",
      fx.screen());
  EXPECT_EQ("", fx.report());
  EXPECT_EQ(0.0, s.rp_log[1]);
  EXPECT_DOUBLE_EQ(0.3, s.rp_log[2]);
}

TEST(RelativePotency, OutOfRangeAsksAgainAndEnterSelectsOne) {
  StageFixture fx("3\n-1\n2\n\nq\n");
  prepare(fx);
  AnalysisState& s = fx.state();
  relative_potency_dialogue(s, fx.answers());
  const std::string sc = fx.screen();
  EXPECT_EQ(0u, sc.find("Relative Potency Estimation (#: Code for Reference, q: to Exit)\n"
                        "  1 P1  2 P2\n  [1] Current Reference\n  [*/#/q]  "
                        "\n  [3] Current Reference\n  [*/#/q]  "
                        "\n  [-1] Current Reference\n  [*/#/q]  \n"
                        "Asymptotic Variance for Log(Rho)\n"));
  // Reference 2 was shown, then Enter went back to 1 although 2 was current.
  EXPECT_NE(std::string::npos, sc.find("\n  [2] Current Reference\n  [*/#/q]  \nAsymptotic"));
  EXPECT_EQ(2, count_of(sc, "Relative Potency Estimates (Rho)\n"));
  EXPECT_EQ(2, count_of(fx.report(), "Relative Potency Estimates (Rho)\n"));
  EXPECT_EQ(1, s.rp_reference);
  EXPECT_EQ(0.0, s.rp_log[1]);
  EXPECT_DOUBLE_EQ(0.3, s.rp_log[2]);
  EXPECT_NE(std::string::npos, sc.find(" #      Rho  (95% Limits)"));
}

TEST(RelativePotency, NinetyNinetyNineBlocksAreSeparatedByKeys) {
  StageFixture fx("2\nx\ny\nq\n");
  prepare(fx);
  fx.state().show_90_99 = 1;
  relative_potency_dialogue(fx.state(), fx.answers());
  EXPECT_EQ("", std::string(fx.console().unread()));
  const std::string sc = fx.screen();
  EXPECT_LT(sc.find("(90% Limits)"), sc.find("(95% Limits)"));
  EXPECT_LT(sc.find("(95% Limits)"), sc.find("(99% Limits)"));
}

TEST(RelativePotency, GeneralFormLimitsMatchTheQuadratic) {
  StageFixture fx;
  prepare(fx, 1);
  AnalysisState& s = fx.state();
  for (int S = 1; S <= 2; ++S) {
    compute_relative_potencies(s, S);
    const int j = 3 - S;
    // Numerator a_j - a_S, its variance and covariance with b.
    const double N = s.params[j] - s.params[S];
    const double vN = 0.04 + 0.05 - 2 * 0.01;
    const double cN = j == 2 ? 0.01 : -0.01;
    for (int k = 1; k <= 3; ++k) {
      const auto [lo, hi] = quadratic_limits(N, 2.0, vN, 0.05, cN, s.conf_deviates[k]);
      EXPECT_NEAR(lo, s.rp_lower[k][j], kRoundoff);
      EXPECT_NEAR(hi, s.rp_upper[k][j], kRoundoff);
      // The reference's own row: M = 0 with no variance and no width.
      EXPECT_EQ(0.0, s.rp_lower[k][S]);
      EXPECT_EQ(0.0, s.rp_upper[k][S]);
    }
    const double M = N / 2.0;
    EXPECT_NEAR((vN - 2 * M * cN + M * M * 0.05) / 4.0, s.rp_var[j], kRoundoff);
    EXPECT_EQ(0.0, s.rp_var[S]);
  }
}

TEST(RelativePotency, MeanCentredFormTreatsInterceptsAsIndependent) {
  StageFixture fx;
  prepare(fx, 2);
  AnalysisState& s = fx.state();
  s.het_factor = 1.5;  // the numerator variance carries the factor
  compute_relative_potencies(s, 1);
  // alpha_j = a_j + b xbar_j; log potency = (alpha_2 - alpha_1)/b + xbar_1 - xbar_2.
  const double Nc = (-0.4 + 2.0 * 0.3) - (-1.0 + 2.0 * 0.45);
  const double vN = 1.5 * (1.0 / 30.0 + 1.0 / 25.0);
  for (int k = 1; k <= 3; ++k) {
    const auto [lo, hi] = quadratic_limits(Nc, 2.0, vN, 0.05, 0.0, s.conf_deviates[k]);
    EXPECT_NEAR(lo + 0.15, s.rp_lower[k][2], kRoundoff);
    EXPECT_NEAR(hi + 0.15, s.rp_upper[k][2], kRoundoff);
  }
  // The reference's own row: variance 2 het / sum_w / b^2 and limits on
  // either side of 0.
  EXPECT_NEAR(1.5 * 2.0 / 30.0 / 4.0, s.rp_var[1], kRoundoff);
  EXPECT_LT(s.rp_lower[2][1], 0.0);
  EXPECT_GT(s.rp_upper[2][1], 0.0);
}

TEST(RelativePotencyReference, AgreesWithIndependentFiellerComputation) {
  const auto& ref = testing::ReferenceValues::get();
  if (!ref.has("budworm.d1.m1.common", "b")) GTEST_SKIP() << "reference values not present";
  const char* tags[4] = {"", "90", "95", "99"};
  const char* cases[] = {"budworm.d1.m1.common", "budworm.d2.m1.common", "budworm.d3.m1.common",
                         "budworm.d1.m2.common"};
  const int models[] = {1, 1, 1, 2};
  for (int c = 0; c < 4; ++c) {
    const std::string name = cases[c];
    for (int method = 1; method <= 2; ++method) {
      for (const char* variant : {"z", "t"}) {
        const bool t_dev = std::string(variant) == "t";
        StageFixture fx;
        const double het = t_dev ? ref.at(name, "hetfac_pearson") : 1.0;
        ASSERT_TRUE(testing::load_reference_fit(fx, name, 2, c < 3 ? c + 1 : 1, models[c], het));
        AnalysisState& s = fx.state();
        s.variance_method = method;
        alloc_potency_arrays(s);
        compute_deviates(s, s.conf_alpha, s.conf_deviates);
        if (t_dev)
          for (int k = 1; k <= 3; ++k) s.conf_deviates[k] = ref.at(name, std::string("tdev") + tags[k]);
        const std::string cov = method == 1 ? "obs" : "fnm";
        for (int S = 1; S <= 2; ++S) {
          compute_relative_potencies(s, S);
          for (int j = 1; j <= 2; ++j) {
            const std::string pre = "rp" + std::to_string(S);
            const std::string js = "_" + std::to_string(j);
            const std::string what = name + " " + pre + " " + cov + variant + js;
            const double M = ref.at(name, pre + "_log" + js);
            EXPECT_NEAR(M, s.rp_log[j], kSixDigits * std::max(1.0, std::fabs(M))) << what;
            const double var = het * ref.at(name, pre + "_var_" + cov + js);
            EXPECT_NEAR(var, s.rp_var[j], kSixDigits * std::fabs(var) + 1e-300) << what;
            for (int k = 1; k <= 3; ++k) {
              const std::string tail = tags[k] + ("_" + cov + "_" + variant + js);
              const double lo = ref.at(name, pre + "_lo" + tail);
              const double hi = ref.at(name, pre + "_hi" + tail);
              if (lo <= -99.0) {
                EXPECT_EQ(-99.0, s.rp_lower[k][j]) << what;
                EXPECT_EQ(99.0, s.rp_upper[k][j]) << what;
              } else {
                EXPECT_NEAR(lo, s.rp_lower[k][j], kSixDigits * std::max(1.0, std::fabs(lo))) << what;
                EXPECT_NEAR(hi, s.rp_upper[k][j], kSixDigits * std::max(1.0, std::fabs(hi))) << what;
              }
            }
          }
        }
      }
    }
  }
}

TEST(RelativePotency, ZeroSlopeShowsNoticesInPlaceOfRows) {
  // Enter picks preparation 1; "y" was answered earlier, so three levels
  // with a pause between them, then q.
  StageFixture fx("\nx\nx\nq\n");
  HandFit h = two_preps();
  h.b = 0.0;
  load_hand_fit(fx, h);
  AnalysisState& s = fx.state();
  alloc_potency_arrays(s);
  compute_deviates(s, s.conf_alpha, s.conf_deviates);
  s.show_90_99 = 1;
  relative_potency_dialogue(s, fx.answers());
  const std::string notice = "  Relative potencies are not available for this fit (zero slope).\n";
  std::string expected =
      "Asymptotic Variance for Log(Rho)\n"
      " #       Log(Rho)     Variance    Std.Error  Preparation\n" +
      notice + "\nRelative Potency Estimates (Rho)\n";
  for (const char* level : {"90", "95", "99"})
    expected += strprintf(" #      Rho  (%s%% Limits)                   Log(Rho) (%s%% Limits)  "
                          "Preparation\n%s\n",
                          level, level, notice.c_str());
  EXPECT_EQ(expected, fx.report());
  EXPECT_EQ(4, count_of(fx.screen(), notice));
  EXPECT_EQ("", std::string(fx.console().unread()));
}

}  // namespace
}  // namespace varnalo
