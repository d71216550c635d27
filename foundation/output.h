// Formatted output to the screen and the report, which every stage uses, and
// the console reads of the dialogue (dialogue/).
//
// All result lines are printf formats. both() writes a line to the screen and
// then the identical line to REPORT.TXT; screen() and report() write to one
// channel only. Output to a report that is not open is dropped, so a stage can
// run in a test without one. A write to the report that fails ends the run
// with "  CAN'T WRITE 'REPORT.TXT': <reason>" (foundation/output_files.h).
#pragma once

#include <string>

#include "foundation/state.h"

#if defined(__GNUC__)
#define VARNALO_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define VARNALO_PRINTF(fmt_index, first_arg)
#endif

namespace varnalo {

// printf into a string (any length).
std::string strprintf(const char* fmt, ...) VARNALO_PRINTF(1, 2);

void screen(AnalysisState& s, const char* fmt, ...) VARNALO_PRINTF(2, 3);
void report(AnalysisState& s, const char* fmt, ...) VARNALO_PRINTF(2, 3);
// Screen first, then the same text to the report.
void both(AnalysisState& s, const char* fmt, ...) VARNALO_PRINTF(2, 3);

// Raw text versions (no formatting).
void screen_text(AnalysisState& s, const std::string& text);
void report_text(AnalysisState& s, const std::string& text);

// Reads a pause or a single-key answer: the first character of the next
// line, the rest of the line discarded (read_key_line). Ends the run with
// status 1 at end of input.
int read_key(AnalysisState& s);

// Reads one answer line into the answer buffer: at most 19 characters are
// kept, the rest of the line is consumed. Ends the run at end of input.
std::string read_answer(AnalysisState& s);

}  // namespace varnalo
