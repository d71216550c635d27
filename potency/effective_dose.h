// The potency stage and its effective-dose part.
//
// begin_potency_stage runs once per analysis after the tests: it allocates
// the working data (deviates, g, effective doses and relative potencies with
// their limits) and prints the deviates of the 90, 95 and 99 per cent levels
// (normal deviates, or t deviates with the heterogeneity degrees of freedom
// when the covariances were inflated) with the index g. The working data
// stay allocated for the summary table, which reads them;
// free_potency_arrays releases them.
//
// show_effective_doses then shows, for each level the session is given,
// effective doses ED_p = 10^((F^-1(p) - a_j) / b) at the level p (ed_level)
// or at the seven standard levels (ed_table_mode), with Fieller limits at 95
// per cent, or at 90, 95 and 99 per cent (show_90_99) with pauses between
// them, on screen and report. A g that is not a finite number (zero slope)
// prints as "-" with the usual warning, and a table whose estimates cannot
// be formed keeps its heading and shows one notice line in place of its
// rows.
// Inputs: params (common-slope fit), the selected covariance matrix,
// het_factor, sep_df, prep_sum_w, prep_mean_x, prep_names; with parallelism
// rejected also the kept separate-slopes fit (sep_params, sep_cov,
// sep_sum_w, sep_mean_x).
#pragma once

#include <functional>
#include <limits>

#include "foundation/arrays.h"
#include "foundation/pauses.h"
#include "foundation/state.h"

namespace varnalo {

// The confidence levels of every limit: 90, 95 and 99 per cent (k = 1, 2,
// 3), by their two-tailed probabilities. The 95 per cent level is shown
// alone unless the other two are asked for, and is the one the summary
// table and the pictures use.
inline constexpr int kConfidenceLevels = 3;
inline constexpr int kLevel95 = 2;
inline constexpr double kConfidenceAlpha[kConfidenceLevels + 1] = {0.0, 0.10, 0.05, 0.01};

// The level of the ED50 that the summary table and the pictures show.
inline constexpr double kEd50Level = 0.5;

// The level of effective doses shown first, and the accepted levels (both
// ends included).
inline constexpr double kDefaultEdLevel = 0.5;
inline constexpr double kLowestEdLevel = 0.01;
inline constexpr double kHighestEdLevel = 0.99;

void begin_potency_stage(AnalysisState& s);
void show_effective_doses(AnalysisState& s, Pauses& pauses);
// deviates[1..3] for the two-tailed probabilities alpha[1..3]: normal
// deviates when het_factor is 1, otherwise t deviates with the
// heterogeneity degrees of freedom.
void compute_deviates(const AnalysisState& s, DRef alpha, DRef deviates);
// The deviate of confidence level k (1..kConfidenceLevels).
double confidence_deviate(const AnalysisState& s, int k);
// Rows of the limits table at confidence level k: estimate and limits on the
// dose scale and on the log scale, "-" / "+" for a missing limit.
void print_limits_rows(AnalysisState& s, int k, DRef log_estimates, const Matrix& lower,
                       const Matrix& upper);
// Calls show_level(k) for each confidence level on show (the 95 per cent
// level alone, or 90, 95 and 99), each followed by a blank report line and
// then a pause before the next level or a blank screen line after the last.
void show_limit_levels(AnalysisState& s, Pauses& pauses,
                       const std::function<void(int)>& show_level);

// Allocation and release of the working data of the potency stage (fixed
// tables filled in); the release uses the nprep in force.
void alloc_potency_arrays(AnalysisState& s);
void free_potency_arrays(AnalysisState& s);

// Log effective doses of every preparation at level p (into ed_log), their
// variances (ed_var) and Fieller limits at the three confidence levels
// (ed_lower, ed_upper), with the deviates in conf_deviates.
void compute_effective_doses(AnalysisState& s, double p);

// The value of a log estimate (effective dose, relative potency) of a
// preparation whose common-slope estimates the data do not define
// (common_estimability); its row shows "-" in every field.
inline constexpr double kNotEstimated = std::numeric_limits<double>::quiet_NaN();

// Log10 of the effective dose of preparation j at level p:
// (F^-1(p) - a_j) / b; kNotEstimated for a preparation not estimated.
double log_effective_dose(const AnalysisState& s, int j, double p);

// True when a log estimate is kNotEstimated (and one of the fits left some
// preparation without estimates).
bool row_not_estimated(const AnalysisState& s, double log_estimate);

// Why the log estimates [1..nprep] of a table (effective doses or relative
// potencies) cannot be shown: kReasonNotEstimated when no row is estimated
// (the data define no common-slope estimates), kReasonZeroSlope when the
// common slope is 0,
// kReasonNotFinite when an estimate or its antilogarithm is not a finite
// number (a non-finite estimate, or a slope so near 0 that 10^m overflows);
// nullptr when every row can be printed. The reason completes the notice
// that replaces the rows.
inline constexpr const char* kReasonZeroSlope = "zero slope";
inline constexpr const char* kReasonNotFinite = "estimates not finite";
inline constexpr const char* kReasonNotEstimated = "the data define no estimates";
const char* unavailable_reason(const AnalysisState& s, DRef log_estimates);

// When the adopted test rejects parallelism, show_effective_doses follows
// the common-slope tables with the same tables from each preparation's own
// line of the separate-slopes fit (sep_params, sep_cov), under this heading,
// and ends them with the line on the relative potencies.
inline constexpr const char* kSeparateSlopesHeading =
    "Effective Doses from the Separate-Slopes Fit (Parallelism Rejected)\n";
inline constexpr const char* kParallelLinesAssumed =
    "  The relative potencies assume parallel lines, which the test rejected.\n";
// True when those tables are shown: parallelism rejected and the
// separate-slopes fit kept.
bool separate_effective_doses_shown(const AnalysisState& s);
// Log effective doses at level p of each preparation's own line,
// (F^-1(p) - a_j) / b_j, into sep_ed_log, with variances and Fieller limits
// (sep_ed_var, sep_ed_lower, sep_ed_upper) by the variance method from the
// fit's own covariances, multiplied by het_factor, with the deviates of
// conf_deviates (t deviates when heterogeneity is significant), as the
// common-slope table has them.
void compute_separate_effective_doses(AnalysisState& s, double p);
// Why the separate-slopes table cannot be shown (no preparation's line
// estimated, a zero slope, estimates not finite; preparations not estimated
// show "-" rows instead), or nullptr.
const char* separate_unavailable_reason(const AnalysisState& s);

// Delta-method variance and Fieller limits (deviate t) of a log dose m on the
// fitted line of preparation j, by the current variance method: the general
// form with the maximiser's covariances (method 1) or the form centred on
// the weighted mean log dose (method 2).
void log_dose_limits(AnalysisState& s, int j, double m, double t, double* var, double* upper,
                     double* lower);

}  // namespace varnalo
