// The main routine of both programs: process set-up, the command line
// (--help, --version and usage errors answered at once), then either the
// whole program on the console, its answers asked at the console, or the
// analyses the command line gives, in the given edition.
// Inputs: the arguments of main and the edition. Output: the exit status.
#pragma once

#include "apps/command_line.h"
#include "fit/edition.h"
#include "foundation/console.h"

namespace varnalo {

int run_main(int argc, const char* const argv[], const Edition& edition);

// Runs the analyses of a command line (request kAnalyses) with the screen on
// the given console (nothing with --quiet): the output folder is made when it
// is missing, the analyses run one after another without a prompt. Returns
// 0, or 1 when an analysis was left out for a refused data file, the output
// folder cannot be made, or the run ended on a failure.
int run_given_analyses(const CommandLine& line, const Edition& edition, Console& console);

}  // namespace varnalo
