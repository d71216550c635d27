// The lines that tell what the numerical routines of a fit did, on screen
// and report, in the places an analysis has always shown them: the
// maximiser's message for a run that stopped at its limit, the lines of the
// check of the maximum, the pivot messages of a singular inversion (screen
// only), then the block that reports the maximum.
// Inputs: the records of the routines (fit/fit_result.h). Outputs: text.
#pragma once

#include <vector>

#include "fit/fit_result.h"
#include "foundation/state.h"

namespace varnalo {

// "  Error in DFP: Too Many Iterations" for a variable-metric run that
// reached its iteration limit; "  Error in Amoeba: NMAX exceeded" for a
// first simplex run that reached its evaluation limit (a restart that
// reaches it has converged as far as can be told and says nothing).
void report_solver_runs(AnalysisState& s, const std::vector<SolverSummary>& runs);

// The line that says the end point was replaced or moved, and why; returns
// whether it printed one.
bool report_maximum_check(AnalysisState& s, const MaximumCheck& check);

// "gaussj: Singular Matrix-1" or "-2" for every pivot step that found the
// matrix singular, in the order met.
void report_inversion(AnalysisState& s, const InversionSummary& inversion);

// Everything after the maximiser of a fit step: its runs, the check, the
// blank line that closes the block, the maximum, the inversions.
void report_fit(AnalysisState& s, const FitResult& result);

}  // namespace varnalo
