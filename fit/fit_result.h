// What the fit step of an edition leaves besides the state: the record of
// every run of its maximiser, the record of the check of its maximum, and
// the record of the inversion that formed the maximiser's covariance (when
// one was formed). The session prints their lines, then the block that
// reports the maximum (report_maximum_loglik).
#pragma once

#include <vector>

#include "fit/gaussj.h"
#include "fit/maximum_check.h"
#include "fit/solver_summary.h"
#include "foundation/state.h"

namespace varnalo {

struct FitResult {
  std::vector<SolverSummary> runs;  // in the order run
  MaximumCheck check;
  std::vector<InversionSummary> inversions;
};

// "The Maximum Log-Likelihood" with ^L and the iterations of the fit, on
// screen and report.
void report_maximum_loglik(AnalysisState& s);

}  // namespace varnalo
