// VarnaloNM: quantal dose-response analysis, downhill-simplex maximiser.
#include "driver/console.h"
#include "driver/run.h"
#include "driver/state.h"

int main() {
  varnalo::StdConsole console;
  varnalo::AnalysisState state;
  state.console = &console;
  state.edition = &varnalo::kSimplexEdition;
  return varnalo::run_program(state);
}
