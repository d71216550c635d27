// Natural response and immunity rates: Wald limits C +- t se(C), D +- t se(D)
// with the lower limit clamped at 0, and the preference bias C / (1 - C)
// with its limits mapped through the same monotone function.
// Source: Abbott's correction for natural response, as treated in Finney,
// "Probit Analysis" (3rd ed., 1971), chapter 7.
// Accuracy: closed forms, exact up to rounding given the covariance matrix.
#include "potency/natural_rates.h"

#include <array>
#include <cmath>
#include <string>

#include "foundation/number_cell.h"
#include "foundation/output.h"
#include "inference/covariance.h"
#include "model/model_family.h"
#include "model/model_form.h"
#include "potency/effective_dose.h"

namespace varnalo {

namespace {


// Cell fillers: "-" for a number that cannot be formed (a variance that is
// negative or not finite, or an estimate that is not finite); "+" for a bias
// limit that is unbounded above (a proportion at or above 1).
constexpr const char* kNoValue = "-";
constexpr const char* kUnbounded = "+";

struct Limits {
  double lower, upper;
  bool available;
};

bool variance_usable(double variance) { return variance >= 0.0 && std::isfinite(variance); }

// Wald limits of a proportion; a lower limit not above 0 shows as 0. Without
// a usable variance or estimate there are no limits.
Limits wald_limits(double estimate, double variance, double t) {
  if (!variance_usable(variance) || !std::isfinite(estimate)) return {0.0, 0.0, false};
  const double half = t * std::sqrt(variance);
  double lower = estimate - half;
  if (!(lower > 0.0)) lower = 0.0;
  return {lower, estimate + half, true};
}

// Bias x / (1 - x), written as 1 / (1 - x) - 1.
double bias(double x) { return 1.0 / (1.0 - x) - 1.0; }

// A proportion in eight columns with six decimals, or "-".
std::string proportion_cell(double x) {
  return std::isfinite(x) ? fixed_cell(x, 8, 6) : strprintf("%8s", kNoValue);
}

// The bias of a proportion: x / (1 - x) grows without bound as x nears 1,
// so a proportion at or above 1 shows "+" rather than a negative or
// infinite number.
std::string bias_cell(double x, bool available = true) {
  if (!available || !std::isfinite(x)) return strprintf("%8s", kNoValue);
  if (x >= 1.0) return strprintf("%8s", kUnbounded);
  return fixed_cell(bias(x), 8, 6);
}

std::string lower_cell(Limits lim) {
  return lim.available ? proportion_cell(lim.lower) : strprintf("%8s", kNoValue);
}
std::string upper_cell(Limits lim) {
  return lim.available ? proportion_cell(lim.upper) : strprintf("%8s", kNoValue);
}

void rate_row(AnalysisState& s, const char* label, double value, Limits lim,
              const char* description) {
  both(s, " %-8s%s(%s,%s)  %s\n", label, proportion_cell(value).c_str(), lower_cell(lim).c_str(),
       upper_cell(lim).c_str(), description);
}

void print_rows(AnalysisState& s, double C, double D, Limits c_lim, Limits d_lim) {
  const ModelForm& form = model_form(s);
  if (form.family == Family::kAllOrNothing) {
    if (form.estimates_c()) rate_row(s, "C", C, c_lim, form.c_description());
  } else if (form.uses_c()) {
    // The preference and its bias C / (1 - C): both rows to the screen,
    // then both to the report. A known C has no limits.
    const bool known = form.known_c();
    const char* fmt = known ? " %-8s%s%19s  %s\n" : " %-8s%s(%s,%s)  %s\n";
    const std::string c[3] = {proportion_cell(C), lower_cell(c_lim), upper_cell(c_lim)};
    const std::string b[3] = {bias_cell(C), bias_cell(c_lim.lower, c_lim.available),
                              bias_cell(c_lim.upper, c_lim.available)};
    const char* bias_description = known ? "Fixed Bias" : "Natural Bias";
    for (int channel = 0; channel < 2; ++channel) {
      auto out = channel == 0 ? screen : report;
      if (known) {
        out(s, fmt, "C", c[0].c_str(), "", form.c_description());
        out(s, fmt, "C/(1-C)", b[0].c_str(), "", bias_description);
      } else {
        out(s, fmt, "C", c[0].c_str(), c[1].c_str(), c[2].c_str(), form.c_description());
        out(s, fmt, "C/(1-C)", b[0].c_str(), b[1].c_str(), b[2].c_str(), bias_description);
      }
    }
  }
  if (form.estimates_d()) rate_row(s, "D", D, d_lim, form.d_description());
}

}  // namespace

void natural_rates_report(AnalysisState& s, Pauses& pauses) {
  const ModelForm& form = model_form(s);
  if (!form.has_rates()) return;

  double C = 0.0, D = 0.0, varC = 0.0, varD = 0.0;
  fitted_c_d(s, &C, &D);
  c_d_variances(s, selected_cov(s), &varC, &varD);
  const bool c_estimated = form.estimates_c();
  const bool d_estimated = form.estimates_d();

  // Limits per confidence level; a parameter the model does not estimate
  // has both limits equal to its value. The usability of a variance does not
  // depend on the level.
  std::array<Limits, kConfidenceLevels + 1> c_limits{}, d_limits{};
  bool c_available = true, d_available = true;
  for (int k = 1; k <= kConfidenceLevels; ++k) {
    const double t = confidence_deviate(s, k);
    c_limits[k] = c_estimated ? wald_limits(C, varC, t) : Limits{C, C, true};
    d_limits[k] = d_estimated ? wald_limits(D, varD, t) : Limits{D, D, true};
    c_available = c_available && c_limits[k].available;
    d_available = d_available && d_limits[k].available;
  }

  both(s, "Natural Response and Immunity Rate Estimates\n");
  const int first = s.show_90_99 ? 1 : kLevel95;
  const int last = s.show_90_99 ? kConfidenceLevels : kLevel95;
  for (int k = first; k <= last; ++k) {
    both(s, " %-8s%10s (%2.0f%% %s)      %s\n", "#", "Proportion",
         (1.0 - kConfidenceAlpha[k]) * 100.0, "Limits", "Description");
    print_rows(s, C, D, {c_limits[k].lower, c_limits[k].upper, c_available},
               {d_limits[k].lower, d_limits[k].upper, d_available});
    if (s.show_90_99) {
      pauses.pause();  // also after the last block
      report(s, "\n");
    } else {
      screen(s, "\n");
      report(s, "\n");
    }
  }

}

}  // namespace varnalo
