// Varnalo: quantal dose-response analysis, variable-metric maximiser.
#include "foundation/console.h"
#include "session/run.h"
#include "foundation/state.h"
#include "foundation/process.h"
#include "foundation/startup.h"

#include <new>

int main() {
  if (!varnalo::prepare_process()) return 1;
  try {
    varnalo::StdConsole console;
    varnalo::AnalysisState state;
    state.console = &console;
    state.edition = &varnalo::kVariableMetricEdition;
    return varnalo::run_program(state);
  } catch (const std::bad_alloc&) {
    varnalo::write_error(varnalo::kOutOfMemoryMessage);
    return 1;
  }
}
