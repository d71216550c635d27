#include "data/listing.h"

#include <gtest/gtest.h>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;

TEST(Listing, RowsShowDosesMarkersAndProportions) {
  StageFixture f("\n");
  f.set_groups({{{-99.0, 20, 1e-50}, {2.0, 10, 3}, {99.0, 1e-50, 1e-50}}}, {"ROT"});
  list_data(f.state(), f.answers());
  EXPECT_EQ(f.screen(),
            "Data to be Analysed\n"
            "1. ROT\n"
            "   #    Dose       Log(Dose) n    r       p\n"
            "   1 0.0000e+00      -      20    0    0.0000\n"
            "   2 1.0000e+02   2.00000   10    3    0.3000\n"
            "   3 9.9000e+01      +       0    0    1.0000\n");
  EXPECT_EQ(f.console().unread(), "") << "one pause per preparation";
}

TEST(Listing, ConfigurationIndentsScreenAndReportDifferently) {
  StageFixture f;
  f.set_groups({{{1, 10, 1}, {2, 10, 2}}, {{1, 10, 1}}, {{1, 10, 1}, {2, 10, 2}, {3, 10, 3}}},
               {"A", "B", "C"});
  f.state().nslopes = 3;
  print_configuration(f.state());
  EXPECT_EQ(f.screen(),
            "Configuration\n   3    Preparations\n   3    Variates\n   6    Dose Groups, of which:\n"
            "           2 refer to        A\n           1 refer to        B\n"
            "           3 refer to        C\n\n");
  EXPECT_EQ(f.report(),
            "Configuration\n   3    Preparations\n   3    Variates\n   6    Dose Groups, of which:\n"
            "       2 refer to        A\n       1 refer to        B\n       3 refer to        C\n\n");
}

}  // namespace
}  // namespace varnalo
