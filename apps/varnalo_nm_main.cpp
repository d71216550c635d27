// VarnaloNM: quantal dose-response analysis, downhill-simplex maximiser.
#include "foundation/console.h"
#include "session/run.h"
#include "foundation/state.h"

int main() {
  varnalo::StdConsole console;
  varnalo::AnalysisState state;
  state.console = &console;
  state.edition = &varnalo::kSimplexEdition;
  return varnalo::run_program(state);
}
