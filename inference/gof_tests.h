// Goodness-of-fit: the Pearson chi-square of each fit (from the expected
// counts in GroupTable column 4), the Pearson and likelihood-ratio test
// tables (parallelism, heterogeneity, total), the verdict of each at the
// significance level, the variance ratio test of parallelism against
// heterogeneity, the adoption of one test and the heterogeneity factor
// het_factor, which rescales both covariance matrices.
// Rows with less than one degree of freedom show "-" for MS and p and count
// as not significant. The session asks for the levels and the choice of
// test between the parts, in this order: the caution (when no degree of
// freedom is left), then for each table print_test_table, the level,
// judge_test_table, the variance ratio test where needed (its lines, its
// level, its verdict), end_test_table; then the choice and adopt_test.
// Inputs: the GroupTable with expected counts, the LR and Pearson
// chi-squares and DF of the common- and separate-slope fits, the levels and
// the choice. Outputs: pearson_chi2, het_factor (both covariance matrices
// rescaled by it); screen and report text.
#pragma once

#include "foundation/state.h"

namespace varnalo {

enum class TestKind { kPearson, kLikelihoodRatio };

// The rows of a test table: heterogeneity (the separate-slopes fit) and
// parallelism (the common-slope fit against it), each with its probability
// when it has a degree of freedom (known).
struct TestTable {
  double het_chi2 = 0.0, het_df = 0.0;
  double par_chi2 = 0.0, par_df = 0.0;
  double het_p = 1.0, par_p = 1.0;
  bool het_known = false, par_known = false;
};

// What a table says: heterogeneity significant; parallelism in doubt.
struct TestVerdict {
  bool heterogeneity = false;
  bool parallelism = false;
};

void compute_pearson(AnalysisState& s);
// The caution, on the screen, of an analysis whose separate-slopes fit has
// no degree of freedom left; returns whether it was shown.
bool warn_no_degrees_of_freedom(AnalysisState& s);
// The heading and rows of one table.
TestTable print_test_table(AnalysisState& s, TestKind kind);
// The verdict of a table at the level. Parallelism is in doubt when its row
// is significant and heterogeneity is not.
TestVerdict judge_test_table(const AnalysisState& s, const TestTable& table, double level);
// With several preparations and significant heterogeneity, parallelism is
// judged by the variance ratio test instead.
bool needs_variance_ratio(const AnalysisState& s, const TestVerdict& verdict);
// The lines of that test up to its level; returns its probability.
double print_parallelism_ratio(AnalysisState& s, const TestTable& table);
// Its verdict at the level: parallelism in doubt when equal variances are
// rejected.
void judge_parallelism_ratio(AnalysisState& s, double p, double level, TestVerdict* verdict);
// The blank line that closes a table.
void end_test_table(AnalysisState& s);
// The test adopted by chi_choice: its line in the report, the verdict on
// parallelism, the deviates to be used and the heterogeneity factor, with
// both covariance matrices rescaled by it.
void adopt_test(AnalysisState& s, const TestVerdict& pearson, const TestVerdict& likelihood_ratio);

}  // namespace varnalo
