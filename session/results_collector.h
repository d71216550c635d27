// Fills the results record of an analysis (export/analysis_results.h) from
// the state, stage by stage, right after the stage that printed the same
// values: each call reads what the stage left in the state, or forms the
// value with the routine the stage used, so the record holds the numbers the
// report shows. Where the report shows "-" or "+" or a notice in place of a
// number, the record has no value.
// Inputs: the state (and the records of the fit and the tests). Output: the
// record.
#pragma once

#include "export/analysis_results.h"
#include "fit/fit_result.h"
#include "foundation/state.h"
#include "inference/gof_tests.h"

namespace varnalo {

// After the model menus: the settings of the analysis.
void collect_settings(const AnalysisState& s, ResultSettings& settings);
// After the data are read, converted and sorted, with the value of each
// dose as written in its file in column 4 (cleared here).
void collect_data(AnalysisState& s, AnalysisResults& r);
// After a fit's sequence (maximum, AIC, frequencies, Pearson chi-square):
// a new fit record.
void collect_fit(AnalysisState& s, const FitResult& fit, AnalysisResults& r);
// After an estimates table of the fit in hand (form 1 or 2) was reported:
// its rows and matrix, added to the last fit record.
void collect_estimates(AnalysisState& s, int form, AnalysisResults& r);
// After a test table was judged at its level.
void collect_test_table(const AnalysisState& s, TestKind kind, const TestTable& table,
                        const TestVerdict& verdict, double level, AnalysisResults& r);
// After the parallelism variance ratio test of the last table.
void collect_variance_ratio(const TestTable& table, double p, double level,
                            const TestVerdict& verdict, AnalysisResults& r);
// After the test was adopted.
void collect_adopted_test(const AnalysisState& s, const TestVerdict& verdict, AnalysisResults& r);
// After the deviates block of the potency stage.
void collect_deviates(const AnalysisState& s, AnalysisResults& r);
// After the effective doses of one answer were shown (a level, or the
// table of EDs).
void collect_effective_doses(AnalysisState& s, bool table, AnalysisResults& r);
// After the relative potencies against rp_reference were shown.
void collect_potencies(AnalysisState& s, AnalysisResults& r);
// After the natural rates were reported.
void collect_natural_rates(AnalysisState& s, AnalysisResults& r);

}  // namespace varnalo
