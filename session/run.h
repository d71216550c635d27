// The run driver shared by both programs: start-up (defaults, banner, the
// two run-wide menus), the analysis loop with its fixed order of stages, the
// fit sequence, the plot prompt and the end prompt.
//
// run_program returns the exit status: 0 after "q" at the end prompt, 1 after
// any fatal condition (unopenable output file, a write to an output file
// that fails, no data file named, responses exceeding subjects, allocation
// failure or any other exhausted memory, end of input). Files already written
// are flushed and closed in every case.
#pragma once

#include "fit/edition.h"
#include "foundation/state.h"

namespace varnalo {

// Runs the whole program on s (console, edition and workdir set by the
// caller). Returns the exit status.
int run_program(AnalysisState& s);

// Allocation and release of the per-fit work arrays for the nprep and
// nslopes in force.
void alloc_work_arrays(AnalysisState& s);
void free_work_arrays(AnalysisState& s);

}  // namespace varnalo
