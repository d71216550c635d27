// Varnalo: quantal dose-response analysis, variable-metric maximiser.
#include "foundation/console.h"
#include "session/run.h"
#include "foundation/state.h"

int main() {
  varnalo::StdConsole console;
  varnalo::AnalysisState state;
  state.console = &console;
  state.edition = &varnalo::kVariableMetricEdition;
  return varnalo::run_program(state);
}
