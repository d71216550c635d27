// What the data let a fit estimate, per preparation.
//
// After a fit has stopped and its information matrix is formed, each
// preparation gets a verdict (foundation/state.h, Estimable):
// - too few doses: under separate slopes fewer than two distinct doses
//   (control groups, dose 0, and groups at an infinite dose not counted), so
//   its slope is not defined; under a common slope no dose at all, or no
//   preparation with two doses to define the slope;
// - controls unexplained: a control group with responders under a model in
//   which controls never respond (no C), so every value of the estimates
//   gives the data probability 0;
// - no finite maximum: the likelihood keeps rising towards a step (complete
//   or quasi-complete separation). Three detectors, each of which a
//   well-behaved fit passes by orders of magnitude:
//   * the ridge test: the preparation's curve (under separate slopes; under
//     a common slope every curve together) made twice as steep about its
//     centre or about one of its doses (under a common slope: the one dose
//     with partial responses, if there is one), or its intercept moved by one
//     unit of the linear predictor either way, does not lower the likelihood by more than kRidgeTolerance of
//     max(objective, 1). At a maximum such moves lower ^L by about half the
//     information times the square of the move: at least some tenths of a
//     unit for any group of a few subjects with a response between 0 and
//     all, a million times the tolerance;
//   * no information: the expected information of its intercept, per
//     subject, below kInformationFloor. Every group whose fitted response
//     lies between 1e-9 and 1 - 1e-9 gives far more; only curves that have
//     become steps at every dose give less;
//   * rank: under separate slopes the 2 x 2 information block of intercept
//     and slope is singular to kRankFloor (its determinant relative to the
//     product of its diagonal: the weighted variance of the log doses over
//     their weighted mean square). Real doses spread by far more than a
//     millionth of their log; a steep curve whose information comes from one
//     dose alone has exactly rank 1.
// Inputs: the state after a fit (params, data, model, nslopes). Output: the
// verdict; nothing is printed and the state is not changed.
#pragma once

#include <cstddef>

#include "foundation/state.h"

namespace varnalo {

// A steeper curve that does not lower ^L by more than this fraction of
// max(objective, 1) lies on a ridge towards a step.
inline constexpr double kRidgeTolerance = 1e-6;
// Doses of a preparation about which its curve is made steeper, at most
// (evenly chosen when it has more): a step of quasi-complete separation
// stands at one of them.
inline constexpr std::size_t kMaxPivots = 16;
// The intercept's move of the ridge test, in units of the linear predictor.
inline constexpr double kInterceptMove = 1.0;
// Expected information of the intercept per subject below which the
// preparation tells nothing about its curve.
inline constexpr double kInformationFloor = 1e-10;
// Relative determinant of the intercept-slope information block below which
// the block counts as singular.
inline constexpr double kRankFloor = 1e-12;

// Distinct finite doses of preparation j (controls and infinite doses not
// counted).
int distinct_doses(AnalysisState& s, int j);

// The verdict on the fit in hand (its params, data and model).
FitEstimability assess_estimability(AnalysisState& s);

// Where the fit in hand leaves something not estimated (s.estimability()),
// forms fit_cov and info_cov again over the parameters that are estimated:
// info_cov the inverse of their expected information, fit_cov that of their
// observed information (the exact Hessian; the inverse expected information
// for the edition that takes fit_cov from it), the maximiser's metric of a
// fit that ran up a ridge meaning nothing. The entries of the others are
// "not a number", so that every table shows "-" for them. Lost are: the intercept (and own slope) of a
// preparation not estimated, C and D when any preparation is not estimated
// (they rest on all the curves), the common slope when no preparation is
// estimated, and everything when controls respond that the model cannot
// explain (the heterogeneity of such a fit is infinite).
void mark_not_estimated(AnalysisState& s);

}  // namespace varnalo
