#include "dialogue/potency_dialogue.h"

#include <climits>
#include <cstdlib>
#include <string>

#include "foundation/output.h"
#include "potency/effective_dose.h"

namespace varnalo {

namespace {

// The leading integer of an answer (0 when there is none), held in int range.
int leading_int(const std::string& answer) {
  const long value = std::strtol(answer.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

bool ask_90_99(AnalysisState& s) {
  screen(s, "Display 90 and 99%% Limits in addition to 95%% Limits?\n  [*/y]  ");
  const bool shown = read_key(s) == 'y';
  screen(s, "\n");
  return shown;
}

EffectiveDoseRequest ask_ed_level(AnalysisState& s, double current) {
  screen(s, "Effective Dose Estimation   (#: ED Level, t: Table of EDs, q: to Exit)\n");
  screen(s, "  [%4.2f] Current ED Level\n", current);
  double level = current;
  for (;;) {
    screen(s, "  [*/#/t/q]  ");
    const std::string answer = read_answer(s);
    screen(s, "\n");
    if (answer == "q") return {EffectiveDoseRequest::Kind::kDone, level};
    if (answer == "t") return {EffectiveDoseRequest::Kind::kTable, level};
    // The typed value becomes current before the check, so an empty answer
    // after a rejected one is rejected again.
    if (!answer.empty()) level = std::strtod(answer.c_str(), nullptr);
    // Written so that a typed "nan" is rejected too.
    if (level >= kLowestEdLevel && level <= kHighestEdLevel)
      return {EffectiveDoseRequest::Kind::kLevel, level};
  }
}

std::optional<int> ask_reference(AnalysisState& s, int current) {
  screen(s, "Relative Potency Estimation (#: Code for Reference, q: to Exit)\n");
  for (int i = 1; i <= s.nprep; ++i) screen(s, "  %d %s", i, s.prep_names[i].c_str());
  int reference = current;
  for (;;) {
    screen(s, "\n  [%d] Current Reference\n  [*/#/q]  ", reference);
    const std::string answer = read_answer(s);
    if (answer == "q") {
      screen(s, "\n");
      return std::nullopt;
    }
    // The typed number becomes current before the check, so the next prompt
    // shows a rejected number.
    reference = leading_int(answer);
    if (reference >= 0 && reference <= s.nprep) break;
  }
  screen(s, "\n");
  return reference == 0 ? 1 : reference;  // Enter or a non-number
}

}  // namespace varnalo
