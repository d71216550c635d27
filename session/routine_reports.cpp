#include "session/routine_reports.h"

#include "fit/edition.h"
#include "foundation/output.h"

namespace varnalo {

void report_solver_runs(AnalysisState& s, const std::vector<SolverSummary>& runs) {
  for (const SolverSummary& run : runs) {
    if (run.stop == SolverStop::kIterationLimit) both(s, "  Error in DFP: Too Many Iterations\n");
    if (run.stop == SolverStop::kEvaluationLimit && !run.restart)
      both(s, "  Error in Amoeba: NMAX exceeded\n");
  }
}

bool report_maximum_check(AnalysisState& s, const MaximumCheck& check) {
  if (check.outside && check.improved) {
    both(s, "  The maximiser left the parameter space (a rate at or above 1): the estimates\n"
            "  are those of the maximum that a bound-constrained search found inside it.\n");
  } else if (check.outside) {
    both(s, "  The maximiser left the parameter space (a rate at or above 1): its end point\n"
            "  was moved to the nearest point inside.\n");
  } else if (check.improved) {
    both(s, "  The maximiser stopped short of the maximum: a bound-constrained search\n"
            "  from several starts raised ^L by %.7lf.\n",
         check.gain);
  } else {
    return false;
  }
  return true;
}

void report_inversion(AnalysisState& s, const InversionSummary& inversion) {
  for (const PivotFailure failure : inversion.failures)
    screen(s, "%s", failure == PivotFailure::kRepeatedPivot ? "gaussj: Singular Matrix-1\n"
                                                            : "gaussj: Singular Matrix-2\n");
}

void report_fit(AnalysisState& s, const FitResult& result) {
  report_solver_runs(s, result.runs);
  const bool told = report_maximum_check(s, result.check);
  if (told || s.edition->blank_line_after_fit) both(s, "\n");
  report_maximum_loglik(s);
  for (const InversionSummary& inversion : result.inversions) report_inversion(s, inversion);
}

}  // namespace varnalo
