#include "inference/obs_exp.h"

#include <gtest/gtest.h>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;

// Expected counts are a product and a sum of a few doubles.
constexpr double kRounding = 1e-12;

TEST(ObsExp, ControlOrdinaryAndInfiniteDoseRows) {
  StageFixture f("\nX");
  f.set_groups({{{-99.0, 49, 2}, {0.0, 50, 25}, {99.0, 40, 40}}}, {"ROT"});
  f.begin_fit(2, 2, 1);  // logistic, natural response C
  AnalysisState& s = f.state();
  s.params[1] = 0.0;
  s.params[2] = 2.0;
  s.params[3] = 0.04;
  print_obs_exp(s, f.answers());
  // Control: Pm = C. Log dose 0: P0 = 1/2, Pm = 0.04 + 0.96/2. Infinite
  // dose: Pm = C + (1 - C) = 1.
  const std::string rows =
      "  " " 1" " " "0.0000e+00" "  " "     -  " " " "  49" " " "   2" "  " "  1.960" "  "
      "  0.040" "   " "0.0408" "   " "0.0400" "\n"
      "  " " 2" " " "1.0000e+00" "  " " 0.00000" " " "  50" " " "  25" "  " " 26.000" "  "
      " -1.000" "   " "0.5000" "   " "0.5200" "\n"
      "  " " 3" " " "1.0000e+50" "  " "     +  " " " "  40" " " "  40" "  " " 40.000" "  "
      "  0.000" "   " "1.0000" "   " "1.0000" "\n";
  const std::string head =
      "Observed and Expected Frequencies\n"
      "1. ROT\n"
      "   #    Dose      Log(Dose)  n   r.obs  r.exp     Dev.   p.obs    p.exp\n";
  EXPECT_EQ(f.screen(), head + rows);
  EXPECT_EQ(f.report(), head + rows + "\n");
  EXPECT_EQ(f.console().unread(), "X");
  // The expected counts are kept for the Pearson chi-square.
  EXPECT_NEAR(s.groups[1][1][4], 1.96, kRounding);
  EXPECT_NEAR(s.groups[1][2][4], 26.0, kRounding);
  EXPECT_NEAR(s.groups[1][3][4], 40.0, kRounding);
}

}  // namespace
}  // namespace varnalo
