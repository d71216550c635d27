// The main routine of both programs: process set-up, the command line
// (--help and --version answered at once), then the whole program on the
// console, its answers asked at the console, in the given edition.
// Inputs: the arguments of main and the edition. Output: the exit status.
#pragma once

#include "fit/edition.h"

namespace varnalo {

int run_main(int argc, const char* const argv[], const Edition& edition);

}  // namespace varnalo
