// Observed and expected frequencies of every dose group. The expected number
// of responders (n times the fitted response rate of the model, natural
// response and immunity included) is kept in column 4 of the GroupTable for
// the Pearson chi-square.
// Method: E = n P with P the model's response probability at the fitted
// estimates (Finney, "Probit Analysis", 3rd ed., 1971, chapter 4).
// Accuracy: that of P: about 1e-9 absolute for the Normal distribution
// function, rounding only for the other two.
#include "inference/obs_exp.h"

#include <cmath>

#include "foundation/number_cell.h"
#include "foundation/output.h"
#include "model/distributions.h"
#include "model/model_family.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

// Dose shown for a group at the infinite-dose sentinel.
constexpr double kInfiniteDoseShown = 1e50;

}  // namespace

void print_obs_exp(AnalysisState& s, Pauses& pauses) {
  both(s, "Observed and Expected Frequencies\n");
  for (int j = 1; j <= s.nprep; ++j) {
    print_obs_exp_prep(s, j);
    pauses.pause();
  }
}

void print_obs_exp_prep(AnalysisState& s, int j) {
  double C = 0.0, D = 0.0;
  fitted_c_d(s, &C, &D);
  const double a = s.params[j];
  const double b = s.nslopes < 2 ? s.params[s.nprep + 1] : s.params[s.nprep + j];
  both(s, "%d. %s\n", j, s.prep_names[j].c_str());
  both(s, "   #    Dose      Log(Dose)  n   r.obs  r.exp     Dev.   p.obs    p.exp\n");
  for (int k = 1; k <= s.ngroups[j]; ++k) {
    DRef g = s.groups[j][k];
    const double x = g[1];
    const double n = g[2];
    const double r = g[3];
    double dose = std::pow(10.0, x);
    const char* marker = nullptr;
    double P0 = 0.0;
    if (x <= kZeroDoseLog) {
      P0 = 0.0;
      dose = 0.0;
      marker = "   -  ";
    } else if (x >= kInfiniteDoseLog) {
      P0 = 1.0;
      dose = kInfiniteDoseShown;
      marker = "   +  ";
    } else {
      double f = 0.0;
      tolerance_cdf(s.distribution, kReportingFloors, a + b * x, &P0, &f);
    }
    double Pm = 0.0, Qm = 0.0;
    model_form(s).probability(P0, C, D, &Pm, &Qm);
    const double expected = Pm * n;
    // Counts and expected numbers of large groups take the exponent form
    // where they outgrow their columns.
    const std::string log_dose = marker ? strprintf("%8s", marker) : fixed_cell(x, 8, 5);
    both(s, "  %2d %10.4e  %s %s %s  %s  %s   %6.4f   %6.4f\n", k, dose, log_dose.c_str(),
         fixed_cell(n, 4, 0).c_str(), fixed_cell(r, 4, 0).c_str(),
         fixed_cell(expected, 7, 3).c_str(), fixed_cell(r - expected, 7, 3).c_str(), r / n, Pm);
    g[4] = expected;
  }
  report(s, "\n");
}

}  // namespace varnalo
