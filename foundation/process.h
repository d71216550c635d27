// The end of a run and the error stream.
//
// A run ends in exactly one of two ways: "q" at the end prompt (status 0) or
// a fatal condition (status 1). end_run unwinds to the run driver, which
// closes the open output files (so nothing written so far is lost) and
// returns the status to main; an in-process test gets the same status back.
// write_error sends text to the error stream of the current run: standard
// error in the programs, a buffer in tests.
#pragma once

#include <functional>
#include <string_view>

namespace varnalo {

// Thrown by end_run; caught only by the run driver (and by tests).
struct RunEnd {
  int status;
  // True when the run ends on a write error already reported: closing the
  // other files then reports no further failure.
  bool write_failure = false;
};

[[noreturn]] void end_run(int status);

// The message of a run that ends because memory ran out outside the array
// allocators.
inline constexpr const char* kOutOfMemoryMessage = "\nOut of memory: the run stops.\n";

// Writes text to the current error stream.
void write_error(std::string_view text);

// Replaces the error stream; returns the previous one. An empty function
// restores standard error.
using ErrorSink = std::function<void(std::string_view)>;
ErrorSink set_error_sink(ErrorSink sink);

}  // namespace varnalo
