// Varnalo: quantal dose-response analysis, variable-metric maximiser.
#include "driver/console.h"
#include "driver/run.h"
#include "driver/state.h"

int main() {
  varnalo::StdConsole console;
  varnalo::AnalysisState state;
  state.console = &console;
  state.edition = &varnalo::kVariableMetricEdition;
  return varnalo::run_program(state);
}
