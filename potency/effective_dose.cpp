// Effective doses with Fieller limits, and the potency stage around them.
// Method: ED_p = 10^m with m = (F^-1(p) - a_j) / b on the common-slope line
// (and m = (F^-1(p) - a_j) / b_j on each preparation's own line of the
// separate-slopes fit when parallelism is rejected);
// limits by Fieller's theorem (see potency/fieller.cpp), deviates from the
// normal distribution or Student's t (Cornish-Fisher / search, inference/
// probability.cpp). Source: Finney, "Probit Analysis" (3rd ed., 1971),
// chapter 4.
// Accuracy: limited by the covariance matrix and the deviates; the normal
// deviates are the five-decimal constants 1.64485, 1.95996, 2.57583.
#include "potency/effective_dose.h"

#include <cmath>
#include <string>

#include "foundation/number_cell.h"
#include "foundation/output.h"
#include "inference/asy_tables.h"
#include "inference/covariance.h"
#include "inference/probability.h"
#include "model/distributions.h"
#include "potency/fieller.h"
#include "potency/relative_potency.h"

namespace varnalo {

namespace {

constexpr int kTableLevelCount = 7; // standard levels of the ED table
// Two-tailed normal deviates, kept as the five-decimal constants that the
// reports have always shown (not computed quantiles).
constexpr double kNormalDeviates[kConfidenceLevels + 1] = {0.0, 1.64485, 1.95996, 2.57583};
constexpr double kEdTableLevels[kTableLevelCount + 1] = {0.0,  0.01, 0.05, 0.10,
                                                          0.50, 0.90, 0.95, 0.99};

// Fillers of missing limits in the limit tables.
constexpr const char* kDashWide = "    -     ";   // 10 characters
constexpr const char* kDashNarrow = "   -     ";   // 9 characters
constexpr const char* kPlusFiller = "    +     ";   // 10 characters

// A limit counts as present only when it is a finite number inside the
// sentinels; anything else shows as a filler.
bool lower_present(double lower) { return lower > kMissingLower && std::isfinite(lower); }
bool upper_present(double upper) { return upper < kMissingUpper && std::isfinite(upper); }

// A log dose or log potency of a limits table: eight columns, five decimals.
std::string log_cell(double x) { return fixed_cell(x, 8, 5); }

// Placeholder of an index g that is not a finite number (a slope of 0 makes
// it infinite), right-aligned in eight columns like a g below 10.
constexpr const char* kNoValue = "-";

// The notice that takes the place of the rows of an effective-dose table.
constexpr const char* kNoEffectiveDoses =
    "  Effective doses are not available for this fit (%s).\n";

void print_deviates_block(AnalysisState& s) {
  const int P = s.nprep;
  Matrix& V = selected_cov(s);
  const double b = s.params[P + 1];
  const bool normal = s.het_factor == 1.0;
  both(s, "Normal or t-Deviates (Both Tails) and Index of Regression Significance, g\n");
  for (int k = 1; k <= kConfidenceLevels; ++k) {
    const double t = s.conf_deviates[k];
    s.g_index[k] = t * t * V[P + 1][P + 1] / b / b;
    const bool g_finite = std::isfinite(s.g_index[k]);
    if (normal && g_finite)
      both(s, "  u (%6.3f) = %lf,  g (%6.3f) = %lf\n", s.conf_alpha[k], t, s.conf_alpha[k],
           s.g_index[k]);
    else if (normal)
      both(s, "  u (%6.3f) = %lf,  g (%6.3f) = %8s\n", s.conf_alpha[k], t, s.conf_alpha[k],
           kNoValue);
    else if (g_finite)
      both(s, "  t (%2.0f,%6.3lf) = %lf,  g (%6.3lf) = %lf\n", s.sep_df, s.conf_alpha[k], t,
           s.conf_alpha[k], s.g_index[k]);
    else
      both(s, "  t (%2.0f,%6.3lf) = %lf,  g (%6.3lf) = %8s\n", s.sep_df, s.conf_alpha[k], t,
           s.conf_alpha[k], kNoValue);
    // A g that is not a number (zero slope) is warned about like a large one.
    // A g that is not a number because the data define no slope is no
    // warning: the lines on the data said why.
    const bool slope_not_estimated = std::isnan(s.g_index[k]) && s.common_estimability.none();
    if (!(s.g_index[k] < 1.0) && !slope_not_estimated) {
      const std::string warning = strprintf(
          "  Since g (%6.3f) exceeded 1.0, the potency estimates are unreliable.\n", s.conf_alpha[k]);
      both(s, "%s", warning.c_str());
      add_note(s, "g_exceeds_1", warning);
    }
  }
  screen(s, "\n");
  report(s, "\n");
}

// The deviate for a two-tailed probability: the normal one given, or the t
// deviate with the heterogeneity degrees of freedom when the covariances
// were inflated.
double deviate(const AnalysisState& s, double alpha, double normal) {
  if (s.het_factor == 1.0) return normal;
  double quantile = 0.0;
  // A t deviate without degrees of freedom cannot be had; the normal
  // deviate stands in rather than an unset value.
  const int d = static_cast<int>(s.sep_df);  // truncation toward zero
  if (t_quantile(alpha, d, &quantile) == 0) return quantile;
  return normal;
}

// Header and rows of one limits table of effective doses at level p.
void print_ed_table(AnalysisState& s, int k, double p) {
  compute_effective_doses(s, p);
  const std::string label = "ED" + std::to_string(std::lround(100.0 * p));
  const std::string log_label = "Log(" + label + ")";
  print_limits_head(s, k, s.conf_alpha, label.c_str(), log_label.c_str(), "Limits");
  if (const char* reason = unavailable_reason(s, s.ed_log)) {
    both(s, kNoEffectiveDoses, reason);
    add_note(s, "no_effective_doses", strprintf(kNoEffectiveDoses, reason));
  }
  else
    print_limits_rows(s, k, s.ed_log, s.ed_lower, s.ed_upper);
}

// The same table from each preparation's own line of the separate-slopes
// fit.
void print_separate_ed_table(AnalysisState& s, int k, double p) {
  compute_separate_effective_doses(s, p);
  const std::string label = "ED" + std::to_string(std::lround(100.0 * p));
  const std::string log_label = "Log(" + label + ")";
  print_limits_head(s, k, s.conf_alpha, label.c_str(), log_label.c_str(), "Limits");
  if (const char* reason = separate_unavailable_reason(s)) {
    both(s, kNoEffectiveDoses, reason);
    add_note(s, "no_effective_doses", strprintf(kNoEffectiveDoses, reason));
  } else {
    print_limits_rows(s, k, s.sep_ed_log, s.sep_ed_lower, s.sep_ed_upper);
  }
}

// The tables of the level or levels asked for, at each confidence level
// shown, by one of the two table printers.
void show_ed_tables(AnalysisState& s, Pauses& pauses, void (*print_table)(AnalysisState&, int, double)) {
  show_limit_levels(s, pauses, [&](int k) {
    if (s.ed_table_mode) {
      for (int i = 1; i <= kTableLevelCount; ++i) {
        s.ed_level = s.ed_table_levels[i];
        print_table(s, k, s.ed_level);
      }
      s.ed_level = kDefaultEdLevel;
    } else {
      print_table(s, k, s.ed_level);
    }
  });
}

// The separate-slopes tables add no pause to the dialogue, so that answer
// files written for the common-slope tables stay in step; a blank screen
// line stands where a pause would be.
class BlankLineForPause : public Pauses {
 public:
  explicit BlankLineForPause(AnalysisState& s) : s_(s) {}
  void pause() override { screen(s_, "\n"); }

 private:
  AnalysisState& s_;
};

}  // namespace

void show_effective_doses(AnalysisState& s, Pauses& pauses) {
  both(s, "Effective Dose Estimates\n");
  show_ed_tables(s, pauses, print_ed_table);
  if (!separate_effective_doses_shown(s)) return;
  both(s, "%s", kSeparateSlopesHeading);
  BlankLineForPause no_pause(s);
  show_ed_tables(s, no_pause, print_separate_ed_table);
  both(s, "%s", kParallelLinesAssumed);
  add_note(s, "parallel_lines_assumed", kParallelLinesAssumed);
  report(s, "\n");
  screen(s, "\n");
}

bool separate_effective_doses_shown(const AnalysisState& s) {
  return s.parallelism_rejected && s.sep_params.allocated() && s.sep_cov.allocated();
}

void compute_separate_effective_doses(AnalysisState& s, double p) {
  const int P = s.nprep;
  const double h = s.het_factor;
  const Matrix& V = s.sep_cov;
  double y = 0.0;
  tolerance_inverse(s.distribution, p, &y);
  for (int j = 1; j <= P; ++j) {
    if (!s.separate_estimability.estimated(j)) {
      // Its own line is not estimated (see the line on its data).
      s.sep_ed_log[j] = s.sep_ed_var[j] = kNotEstimated;
      for (int k = 1; k <= kConfidenceLevels; ++k)
        s.sep_ed_upper[k][j] = s.sep_ed_lower[k][j] = kNotEstimated;
      continue;
    }
    const double a = s.sep_params[j];
    const double b = s.sep_params[P + j];
    const double m = (y - a) / b;
    s.sep_ed_log[j] = m;
    for (int k = 1; k <= kConfidenceLevels; ++k) {
      const double t = s.conf_deviates[k];
      if (s.variance_method == 1)
        fieller_general(m, b, h * V[j][j], h * V[P + j][P + j], -h * V[P + j][j], t,
                        &s.sep_ed_var[j], &s.sep_ed_upper[k][j], &s.sep_ed_lower[k][j]);
      else
        fieller_finney(m, b, h / s.sep_sum_w[j], h * V[P + j][P + j], s.sep_mean_x[j] - m, t,
                       &s.sep_ed_var[j], &s.sep_ed_upper[k][j], &s.sep_ed_lower[k][j]);
    }
  }
}

const char* separate_unavailable_reason(const AnalysisState& s) {
  const int P = s.nprep;
  if (s.separate_estimability.none()) return kReasonNotEstimated;
  for (int j = 1; j <= P; ++j)
    if (s.separate_estimability.estimated(j) && s.sep_params[P + j] == 0.0) return kReasonZeroSlope;
  for (int j = 1; j <= P; ++j)
    if (s.separate_estimability.estimated(j) && !std::isfinite(std::pow(10.0, s.sep_ed_log[j])))
      return kReasonNotFinite;
  return nullptr;
}

void compute_deviates(const AnalysisState& s, DRef alpha, DRef deviates) {
  for (int k = 1; k <= kConfidenceLevels; ++k)
    deviates[k] = deviate(s, alpha[k], kNormalDeviates[k]);
}

double confidence_deviate(const AnalysisState& s, int k) {
  return deviate(s, kConfidenceAlpha[k], kNormalDeviates[k]);
}

void alloc_potency_arrays(AnalysisState& s) {
  const int P = s.nprep;
  s.conf_alpha = dvector(1, kConfidenceLevels);
  s.conf_deviates = dvector(1, kConfidenceLevels);
  s.ed_table_levels = dvector(1, kTableLevelCount);
  s.g_index = dvector(1, kConfidenceLevels);
  s.ed_log = dvector(1, P);
  s.ed_var = dvector(1, P);
  s.ed_upper = matrix(1, kConfidenceLevels, 1, P);
  s.ed_lower = matrix(1, kConfidenceLevels, 1, P);
  s.rp_log = dvector(1, P);
  s.rp_var = dvector(1, P);
  s.rp_upper = matrix(1, kConfidenceLevels, 1, P);
  s.rp_lower = matrix(1, kConfidenceLevels, 1, P);
  s.sep_ed_log = dvector(1, P);
  s.sep_ed_var = dvector(1, P);
  s.sep_ed_upper = matrix(1, kConfidenceLevels, 1, P);
  s.sep_ed_lower = matrix(1, kConfidenceLevels, 1, P);
  for (int k = 1; k <= kConfidenceLevels; ++k) s.conf_alpha[k] = kConfidenceAlpha[k];
  for (int i = 1; i <= kTableLevelCount; ++i) s.ed_table_levels[i] = kEdTableLevels[i];
}

void free_potency_arrays(AnalysisState& s) {
  const int P = s.nprep;
  dvector_free(s.conf_alpha, 1, kConfidenceLevels);
  dvector_free(s.conf_deviates, 1, kConfidenceLevels);
  dvector_free(s.ed_table_levels, 1, kTableLevelCount);
  dvector_free(s.g_index, 1, kConfidenceLevels);
  dvector_free(s.ed_log, 1, P);
  dvector_free(s.ed_var, 1, P);
  matrix_free(s.ed_upper, 1, kConfidenceLevels, 1, P);
  matrix_free(s.ed_lower, 1, kConfidenceLevels, 1, P);
  dvector_free(s.rp_log, 1, P);
  dvector_free(s.rp_var, 1, P);
  matrix_free(s.rp_upper, 1, kConfidenceLevels, 1, P);
  matrix_free(s.rp_lower, 1, kConfidenceLevels, 1, P);
  dvector_free(s.sep_ed_log, 1, P);
  dvector_free(s.sep_ed_var, 1, P);
  matrix_free(s.sep_ed_upper, 1, kConfidenceLevels, 1, P);
  matrix_free(s.sep_ed_lower, 1, kConfidenceLevels, 1, P);
}

double log_effective_dose(const AnalysisState& s, int j, double p) {
  if (!s.common_estimability.estimated(j)) return kNotEstimated;
  double y = 0.0;
  tolerance_inverse(s.distribution, p, &y);
  return (y - s.params[j]) / s.params[s.nprep + 1];
}

bool row_not_estimated(const AnalysisState& s, double log_estimate) {
  return std::isnan(log_estimate) &&
         (!s.common_estimability.complete() || !s.separate_estimability.complete());
}

const char* unavailable_reason(const AnalysisState& s, DRef log_estimates) {
  int estimated = 0;
  for (int j = 1; j <= s.nprep; ++j)
    if (!row_not_estimated(s, log_estimates[j])) ++estimated;
  if (estimated == 0) return kReasonNotEstimated;
  if (s.params[s.nprep + 1] == 0.0) return kReasonZeroSlope;
  for (int j = 1; j <= s.nprep; ++j)
    if (!row_not_estimated(s, log_estimates[j]) && !std::isfinite(std::pow(10.0, log_estimates[j])))
      return kReasonNotFinite;
  return nullptr;
}

void log_dose_limits(AnalysisState& s, int j, double m, double t, double* var, double* upper,
                     double* lower) {
  const int P = s.nprep;
  Matrix& V = selected_cov(s);
  const double b = s.params[P + 1];
  if (s.variance_method == 1)
    fieller_general(m, b, V[j][j], V[P + 1][P + 1], -V[P + 1][j], t, var, upper, lower);
  else
    fieller_finney(m, b, s.het_factor / s.prep_sum_w[j], V[P + 1][P + 1], s.prep_mean_x[j] - m, t,
                   var, upper, lower);
}

void compute_effective_doses(AnalysisState& s, double p) {
  for (int k = 1; k <= kConfidenceLevels; ++k) {
    for (int j = 1; j <= s.nprep; ++j) {
      const double m = log_effective_dose(s, j, p);
      s.ed_log[j] = m;
      if (row_not_estimated(s, m)) {
        s.ed_var[j] = s.ed_upper[k][j] = s.ed_lower[k][j] = kNotEstimated;
        continue;
      }
      log_dose_limits(s, j, m, s.conf_deviates[k], &s.ed_var[j], &s.ed_upper[k][j],
                      &s.ed_lower[k][j]);
    }
  }
}

void show_limit_levels(AnalysisState& s, Pauses& pauses,
                       const std::function<void(int)>& show_level) {
  const int first = s.show_90_99 ? 1 : kLevel95;
  const int last = s.show_90_99 ? kConfidenceLevels : kLevel95;
  for (int k = first; k <= last; ++k) {
    show_level(k);
    report(s, "\n");
    if (s.show_90_99 && k < kConfidenceLevels)
      pauses.pause();  // between the confidence levels
    else
      screen(s, "\n");
  }
}

void print_limits_rows(AnalysisState& s, int k, DRef log_estimates, const Matrix& lower,
                       const Matrix& upper) {
  for (int j = 1; j <= s.nprep; ++j) {
    const double m = log_estimates[j];
    const double L = lower[k][j];
    const double U = upper[k][j];
    const char* name = s.prep_names[j].c_str();
    if (row_not_estimated(s, m)) {
      // Not estimated: a dash at the right of every field.
      screen(s, "%2d %11s(%11s,%11s)%8s(%8s,%8s) %s\n", j, "-", "-", "-", "-", "-", "-", name);
      report(s, "%2d %10s(%10s,%10s) %8s(%8s,%8s)  %s\n", j, "-", "-", "-", "-", "-", "-", name);
      continue;
    }
    const double em = std::pow(10.0, m);
    // The log columns stand between brackets and commas; a log dose of a
    // hundred decades or more takes the exponent form in the same width.
    const std::string lm = log_cell(m);
    if (lower_present(L) && upper_present(U)) {
      const double eL = std::pow(10.0, L);
      const double eU = std::pow(10.0, U);
      screen(s, "%2d %-10.5e(%-10.5e,%-10.5e)%s(%s,%s) %s\n", j, em, eL, eU, lm.c_str(),
             log_cell(L).c_str(), log_cell(U).c_str(), name);
      report(s, "%2d %10.4e(%10.4e,%10.4e) %s(%s,%s)  %s\n", j, em, eL, eU, lm.c_str(),
             log_cell(L).c_str(), log_cell(U).c_str(), name);
    } else if (lower_present(L)) {
      both(s, "%2d %-10.5e(%-10.5e,%-10s)%s(%s,%-8s) %s\n", j, em, std::pow(10.0, L),
           kPlusFiller, lm.c_str(), log_cell(L).c_str(), kPlusFiller, name);
    } else if (upper_present(U)) {
      both(s, "%2d %-10.5e(%-10s,%-10.5e)%s(%-8s,%s) %s\n", j, em, kDashWide,
           std::pow(10.0, U), lm.c_str(), kDashWide, log_cell(U).c_str(), name);
    } else {
      screen(s, "%2d %-10.5e(%-10s,%-10s)%s(%-8s,%-8s) %s\n", j, em, kDashWide, kPlusFiller,
             lm.c_str(), kDashNarrow, kPlusFiller, name);
      report(s, "%2d %-10.5e(%-10s,%-10s)%s(%-8s,%-8s) %s\n", j, em, kDashNarrow, kPlusFiller,
             lm.c_str(), kDashNarrow, kPlusFiller, name);
    }
  }
}

void begin_potency_stage(AnalysisState& s) {
  alloc_potency_arrays(s);
  compute_deviates(s, s.conf_alpha, s.conf_deviates);
  print_deviates_block(s);
}

}  // namespace varnalo
