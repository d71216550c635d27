#include "data/listing.h"

#include <cmath>

#include "foundation/output.h"

namespace varnalo {

void list_data(AnalysisState& s, Pauses& pauses) {
  screen(s, "Data to be Analysed\n");
  for (int k = 1; k <= s.nprep; ++k) {
    list_preparation(s, k);
    pauses.pause();
  }
}

void list_preparation(AnalysisState& s, int k) {
  screen(s, "%d. %s\n", k, s.prep_names[k].c_str());
  screen(s, "   #    Dose       Log(Dose) n    r       p\n");
  for (int i = 1; i <= s.ngroups[k]; ++i) {
    DRef row = s.groups[k][i];
    const double x = row[1], n = row[2], r = row[3];
    const double p = r / n;
    if (x > kZeroDoseLog && x < kInfiniteDoseLog)
      screen(s, "  %2d %10.4e  %8.5f %4.0f %4.0f    %6.4f\n", i, std::pow(10.0, x), x, n, r, p);
    else if (x >= kInfiniteDoseLog)
      screen(s, "  %2d %10.4e  %8s %4.0f %4.0f    %6.4f\n", i, 99.0, "   +   ", n, r, p);
    else
      screen(s, "  %2d %10.4e  %8s %4.0f %4.0f    %6.4f\n", i, 0.0, "   -   ", n, r, p);
  }
}

void print_configuration(AnalysisState& s) {
  for (int channel = 0; channel < 2; ++channel) {
    const bool to_screen = channel == 0;
    auto out = [&](const std::string& text) {
      if (to_screen)
        screen_text(s, text);
      else
        report_text(s, text);
    };
    out("Configuration\n");
    out(strprintf("  %2d    Preparations\n", s.nprep));
    out(strprintf("  %2d    Variates\n", s.nslopes));
    out(strprintf("  %2d    Dose Groups, of which:\n", s.total_groups));
    // The report indents the per-preparation lines by six blanks, the
    // screen by ten.
    const char* format = to_screen ? "          %2d refer to        %s\n" : "      %2d refer to        %s\n";
    for (int k = 1; k <= s.nprep; ++k) out(strprintf(format, s.ngroups[k], s.prep_names[k].c_str()));
  }
  screen(s, "\n");
  report(s, "\n");
}

}  // namespace varnalo
