// VarnaloNM: quantal dose-response analysis, downhill-simplex maximiser.
#include <cstdio>
#include <new>

#include "apps/command_line.h"
#include "foundation/console.h"
#include "foundation/process.h"
#include "foundation/startup.h"
#include "foundation/state.h"
#include "session/run.h"

int main(int argc, char* argv[]) {
  // Standard descriptors first, so that nothing written later lands in a
  // file that took the place of a closed one.
  if (!varnalo::prepare_process()) return 1;
  if (const auto status = varnalo::answer_command_line(
          argc, argv, varnalo::kSimplexEdition,
          "the Nelder-Mead downhill simplex", stdout, stderr))
    return *status;
  try {
    varnalo::StdConsole console;
    varnalo::AnalysisState state;
    state.console = &console;
    state.edition = &varnalo::kSimplexEdition;
    return varnalo::run_program(state);
  } catch (const std::bad_alloc&) {
    varnalo::write_error(varnalo::kOutOfMemoryMessage);
    return 1;
  }
}
