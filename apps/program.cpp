#include "apps/program.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <system_error>

#include "dialogue/console_answers.h"
#include "dialogue/given_answers.h"
#include "foundation/output.h"
#include "foundation/process.h"
#include "foundation/startup.h"
#include "foundation/state.h"
#include "session/run.h"

namespace varnalo {

namespace {

// The screen of a run with --quiet: nothing is shown, nothing is read.
class SilentConsole : public Console {
 public:
  int get_char() override { return EOF; }
  int peek_char() override { return EOF; }
  void write_screen(std::string_view) override {}
};

}  // namespace

int run_given_analyses(const CommandLine& line, const Edition& edition, Console& console) {
  std::error_code error;
  std::filesystem::create_directories(line.output_dir, error);
  if (error) {
    write_error(strprintf("  CAN'T MAKE THE OUTPUT FOLDER '%s': %s\n",
                          line.output_dir.string().c_str(), error.message().c_str()));
    return 1;
  }
  SilentConsole silent;
  AnalysisState state;
  state.console = line.quiet ? static_cast<Console*>(&silent) : &console;
  state.edition = &edition;
  state.workdir = line.output_dir;
  state.data_dir = line.data_dir;
  state.dose_unit = line.dose_unit;
  state.dose_scale = line.plan.dose_scale;
  GivenAnswers answers(state, line.plan);
  // Nothing to analyse: the lines naming the files are all there is.
  if (!answers.has_analysis()) return 1;
  const int status = run_program(state, answers);
  return status != 0 || answers.refused() > 0 ? 1 : 0;
}

int run_main(int argc, const char* const argv[], const Edition& edition) {
  // Standard descriptors first, so that nothing written later lands in a
  // file that took the place of a closed one.
  if (!prepare_process()) return 1;
  const CommandLine line = read_command_line(argc, argv);
  if (const auto status = answer_command_line(line, edition, edition.maximiser, stdout, stderr))
    return *status;
  try {
    StdConsole console;
    if (line.request == CommandLineRequest::kAnalyses)
      return run_given_analyses(line, edition, console);
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
