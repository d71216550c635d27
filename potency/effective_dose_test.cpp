// Effective doses: the deviates block, the 90/99 question, the ED dialogue,
// the four row forms, and agreement with the reference Fieller limits.
#include "potency/effective_dose.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "foundation/output.h"
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

// The fixed normal deviates of the 90, 95 and 99 per cent levels.
constexpr double kZ[4] = {0.0, 1.64485, 1.95996, 2.57583};
// Agreement asked of effective doses and their limits: 6 significant
// digits (half a unit in the sixth digit, log doses of order 1).
constexpr double kSixDigits = 5e-7;
// The t quantile search stops within about 1e-5 of the exact quantile.
constexpr double kTQuantileTol = 2e-5;

// One Normal preparation: a = -1, b = 2, so ED50 has log dose 0.5.
HandFit one_prep() { return {{-1.0}, 2.0, {{0.04, -0.03}, {-0.03, 0.05}}, {30.0}, {0.45}}; }

std::string expected_row_95(double a, double b, double vaa, double vab, double vbb, double y) {
  const double m = (y - a) / b;
  const auto [L, U] = quadratic_limits(y - a, b, vaa, vbb, -vab, kZ[2]);
  return strprintf("%2d %-10.5e(%-10.5e,%-10.5e)%8.5f(%8.5f,%8.5f) %s\n", 1, std::pow(10.0, m),
                   std::pow(10.0, L), std::pow(10.0, U), m, L, U, "P1");
}

TEST(Deviates, NormalFormatShowsUAndG) {
  StageFixture fx("\nq\n");
  load_hand_fit(fx, one_prep());
  alloc_potency_arrays(fx.state());
  effective_dose_dialogue(fx.state(), fx.answers());
  std::string expected = "Normal or t-Deviates (Both Tails) and Index of Regression Significance, g\n";
  const char* alphas[4] = {"", " 0.100", " 0.050", " 0.010"};
  for (int k = 1; k <= 3; ++k)
    expected += strprintf("  u (%s) = %.6f,  g (%s) = %.6f\n", alphas[k], kZ[k], alphas[k],
                          kZ[k] * kZ[k] * 0.05 / 4.0);
  expected += "\n";
  EXPECT_EQ(0u, fx.screen().find(expected));
  EXPECT_EQ(0u, fx.report().find(expected));
}

TEST(Deviates, TFormatShowsDegreesOfFreedomAndWarnsWhenGReachesOne) {
  // het_factor 4 with 4 heterogeneity degrees of freedom; slope variance
  // large enough for g >= 1 at every level: Vbb = 1, b = 2 gives
  // g = t^2 / 4 with t >= 2.13.
  StageFixture fx("\n\nq\n");
  HandFit h = one_prep();
  h.V = {{0.04, -0.03}, {-0.03, 1.0}};
  load_hand_fit(fx, h);
  AnalysisState& s = fx.state();
  s.het_factor = 4.0;
  s.sep_df = 4.0;
  alloc_potency_arrays(s);
  effective_dose_dialogue(s, fx.answers());
  const std::string screen = fx.screen();
  // Two-tailed t quantiles with 4 degrees of freedom.
  const double exact[4] = {0.0, 2.131846786, 2.776445105, 4.604094871};
  const char* alphas[4] = {"", " 0.100", " 0.050", " 0.010"};
  std::size_t at = 0;
  for (int k = 1; k <= 3; ++k) {
    const std::string head = strprintf("  t ( 4,%s) = ", alphas[k]);
    at = screen.find(head, at);
    ASSERT_NE(std::string::npos, at) << head;
    const double t = std::strtod(screen.c_str() + at + head.size(), nullptr);
    EXPECT_NEAR(exact[k], t, kTQuantileTol);
    const std::string warn =
        strprintf("  Since g (%s) exceeded 1.0, the potency estimates are unreliable.\n", alphas[k]);
    EXPECT_NE(std::string::npos, screen.find(warn, at)) << warn;
  }
  // g >= 1 at 95 per cent: the ED50 row shows both fillers.
  EXPECT_NE(std::string::npos,
            screen.find("(    -     ,    +     ) 0.50000(   -     ,    +     ) P1\n"));
}

TEST(Deviates, MissingTDegreesOfFreedomFallBackToNormalDeviates) {
  StageFixture fx;
  load_hand_fit(fx, one_prep());
  AnalysisState& s = fx.state();
  s.het_factor = 2.5;
  s.sep_df = 0.0;
  DVector alpha = dvector(1, 3), dev = dvector(1, 3);
  alpha[1] = 0.10;
  alpha[2] = 0.05;
  alpha[3] = 0.01;
  compute_deviates(s, alpha, dev);
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(kZ[k], dev[k]);
}

TEST(NinetyNinetyNine, TheAnswerIsTheFirstCharacterOfItsLine) {
  // "n", "no" or Enter: the whole line is the answer, so the "q" on the next
  // line ends the dialogue at once.
  for (const char* input : {"n\nq\n", "no\nq\n", "\nq\n", "nein\r\nq\n"}) {
    StageFixture fx(input);
    load_hand_fit(fx, one_prep());
    alloc_potency_arrays(fx.state());
    effective_dose_dialogue(fx.state(), fx.answers());
    EXPECT_EQ(0, fx.state().show_90_99);
    EXPECT_NE(std::string::npos,
              fx.screen().find("Display 90 and 99% Limits in addition to 95% Limits?\n  [*/y]  \n"));
    EXPECT_EQ(0, count_of(fx.screen(), "Effective Dose Estimates\n")) << input;
    EXPECT_EQ("", std::string(fx.console().unread())) << input;
  }
  // "y" or "yes": three levels with a pause between them.
  for (const char* input : {"y\n\nx\nx\nq\n", "yes\n\n\n\nq\n"}) {
    StageFixture fx(input);
    load_hand_fit(fx, one_prep());
    alloc_potency_arrays(fx.state());
    effective_dose_dialogue(fx.state(), fx.answers());
    EXPECT_EQ(1, fx.state().show_90_99);
    const std::string sc = fx.screen();
    const std::size_t p90 = sc.find("(90% Limits)");
    const std::size_t p95 = sc.find("(95% Limits)");
    const std::size_t p99 = sc.find("(99% Limits)");
    ASSERT_NE(std::string::npos, p99);
    EXPECT_LT(p90, p95);
    EXPECT_LT(p95, p99);
    EXPECT_EQ("", std::string(fx.console().unread()));
  }
}

TEST(EdDialogue, EnterGivesEd50WithFiellerLimits) {
  StageFixture fx("\n\nq\n");
  load_hand_fit(fx, one_prep());
  alloc_potency_arrays(fx.state());
  effective_dose_dialogue(fx.state(), fx.answers());
  const std::string sc = fx.screen();
  EXPECT_NE(std::string::npos,
            sc.find("Effective Dose Estimation   (#: ED Level, t: Table of EDs, q: to Exit)\n"
                    "  [0.50] Current ED Level\n  [*/#/t/q]  \nEffective Dose Estimates\n"));
  EXPECT_NE(std::string::npos, sc.find("    ED50 (95% Limits)"));
  EXPECT_NE(std::string::npos, sc.find(expected_row_95(-1.0, 2.0, 0.04, -0.03, 0.05, 0.0)));
  // The report gets the title, header and its own row form, not the prompts.
  const std::string rep = fx.report();
  EXPECT_NE(std::string::npos, rep.find("Effective Dose Estimates\n"));
  EXPECT_EQ(std::string::npos, rep.find("[*/#/t/q]"));
}

TEST(EdDialogue, TableShowsSevenLevelsAndResetsTheLevel) {
  StageFixture fx("\n0.3\nt\nq\n");
  load_hand_fit(fx, one_prep());
  alloc_potency_arrays(fx.state());
  effective_dose_dialogue(fx.state(), fx.answers());
  const std::string sc = fx.screen();
  EXPECT_NE(std::string::npos, sc.find("    ED30 (95% Limits)"));
  const std::size_t table = sc.find("  [0.30] Current ED Level\n  [*/#/t/q]  \nEffective Dose");
  ASSERT_NE(std::string::npos, table);
  const char* labels[] = {"     ED1", "     ED5", "    ED10", "    ED50",
                          "    ED90", "    ED95", "    ED99"};
  std::size_t at = table;
  for (const char* label : labels) {
    at = sc.find(std::string(" #  ") + label + " (95% Limits)", at);
    ASSERT_NE(std::string::npos, at) << label;
  }
  EXPECT_EQ(7, count_of(sc.substr(table), "(95% Limits)") / 2);
  EXPECT_NE(std::string::npos, sc.find("  [0.50] Current ED Level", at));
  EXPECT_EQ(0.5, fx.state().ed_level);
  // ED99 of the Normal: Y = 2.326348; m = (Y + 1) / 2.
  const double y99 = 2.3263478740;
  EXPECT_NE(std::string::npos, sc.find(strprintf("%8.5f(", (y99 + 1.0) / 2.0)));
}

TEST(EdDialogue, LevelBoundsAndARejectedValueStaysRejected) {
  StageFixture fx("\n0.995\n\n0.005\n0.99\n0.01\nabc\nq\n");
  load_hand_fit(fx, one_prep());
  alloc_potency_arrays(fx.state());
  effective_dose_dialogue(fx.state(), fx.answers());
  const std::string sc = fx.screen();
  // 0.995, Enter (still 0.995) and 0.005 are refused with the bare prompt;
  // 0.99 then gives ED99, and 0.01 ED1.
  EXPECT_NE(std::string::npos,
            sc.find("  [0.50] Current ED Level\n  [*/#/t/q]  \n  [*/#/t/q]  \n  [*/#/t/q]  \n"
                    "  [*/#/t/q]  \nEffective Dose Estimates\n"));
  const std::size_t ed99 = sc.find("    ED99 (95% Limits)");
  const std::size_t ed1 = sc.find("     ED1 (95% Limits)");
  ASSERT_NE(std::string::npos, ed99);
  ASSERT_NE(std::string::npos, ed1);
  EXPECT_LT(ed99, ed1);
  // "abc" reads as 0 and is refused: the prompt comes again with no table.
  EXPECT_NE(std::string::npos, sc.find("  [0.01] Current ED Level\n  [*/#/t/q]  \n  [*/#/t/q]  \n"));
  EXPECT_EQ(2, count_of(sc, "Effective Dose Estimates\n"));
}

TEST(EdDialogue, NotANumberIsRefused) {
  StageFixture fx("\nnan\nq\n");
  load_hand_fit(fx, one_prep());
  alloc_potency_arrays(fx.state());
  effective_dose_dialogue(fx.state(), fx.answers());
  EXPECT_EQ(0, count_of(fx.screen(), "Effective Dose Estimates\n"));
}

// The four row forms, screen and report (expected texts written out).
TEST(LimitsRows, PresentAndMissingLimitForms) {
  StageFixture fx;
  HandFit h{{0.0, 0.0, 0.0, 0.0}, 1.0, {}, {1, 1, 1, 1}, {0, 0, 0, 0}};
  h.V.assign(5, std::vector<double>(5, 0.0));
  load_hand_fit(fx, h, {"Alpha", "Beta", "Gamma", "Delta"});
  AnalysisState& s = fx.state();
  alloc_potency_arrays(s);
  const double m = 0.30103;
  const double lowers[] = {0.2, 0.2, -99.0, -99.0};
  const double uppers[] = {0.4, 99.0, 0.4, 99.0};
  for (int j = 1; j <= 4; ++j) {
    s.ed_log[j] = m;
    s.ed_lower[2][j] = lowers[j - 1];
    s.ed_upper[2][j] = uppers[j - 1];
  }
  print_limits_rows(s, 2, s.ed_log, s.ed_lower, s.ed_upper);
  EXPECT_EQ(
      " 1 2.00000e+00(1.58489e+00,2.51189e+00) 0.30103( 0.20000, 0.40000) Alpha\n"
      " 2 2.00000e+00(1.58489e+00,    +     ) 0.30103( 0.20000,    +     ) Beta\n"
      " 3 2.00000e+00(    -     ,2.51189e+00) 0.30103(    -     , 0.40000) Gamma\n"
      " 4 2.00000e+00(    -     ,    +     ) 0.30103(   -     ,    +     ) Delta\n",
      fx.screen());
  EXPECT_EQ(
      " 1 2.0000e+00(1.5849e+00,2.5119e+00)  0.30103( 0.20000, 0.40000)  Alpha\n"
      " 2 2.00000e+00(1.58489e+00,    +     ) 0.30103( 0.20000,    +     ) Beta\n"
      " 3 2.00000e+00(    -     ,2.51189e+00) 0.30103(    -     , 0.40000) Gamma\n"
      " 4 2.00000e+00(   -      ,    +     ) 0.30103(   -     ,    +     ) Delta\n",
      fx.report());
}

// Effective doses, variances and limits against the reference computation
// (R: Fieller quadratic on the reference covariances), for both variance
// methods, normal and t deviates, all seven standard levels.
struct RefCase {
  const char* name;
  int nprep, distribution, model;
};

constexpr RefCase kRefCases[] = {
    {"rotenone.d1.m1.common", 1, 1, 1}, {"rotenone.d2.m1.common", 1, 2, 1},
    {"rotenone.d3.m1.common", 1, 3, 1}, {"budworm.d1.m1.common", 2, 1, 1},
    {"budworm.d2.m1.common", 2, 2, 1},  {"budworm.d3.m1.common", 2, 3, 1},
    {"rotenone.d1.m2.common", 1, 1, 2}, {"beetle_c.d2.m4.common", 1, 2, 4},
};

void expect_digits(double expected, double actual, const std::string& what) {
  EXPECT_NEAR(expected, actual, kSixDigits * std::max(1.0, std::fabs(expected))) << what;
}

TEST(EffectiveDoseReference, AgreesWithIndependentFiellerComputation) {
  const auto& ref = testing::ReferenceValues::get();
  if (!ref.has("rotenone.d1.m1.common", "b")) GTEST_SKIP() << "reference values not present";
  const char* tags[4] = {"", "90", "95", "99"};
  const double levels[] = {0.01, 0.05, 0.10, 0.50, 0.90, 0.95, 0.99};
  int checked_missing = 0;
  for (const RefCase& c : kRefCases) {
    for (int method = 1; method <= 2; ++method) {
      for (const char* variant : {"z", "t"}) {
        const bool t_dev = std::string(variant) == "t";
        StageFixture fx;
        const double het = t_dev ? ref.at(c.name, "hetfac_pearson") : 1.0;
        ASSERT_TRUE(testing::load_reference_fit(fx, c.name, c.nprep, c.distribution, c.model, het))
            << c.name;
        AnalysisState& s = fx.state();
        s.variance_method = method;
        alloc_potency_arrays(s);
        compute_deviates(s, s.conf_alpha, s.conf_deviates);
        if (t_dev)
          for (int k = 1; k <= 3; ++k)
            s.conf_deviates[k] = ref.at(c.name, std::string("tdev") + tags[k]);
        const std::string cov = method == 1 ? "obs" : "fnm";
        for (double p : levels) {
          compute_effective_doses(s, p);
          const std::string lab = "ed" + std::to_string(std::lround(100 * p));
          for (int j = 1; j <= c.nprep; ++j) {
            const std::string js = "_" + std::to_string(j);
            const std::string what = std::string(c.name) + " " + lab + " " + cov + variant + js;
            expect_digits(ref.at(c.name, lab + "_log" + js), s.ed_log[j], what);
            const double var = het * ref.at(c.name, lab + "_var_" + cov + js);
            EXPECT_NEAR(var, s.ed_var[j], kSixDigits * std::fabs(var)) << what;
            for (int k = 1; k <= 3; ++k) {
              const std::string tail = tags[k] + ("_" + cov + "_" + variant + js);
              const double lo = ref.at(c.name, lab + "_lo" + tail);
              const double hi = ref.at(c.name, lab + "_hi" + tail);
              if (lo <= -99.0) {
                EXPECT_EQ(-99.0, s.ed_lower[k][j]) << what;
                EXPECT_EQ(99.0, s.ed_upper[k][j]) << what;
                ++checked_missing;
              } else {
                expect_digits(lo, s.ed_lower[k][j], what + " lo" + tags[k]);
                expect_digits(hi, s.ed_upper[k][j], what + " hi" + tags[k]);
              }
            }
          }
        }
      }
    }
  }
  EXPECT_GT(checked_missing, 0) << "no case with g >= 1 was exercised";
}

// A zero slope (the simplex cannot move a starting slope of exactly 0 on
// data without responses): g cannot be formed and no effective dose exists.
constexpr const char* kNoEdNotice =
    "  Effective doses are not available for this fit (zero slope).\n";

HandFit zero_slope() { return {{-1.0}, 0.0, {{0.04, -0.03}, {-0.03, 0.05}}, {30.0}, {0.45}}; }

TEST(ZeroSlope, DeviatesBlockShowsADashAndTheWarning) {
  const char* alphas[4] = {"", " 0.100", " 0.050", " 0.010"};
  const char* deviates[4] = {"", "1.644850", "1.959960", "2.575830"};
  // A positive slope variance makes g infinite; a zero one makes it 0/0.
  for (double vbb : {0.05, 0.0}) {
    StageFixture fx("\nq\n");
    HandFit h = zero_slope();
    h.V[1][1] = vbb;
    load_hand_fit(fx, h);
    alloc_potency_arrays(fx.state());
    effective_dose_dialogue(fx.state(), fx.answers());
    std::string expected =
        "Normal or t-Deviates (Both Tails) and Index of Regression Significance, g\n";
    for (int k = 1; k <= 3; ++k)
      expected += strprintf(
          "  u (%s) = %s,  g (%s) =        -\n"
          "  Since g (%s) exceeded 1.0, the potency estimates are unreliable.\n",
          alphas[k], deviates[k], alphas[k], alphas[k]);
    expected += "\n";
    EXPECT_EQ(0u, fx.screen().find(expected)) << "Vbb " << vbb;
    EXPECT_EQ(expected, fx.report()) << "Vbb " << vbb;
  }
  // The t form: 4 degrees of freedom, t(0.05) = 2.776445 to six decimals.
  StageFixture fx("\nq\n");
  load_hand_fit(fx, zero_slope());
  AnalysisState& s = fx.state();
  s.het_factor = 4.0;
  s.sep_df = 4.0;
  alloc_potency_arrays(s);
  effective_dose_dialogue(s, fx.answers());
  EXPECT_NE(std::string::npos, fx.report().find(",  g ( 0.050) =        -\n"
                                                "  Since g ( 0.050) exceeded 1.0,"));
  EXPECT_EQ(std::string::npos, fx.report().find("inf"));
}

TEST(ZeroSlope, EdTablesKeepTheirHeadingsAndShowTheNotice) {
  // Enter at the 90/99 question, ED50, the table of seven levels, then q.
  StageFixture fx("\n\nt\nq\n");
  load_hand_fit(fx, zero_slope());
  alloc_potency_arrays(fx.state());
  effective_dose_dialogue(fx.state(), fx.answers());
  const std::string report = fx.report();
  EXPECT_NE(std::string::npos,
            report.find("Effective Dose Estimates\n"
                        " #      ED50 (95% Limits)                  Log(ED50) (95% Limits)  "
                        "Preparation\n" +
                        std::string(kNoEdNotice) + "\n"));
  EXPECT_EQ(8, count_of(report, kNoEdNotice));  // ED50, then the seven levels
  EXPECT_EQ(8, count_of(fx.screen(), kNoEdNotice));
  EXPECT_EQ(0, count_of(report, " 1 "));  // no row
  for (const char* bad : {"inf", "nan"}) {
    EXPECT_EQ(std::string::npos, report.find(bad)) << bad;
    EXPECT_EQ(std::string::npos, fx.screen().find(bad)) << bad;
  }
}

TEST(ZeroSlope, AnswersAreReadAsForAnyFit) {
  // "y": three levels with a pause between them; the whole script is
  // consumed exactly as with a usable slope.
  StageFixture fx("y\n\nx\nx\nq\n");
  load_hand_fit(fx, zero_slope());
  alloc_potency_arrays(fx.state());
  effective_dose_dialogue(fx.state(), fx.answers());
  EXPECT_EQ(3, count_of(fx.report(), kNoEdNotice));
  EXPECT_EQ("", std::string(fx.console().unread()));
}

TEST(ZeroSlope, OverflowingDosesAreReportedAsNotFinite) {
  // b = 1e-300: m = 1e300 is a number but 10^m is not.
  StageFixture fx("\n\nq\n");
  HandFit h = zero_slope();
  h.b = 1e-300;
  load_hand_fit(fx, h);
  alloc_potency_arrays(fx.state());
  effective_dose_dialogue(fx.state(), fx.answers());
  EXPECT_EQ(1, count_of(fx.report(),
                        "  Effective doses are not available for this fit (estimates not "
                        "finite).\n"));
  EXPECT_EQ(std::string::npos, fx.report().find("inf"));
}

TEST(LimitsRows, LimitsThatAreNotNumbersShowAsFillers) {
  StageFixture fx;
  load_hand_fit(fx, one_prep());
  AnalysisState& s = fx.state();
  alloc_potency_arrays(s);
  s.ed_log[1] = 0.5;
  s.ed_lower[2][1] = HUGE_VAL;  // above the lower sentinel, yet no limit
  s.ed_upper[2][1] = 0.6;
  print_limits_rows(s, 2, s.ed_log, s.ed_lower, s.ed_upper);
  EXPECT_EQ(" 1 3.16228e+00(    -     ,3.98107e+00) 0.50000(    -     , 0.60000) P1\n",
            fx.report());
}

}  // namespace
}  // namespace varnalo

namespace varnalo {
namespace {

// Each preparation's own line of the separate-slopes fit: m = (y - a_j) /
// b_j with Fieller limits from that line's variances, multiplied by the
// heterogeneity factor, at the deviates of the common-slope table; the
// method-2 form from the line's own sum of weights and mean log dose.
TEST(SeparateSlopes, EachLineHasItsOwnFiellerLimits) {
  for (int method = 1; method <= 2; ++method) {
    StageFixture fx;
    fx.set_groups({{{0.5, 10, 3}}, {{0.5, 10, 3}}});
    AnalysisState& s = fx.state();
    s.distribution = 1;
    s.variance_method = method;
    s.het_factor = 4.0;
    alloc_potency_arrays(s);
    const double t[4] = {0.0, 2.1, 2.8, 4.6};  // t deviates of some heterogeneity DF
    for (int k = 1; k <= 3; ++k) s.conf_deviates[k] = t[k];
    s.sep_params = dvector(1, 6);
    s.sep_cov = matrix(1, 6, 1, 6);
    s.sep_sum_w = dvector(1, 2);
    s.sep_mean_x = dvector(1, 2);
    // a1 = -1, a2 = 0.5, b1 = 4, b2 = 1.5.
    const double a[3] = {0.0, -1.0, 0.5}, b[3] = {0.0, 4.0, 1.5};
    const double vaa[3] = {0.0, 0.02, 0.05}, vbb[3] = {0.0, 0.03, 0.01}, vab[3] = {0.0, -0.01, 0.004};
    for (int j = 1; j <= 2; ++j) {
      s.sep_params[j] = a[j];
      s.sep_params[2 + j] = b[j];
      s.sep_cov[j][j] = vaa[j];
      s.sep_cov[2 + j][2 + j] = vbb[j];
      s.sep_cov[j][2 + j] = s.sep_cov[2 + j][j] = vab[j];
      s.sep_sum_w[j] = 1.0 / vaa[j];
      s.sep_mean_x[j] = 0.1 * j;
    }
    const double y = 1.2815515655446004;  // the normal quantile of 0.9
    // The program's normal quantile is good to about 1e-9.
    constexpr double kQuantileTol = 1e-8;
    compute_separate_effective_doses(s, 0.9);
    EXPECT_EQ(separate_unavailable_reason(s), nullptr);
    for (int j = 1; j <= 2; ++j) {
      const double m = (y - a[j]) / b[j];
      EXPECT_NEAR(s.sep_ed_log[j], m, kQuantileTol);
      for (int k = 1; k <= 3; ++k) {
        // Method 2 centres the numerator on the mean log dose xbar, where
        // it is uncorrelated with the slope: m - xbar = N / b with
        // N = b (m - xbar) of variance h / sum_w.
        const double xbar = s.sep_mean_x[j];
        const auto [L, U] =
            method == 1
                ? quadratic_limits(y - a[j], b[j], 4.0 * vaa[j], 4.0 * vbb[j], -4.0 * vab[j], t[k])
                : quadratic_limits(b[j] * (m - xbar), b[j], 4.0 / s.sep_sum_w[j], 4.0 * vbb[j],
                                   0.0, t[k]);
        const double shift = method == 1 ? 0.0 : xbar;
        EXPECT_NEAR(s.sep_ed_lower[k][j], L + shift, kQuantileTol) << method << j << k;
        EXPECT_NEAR(s.sep_ed_upper[k][j], U + shift, kQuantileTol) << method << j << k;
      }
    }
    s.sep_params[4] = 0.0;  // a flat line has no effective doses
    compute_separate_effective_doses(s, 0.9);
    EXPECT_STREQ(separate_unavailable_reason(s), kReasonZeroSlope);
    free_potency_arrays(s);
  }
}

}  // namespace
}  // namespace varnalo
