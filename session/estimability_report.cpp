#include "session/estimability_report.h"

#include "foundation/output.h"

namespace varnalo {

namespace {

// What is wrong, in a few words.
const char* problem(Estimable e) {
  switch (e) {
    case Estimable::kTooFewDoses:
      return "too few distinct doses (controls not counted)";
    case Estimable::kNoFiniteMaximum:
      return "no finite maximum (complete or quasi-complete separation)";
    case Estimable::kControlsUnexplained:
      return "responding controls that a model without C cannot explain";
    case Estimable::kYes:
      break;
  }
  return "";
}

}  // namespace

std::string estimability_line(const AnalysisState& s, int j) {
  const char* name = s.prep_names[j].c_str();
  const Estimable common = s.common_estimability.of(j);
  if (s.nprep == 1 || !s.separate_estimability.assessed()) {
    if (common == Estimable::kYes) return "";
    return strprintf("* %s: %s: no standard errors, no effective doses.\n", name,
                     problem(common));
  }
  const Estimable separate = s.separate_estimability.of(j);
  if (separate == Estimable::kYes && common == Estimable::kYes) return "";
  if (common == Estimable::kYes)
    return strprintf("* %s: %s in the separate-slopes fit; its common-slope estimates hold.\n",
                     name, problem(separate));
  if (separate == Estimable::kYes)
    return strprintf(
        "* %s: %s in the common-slope fit: no effective dose or potency; its separate-slopes "
        "estimates hold.\n",
        name, problem(common));
  if (separate == common)
    return strprintf("* %s: %s in both fits: nothing is estimated for it.\n", name,
                     problem(common));
  return strprintf("* %s: %s in the separate-slopes fit, %s in the common-slope fit: nothing is "
                   "estimated for it.\n",
                   name, problem(separate), problem(common));
}

void report_estimability(AnalysisState& s) {
  bool any = false;
  for (int j = 1; j <= s.nprep; ++j) {
    const std::string line = estimability_line(s, j);
    if (line.empty()) continue;
    both(s, "%s", line.c_str());
    add_note(s, "not_estimable", line);
    any = true;
  }
  if (any) both(s, "\n");
}

}  // namespace varnalo
