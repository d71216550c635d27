#include "session/routine_reports.h"

#include "fit/edition.h"
#include "foundation/output.h"

namespace varnalo {

std::vector<std::string> solver_messages(const std::vector<SolverSummary>& runs) {
  std::vector<std::string> messages;
  for (const SolverSummary& run : runs) {
    if (run.stop == SolverStop::kIterationLimit)
      messages.push_back("  Error in DFP: Too Many Iterations\n");
    if (run.stop == SolverStop::kEvaluationLimit && !run.restart)
      messages.push_back("  Error in Amoeba: NMAX exceeded\n");
  }
  return messages;
}

void report_solver_runs(AnalysisState& s, const std::vector<SolverSummary>& runs) {
  for (const std::string& message : solver_messages(runs)) {
    both(s, "%s", message.c_str());
    add_note(s, "maximiser_limit", message);
  }
}

std::string maximum_check_text(const MaximumCheck& check) {
  if (check.outside && check.improved)
    return "  The maximiser left the parameter space (a rate at or above 1): the estimates\n"
           "  are those of the maximum that a bound-constrained search found inside it.\n";
  if (check.outside)
    return "  The maximiser left the parameter space (a rate at or above 1): its end point\n"
           "  was moved to the nearest point inside.\n";
  if (check.improved)
    return strprintf("  The maximiser stopped short of the maximum: a bound-constrained search\n"
                     "  from several starts raised ^L by %.7lf.\n",
                     check.gain);
  return "";
}

bool report_maximum_check(AnalysisState& s, const MaximumCheck& check) {
  const std::string text = maximum_check_text(check);
  if (text.empty()) return false;
  both(s, "%s", text.c_str());
  add_note(s, "maximum_check", text);
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
