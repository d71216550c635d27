#include "session/settings_report.h"

#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;

TEST(SettingsReport, GoesToTheReportOnly) {
  StageFixture f;
  AnalysisState& s = f.state();
  report_settings(s);
  EXPECT_EQ(f.report(),
            "Distribution Function, Model (Activated Parameters) and Variances\n"
            "1: Normal, 1: All / Nothing (a, b), \n1: SAS Equivalent\n\n");
  EXPECT_EQ(f.screen(), "");

  StageFixture g;
  g.state().distribution = 3;
  g.state().model = 7;
  g.state().fixed_c = 0.25;
  g.state().variance_method = 2;
  report_settings(g.state());
  EXPECT_EQ(g.report(),
            "Distribution Function, Model (Activated Parameters) and Variances\n"
            "3: Complementary Log-Log, 7: Preference (a, b, D:Natural Immunity Rate), C = 0.250000 "
            "(Preference is Fixed), \n2: Finney Equivalent\n\n");
}

// The model item of every form, known C 0.5 where the form has one.
TEST(SettingsReport, ModelItemOfEveryForm) {
  const char* const items[] = {
      "1: All / Nothing (a, b), ",
      "2: All / Nothing (a, b, C:Natural Response Rate), ",
      "3: All / Nothing (a, b, D:Natural Immunity Rate), ",
      "4: All / Nothing (a, b, C:Natural Response Rate, D:Natural Immunity Rate), ",
      "5: Preference (a, b), C = 0.500000 (Natural Preference is Fixed), ",
      "6: Preference (a, b, C:Natural Preference), ",
      "7: Preference (a, b, D:Natural Immunity Rate), C = 0.500000 (Preference is Fixed), ",
      "8: Preference (a, b, C:Natural Preference, D:Natural Immunity Rate), ",
  };
  for (int model = 1; model <= 8; ++model) {
    StageFixture f;
    f.state().model = model;
    f.state().distribution = 2;
    report_settings(f.state());
    EXPECT_EQ(f.report(), std::string("Distribution Function, Model (Activated Parameters) and "
                                      "Variances\n2: Logistic, ") +
                              items[model - 1] + "\n1: SAS Equivalent\n\n");
  }
}

}  // namespace
}  // namespace varnalo
