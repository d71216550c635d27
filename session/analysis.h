// One analysis, stage after stage in their fixed order, with the answers it
// needs asked through an Answers (dialogue/answers.h): the output files
// opened for appending, the data files loaded and listed, the distribution
// and model, the separate-slopes fit (several preparations) and the
// common-slope fit, the chi-square tests, the estimates and matrix reports
// in both forms, effective doses and relative potencies, the TABLE.TXT
// record, the natural rates, the form feed that ends the analysis in the
// report, and on request the plot files and pictures.
//
// Each fit: the Configuration block, the work arrays, starting values by
// regression (which the answers may change), the edition's fit step with
// the lines that tell how its routines went, AIC, the information matrix,
// observed and expected frequencies, the Pearson chi-square.
// Inputs: the state and the answers. Outputs: the four files, screen text.
#pragma once

#include "dialogue/answers.h"
#include "foundation/state.h"

namespace varnalo {

// Runs one analysis; returns true when the answers end the run after it.
bool run_analysis(AnalysisState& s, Answers& answers);

// Allocation and release of the per-fit work arrays for the nprep and
// nslopes in force.
void alloc_work_arrays(AnalysisState& s);
void free_work_arrays(AnalysisState& s);

// The steps of an analysis that ask questions between their parts: the
// chi-square tests (levels, variance ratio level, choice of test), and the
// potency stage: the effective doses (90 and 99 per cent limits, levels)
// and the relative potencies (references; none with one preparation).
void chi_square_tests(AnalysisState& s, Answers& answers);
void effective_dose_dialogue(AnalysisState& s, Answers& answers);
void relative_potency_dialogue(AnalysisState& s, Answers& answers);

}  // namespace varnalo
