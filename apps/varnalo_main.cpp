// Varnalo: quantal dose-response analysis, variable-metric maximiser.
#include <cstdio>

#include "apps/command_line.h"
#include "foundation/console.h"
#include "session/run.h"
#include "foundation/state.h"

int main(int argc, char* argv[]) {
  if (const auto status = varnalo::answer_command_line(
          argc, argv, varnalo::kVariableMetricEdition,
          "a variable-metric (Davidon-Fletcher-Powell) maximiser", stdout, stderr))
    return *status;
  varnalo::StdConsole console;
  varnalo::AnalysisState state;
  state.console = &console;
  state.edition = &varnalo::kVariableMetricEdition;
  return varnalo::run_program(state);
}
