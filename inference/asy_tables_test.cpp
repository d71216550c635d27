#include "inference/asy_tables.h"

#include <gtest/gtest.h>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;

TEST(AsyTables, VarianceHeadAndRows) {
  StageFixture f;
  f.set_groups({{{1.0, 10, 5}}, {{1.0, 10, 5}}}, {"ROT", "DER"});
  f.begin_fit(1, 1, 1);
  AnalysisState& s = f.state();
  DVector e = dvector(1, 2), v = dvector(1, 2);
  e[1] = 1.5;
  v[1] = 0.04;
  e[2] = 2.0;
  v[2] = -0.01;  // a variance that no standard error can come from
  print_asy_var_head(s, "ED50");
  print_asy_var_rows(s, e, v);
  const std::string text =
      "Asymptotic Variance for ED50\n"
      " #  " "         ED50" "     Variance" "    Std.Error" "  Preparation\n"
      " m1 " "    1.5000000" "    0.0400000" "    0.2000000" "  ROT\n"
      " m2 " "    2.0000000" "   -0.0100000" "            -" "  DER\n"
      "  Standard errors are not available for this fit (singular or non-positive variance "
      "matrix).\n";
  EXPECT_EQ(f.screen(), text);
  EXPECT_EQ(f.report(), text);
}

TEST(AsyTables, LimitsHeadShowsTheLevel) {
  StageFixture f;
  DVector alpha = dvector(1, 3);
  alpha[1] = 0.10;
  alpha[2] = 0.05;
  alpha[3] = 0.01;
  print_limits_head(f.state(), 2, alpha, "ED50", "Dose", "Limits");
  print_limits_head(f.state(), 3, alpha, "ED50", "Dose", "Limits");
  const std::string text =
      " #  " "    ED50" " (95% Limits)" + std::string(23, ' ') + "Dose" " (95% Limits)" "  Preparation\n"
      " #  " "    ED50" " (99% Limits)" + std::string(23, ' ') + "Dose" " (99% Limits)" "  Preparation\n";
  EXPECT_EQ(f.screen(), text);
  EXPECT_EQ(f.report(), text);
}

}  // namespace
}  // namespace varnalo
