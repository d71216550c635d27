// The run driver shared by both programs: start-up (defaults, banner, the
// two run-wide questions: dosage and variance method), then analyses one
// after another (session/analysis.h) until the answers end the run.
//
// run_program returns the exit status: 0 when the answers end the run ("q"
// at the end prompt), 1 after any fatal condition (unopenable output file, a
// write to an output file that fails, no data file named, responses
// exceeding subjects, allocation failure or any other exhausted memory, end
// of input). Files already written are flushed and closed in every case.
#pragma once

#include "dialogue/answers.h"
#include "fit/edition.h"
#include "foundation/state.h"

namespace varnalo {

// Runs the whole program on s (console, edition and workdir set by the
// caller) with the given answers. Returns the exit status.
int run_program(AnalysisState& s, Answers& answers);

}  // namespace varnalo
