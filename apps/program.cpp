#include "apps/program.h"

#include <cstdio>
#include <new>

#include "apps/command_line.h"
#include "dialogue/console_answers.h"
#include "foundation/console.h"
#include "foundation/process.h"
#include "foundation/startup.h"
#include "foundation/state.h"
#include "session/run.h"

namespace varnalo {

int run_main(int argc, const char* const argv[], const Edition& edition) {
  // Standard descriptors first, so that nothing written later lands in a
  // file that took the place of a closed one.
  if (!prepare_process()) return 1;
  if (const auto status =
          answer_command_line(argc, argv, edition, edition.maximiser, stdout, stderr))
    return *status;
  try {
    StdConsole console;
    AnalysisState state;
    state.console = &console;
    state.edition = &edition;
    ConsoleAnswers answers(state);
    return run_program(state, answers);
  } catch (const std::bad_alloc&) {
    write_error(kOutOfMemoryMessage);
    return 1;
  }
}

}  // namespace varnalo
