// The variance ratio (F) test of two mean chi-squares, with its own
// significance level vr_level, and Akaike's Information Criterion of a fit
// (aic = 2 npar - 2 max_loglik, printed and kept in the state).
// Inputs: the two chi-squares and their DF, the level; npar and max_loglik.
// Outputs: the test's probability and verdict, aic; screen and report text.
#pragma once

#include "foundation/state.h"

namespace varnalo {

// The test of the mean chi-squares x1 / f1 and x2 / f2: its lines up to the
// level of significance; returns its probability.
double print_variance_ratio(AnalysisState& s, const char* name1, const char* name2, double f1,
                            double f2, double x1, double x2);
// Its verdict at the level; returns 1 when equal variances are not rejected,
// 0 when rejected.
int variance_ratio_verdict(AnalysisState& s, double p, double level);
void report_aic(AnalysisState& s);

}  // namespace varnalo
