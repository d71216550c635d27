// Natural response and immunity rates: Wald limits C +- t se(C), D +- t se(D)
// with the lower limit clamped at 0, and the preference bias C / (1 - C)
// with its limits mapped through the same monotone function.
// Source: Abbott's correction for natural response, as treated in Finney,
// "Probit Analysis" (3rd ed., 1971), chapter 7.
// Accuracy: closed forms, exact up to rounding given the covariance matrix.
#include "potency/natural_rates.h"

#include <cmath>

#include "driver/output.h"
#include "inference/covariance.h"
#include "model/model_family.h"
#include "potency/effective_dose.h"

namespace varnalo {

namespace {

constexpr int kLevels = 3;
constexpr int kLevel95 = 2;
constexpr double kConfAlpha[kLevels + 1] = {0.0, 0.10, 0.05, 0.01};

struct Limits {
  double lower, upper;
};

// Wald limits of a proportion; a lower limit not above 0 shows as 0.
Limits wald_limits(double estimate, double variance, double t) {
  const double half = t * std::sqrt(variance);
  double lower = estimate - half;
  if (!(lower > 0.0)) lower = 0.0;
  return {lower, estimate + half};
}

// Bias x / (1 - x), written as 1 / (1 - x) - 1.
double bias(double x) { return 1.0 / (1.0 - x) - 1.0; }

void rate_row(AnalysisState& s, const char* label, double value, Limits lim,
              const char* description) {
  both(s, " %-8s%8.6f(%8.6f,%8.6f)  %s\n", label, value, lim.lower, lim.upper, description);
}

void print_rows(AnalysisState& s, double C, double D, Limits c_lim, Limits d_lim) {
  const bool fixed_c = s.model == 5 || s.model == 7;
  const bool estimated_c = s.model == 6 || s.model == 8;
  switch (s.model) {
    case 2:
      rate_row(s, "C", C, c_lim, "Natural Response Rate");
      break;
    case 3:
      rate_row(s, "D", D, d_lim, "Natural Immunity Rate");
      break;
    case 4:
      rate_row(s, "C", C, c_lim, "Natural Response Rate");
      rate_row(s, "D", D, d_lim, "Natural Immunity Rate");
      break;
    default:
      break;
  }
  if (fixed_c) {
    // Both rows to the screen, then both to the report.
    const char* fmt = " %-8s%8.6f%19s  %s\n";
    screen(s, fmt, "C", C, "", "Fixed Preference");
    screen(s, fmt, "C/(1-C)", bias(C), "", "Fixed Bias");
    report(s, fmt, "C", C, "", "Fixed Preference");
    report(s, fmt, "C/(1-C)", bias(C), "", "Fixed Bias");
  } else if (estimated_c) {
    const char* fmt = " %-8s%8.6f(%8.6f,%8.6f)  %s\n";
    screen(s, fmt, "C", C, c_lim.lower, c_lim.upper, "Natural Preference");
    screen(s, fmt, "C/(1-C)", bias(C), bias(c_lim.lower), bias(c_lim.upper), "Natural Bias");
    report(s, fmt, "C", C, c_lim.lower, c_lim.upper, "Natural Preference");
    report(s, fmt, "C/(1-C)", bias(C), bias(c_lim.lower), bias(c_lim.upper), "Natural Bias");
  }
  if (s.model == 7 || s.model == 8) rate_row(s, "D", D, d_lim, "Natural Immunity Rate");
}

}  // namespace

void natural_rates_report(AnalysisState& s) {
  if (s.model < 2 || s.model > 8) return;

  DVector alpha = dvector(1, kLevels);
  DVector deviates = dvector(1, kLevels);
  for (int k = 1; k <= kLevels; ++k) alpha[k] = kConfAlpha[k];
  compute_deviates(s, alpha, deviates);

  double C = 0.0, D = 0.0, varC = 0.0, varD = 0.0;
  fitted_c_d(s, &C, &D);
  c_d_variances(s, selected_cov(s), &varC, &varD);
  const bool c_estimated = s.model == 2 || s.model == 4 || s.model == 6 || s.model == 8;
  const bool d_estimated = s.model == 3 || s.model == 4 || s.model == 7 || s.model == 8;

  // Limits per confidence level; a parameter the model does not estimate
  // has both limits equal to its value.
  DVector cl = dvector(1, kLevels), cu = dvector(1, kLevels);
  DVector dl = dvector(1, kLevels), du = dvector(1, kLevels);
  for (int k = 1; k <= kLevels; ++k) {
    const Limits c = c_estimated ? wald_limits(C, varC, deviates[k]) : Limits{C, C};
    const Limits d = d_estimated ? wald_limits(D, varD, deviates[k]) : Limits{D, D};
    cl[k] = c.lower;
    cu[k] = c.upper;
    dl[k] = d.lower;
    du[k] = d.upper;
  }

  both(s, "Natural Response and Immunity Rate Estimates\n");
  const int first = s.show_90_99 ? 1 : kLevel95;
  const int last = s.show_90_99 ? kLevels : kLevel95;
  for (int k = first; k <= last; ++k) {
    both(s, " %-8s%10s (%2.0f%% %s)      %s\n", "#", "Proportion", (1.0 - alpha[k]) * 100.0,
         "Limits", "Description");
    print_rows(s, C, D, {cl[k], cu[k]}, {dl[k], du[k]});
    if (s.show_90_99) {
      read_key(s);  // a pause, also after the last block
      report(s, "\n");
    } else {
      screen(s, "\n");
      report(s, "\n");
    }
  }

  dvector_free(alpha, 1, kLevels);
  dvector_free(deviates, 1, kLevels);
  dvector_free(cl, 1, kLevels);
  dvector_free(cu, 1, kLevels);
  dvector_free(dl, 1, kLevels);
  dvector_free(du, 1, kLevels);
}

}  // namespace varnalo
