// Natural response, immunity and preference rows for models 1-8.
#include "potency/natural_rates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/model_form.h"
#include "support/hand_fit.h"
#include "support/reference_data.h"

namespace varnalo {
namespace {

using testing::count_of;
using testing::StageFixture;

constexpr const char* kTitle = "Natural Response and Immunity Rate Estimates\n";
constexpr const char* kHead95 = " #       Proportion (95% Limits)      Description\n";
// C = 0.1 with standard error 0.1: the lower limit 0.1 - 1.95996 * 0.1 is
// negative and shows as 0; the upper one is 0.295996.
constexpr const char* kCRow = " C       0.100000(0.000000,0.295996)  Natural Response Rate\n";
// D = 0.2 with standard error 0.05: 0.2 -+ 0.097998.
constexpr const char* kDRow = " D       0.200000(0.102002,0.297998)  Natural Immunity Rate\n";
constexpr const char* kFixedRows =
    " C       0.500000                     Fixed Preference\n"
    " C/(1-C) 1.000000                     Fixed Bias\n";
// Bias x / (1 - x) of 0.1, 0 and 0.295996.
constexpr const char* kPreferenceRows =
    " C       0.100000(0.000000,0.295996)  Natural Preference\n"
    " C/(1-C) 0.111111(0.000000,0.420446)  Natural Bias\n";

// One preparation, model m, C = 0.1 (se 0.1) and D = 0.2 (se 0.05) where the
// model estimates them, in the common-slope layout; both methods see the
// same matrix.
void run_model(StageFixture& fx, int model, int show_90_99 = 0) {
  fx.set_groups({{{0.0, 10.0, 5.0}}});
  fx.begin_fit(1, model, 1);
  AnalysisState& s = fx.state();
  s.params[1] = -1.0;
  s.params[2] = 2.0;
  s.fixed_c = 0.5;
  s.het_factor = 1.0;
  s.show_90_99 = show_90_99;
  const bool d_first = model == 3 || model == 7;
  const bool two = model == 4 || model == 8;
  if (model_form(s).extra_count() >= 1) {
    s.params[3] = d_first ? 0.2 : 0.1;
    s.fit_cov[3][3] = s.info_cov[3][3] = d_first ? 0.0025 : 0.01;
  }
  if (two) {
    s.params[4] = 0.2;
    s.fit_cov[4][4] = s.info_cov[4][4] = 0.0025;
  }
  natural_rates_report(s, fx.answers());
}

TEST(NaturalRates, ModelOnePrintsNothing) {
  StageFixture fx;
  run_model(fx, 1);
  EXPECT_EQ("", fx.screen());
  EXPECT_EQ("", fx.report());
}

TEST(NaturalRates, RowsOfModelsTwoToEight) {
  const std::string title_head = std::string(kTitle) + kHead95;
  const std::string expected[9] = {
      "",
      "",
      title_head + kCRow + "\n",
      title_head + kDRow + "\n",
      title_head + kCRow + kDRow + "\n",
      title_head + kFixedRows + "\n",
      title_head + kPreferenceRows + "\n",
      title_head + kFixedRows + kDRow + "\n",
      title_head + kPreferenceRows + kDRow + "\n",
  };
  for (int model = 2; model <= 8; ++model) {
    for (int method = 1; method <= 2; ++method) {
      StageFixture fx;
      fx.state().variance_method = method;
      run_model(fx, model);
      EXPECT_EQ(expected[model], fx.screen()) << "model " << model;
      EXPECT_EQ(expected[model], fx.report()) << "model " << model;
    }
  }
}

TEST(NaturalRates, ThreeLevelsPauseAfterEveryBlock) {
  StageFixture fx("a\nb\nc\n!");
  run_model(fx, 5, 1);
  EXPECT_EQ("!", std::string(fx.console().unread()));
  const std::string sc = fx.screen();
  EXPECT_EQ(3, count_of(sc, kFixedRows));
  const std::size_t p90 = sc.find("(90% Limits)");
  const std::size_t p95 = sc.find("(95% Limits)");
  const std::size_t p99 = sc.find("(99% Limits)");
  ASSERT_NE(std::string::npos, p99);
  EXPECT_LT(p90, p95);
  EXPECT_LT(p95, p99);
  // The report closes every block with a blank line; the screen does not.
  EXPECT_EQ(3, count_of(fx.report(), std::string(kFixedRows) + "\n"));
  EXPECT_EQ(0, count_of(sc, std::string(kFixedRows) + "\n"));
}

TEST(NaturalRates, UpperLimitIsNotCappedAtOne) {
  StageFixture fx;
  fx.set_groups({{{0.0, 10.0, 5.0}}});
  fx.begin_fit(1, 2, 1);
  AnalysisState& s = fx.state();
  s.params[1] = 0.0;
  s.params[2] = 1.0;
  s.params[3] = 0.6;
  s.fit_cov[3][3] = 0.09;  // se 0.3: 0.6 + 1.95996 * 0.3 = 1.187988
  natural_rates_report(s, fx.answers());
  EXPECT_NE(std::string::npos,
            fx.screen().find(" C       0.600000(0.012012,1.187988)  Natural Response Rate\n"));
}

// Wald limits against the reference values (R), printed to six decimals.
TEST(NaturalRatesReference, AgreesWithIndependentWaldLimits) {
  const auto& ref = testing::ReferenceValues::get();
  if (!ref.has("beetle_c.d1.m4.common", "b")) GTEST_SKIP() << "reference values not present";
  // Six printed decimals: half a unit in the last place plus rounding.
  constexpr double kPrinted = 6e-7;
  for (int method = 1; method <= 2; ++method) {
    StageFixture fx;
    ASSERT_TRUE(testing::load_reference_fit(fx, "beetle_c.d1.m4.common", 1, 1, 4, 1.0));
    fx.state().variance_method = method;
    natural_rates_report(fx.state(), fx.answers());
    const std::string cov = method == 1 ? "obs" : "fin";
    const std::string sc = fx.screen();
    for (const char* name : {"C", "D"}) {
      const std::size_t at = sc.find(std::string(" ") + name + "       ");
      ASSERT_NE(std::string::npos, at);
      double est = 0, lo = 0, hi = 0;
      ASSERT_EQ(3, std::sscanf(sc.c_str() + at + 9, "%lf(%lf,%lf)", &est, &lo, &hi));
      EXPECT_NEAR(ref.at("beetle_c.d1.m4.common", name), est, kPrinted);
      EXPECT_NEAR(ref.at("beetle_c.d1.m4.common", std::string(name) + "_lo95_" + cov + "_z"), lo,
                  kPrinted);
      EXPECT_NEAR(ref.at("beetle_c.d1.m4.common", std::string(name) + "_hi95_" + cov + "_z"), hi,
                  kPrinted);
    }
  }
}

// Variances that cannot give limits, and bias limits that are unbounded.
TEST(NaturalRates, UnusableVariancesShowDashes) {
  // Model 2 with a negative and with an undefined variance of C.
  for (double varc : {-0.01, std::nan("")}) {
    StageFixture fx;
    fx.set_groups({{{0.0, 10.0, 5.0}}});
    fx.begin_fit(1, 2, 1);
    AnalysisState& s = fx.state();
    s.params[1] = -1.0;
    s.params[2] = 2.0;
    s.params[3] = 0.1;
    s.het_factor = 1.0;
    s.fit_cov[3][3] = varc;
    natural_rates_report(s, fx.answers());
    EXPECT_EQ(std::string(kTitle) + kHead95 +
                  " C       0.100000(       -,       -)  Natural Response Rate\n\n",
              fx.report())
        << varc;
  }
  // Model 8: the preference and bias rows lose their limits, D keeps its.
  StageFixture fx;
  fx.set_groups({{{0.0, 10.0, 5.0}}});
  fx.begin_fit(1, 8, 1);
  AnalysisState& s = fx.state();
  s.params[1] = -1.0;
  s.params[2] = 2.0;
  s.params[3] = 0.1;
  s.params[4] = 0.2;
  s.het_factor = 1.0;
  s.fit_cov[3][3] = HUGE_VAL;
  s.fit_cov[4][4] = 0.0025;
  natural_rates_report(s, fx.answers());
  EXPECT_EQ(std::string(kTitle) + kHead95 +
                " C       0.100000(       -,       -)  Natural Preference\n"
                " C/(1-C) 0.111111(       -,       -)  Natural Bias\n" +
                kDRow + "\n",
            fx.report());
}

TEST(NaturalRates, BiasAtOrAboveAProportionOfOneIsUnbounded) {
  // Model 6, C = 0.5 with standard error 0.3: upper limit
  // 0.5 + 1.95996 * 0.3 = 1.087988, whose bias has no finite value.
  StageFixture fx;
  fx.set_groups({{{0.0, 10.0, 5.0}}});
  fx.begin_fit(1, 6, 1);
  AnalysisState& s = fx.state();
  s.params[1] = 0.0;
  s.params[2] = 1.0;
  s.params[3] = 0.5;
  s.het_factor = 1.0;
  s.fit_cov[3][3] = 0.09;
  natural_rates_report(s, fx.answers());
  EXPECT_EQ(std::string(kTitle) + kHead95 +
                " C       0.500000(0.000000,1.087988)  Natural Preference\n"
                " C/(1-C) 1.000000(0.000000,       +)  Natural Bias\n\n",
            fx.report());
  // Model 5 with a known preference of 1.
  StageFixture fixed;
  fixed.set_groups({{{0.0, 10.0, 5.0}}});
  fixed.begin_fit(1, 5, 1);
  fixed.state().fixed_c = 1.0;
  fixed.state().het_factor = 1.0;
  natural_rates_report(fixed.state(), fixed.answers());
  EXPECT_NE(std::string::npos,
            fixed.report().find(" C/(1-C)        +                     Fixed Bias\n"));
}

}  // namespace
}  // namespace varnalo
