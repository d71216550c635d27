#include "session/run.h"

#include <cstdio>
#include <new>

#include "fit/edition.h"
#include "foundation/output.h"
#include "foundation/output_files.h"
#include "foundation/process.h"
#include "session/analysis.h"

namespace varnalo {

namespace {

// Closes every output file still open when the run ends. Unless the run is
// ending on a write failure already reported, a file whose last data cannot
// be written is reported too and the status becomes 1.
void close_all_files(AnalysisState& s, bool write_failure_reported, int& status) {
  const struct {
    std::FILE*& file;
    const char* name;
  } files[] = {{s.report_file, kReportFileName},
               {s.table_file, kTableFileName},
               {s.sigmoid_file, kSigmoidFileName},
               {s.linear_file, kLinearFileName}};
  for (const auto& f : files) {
    if (write_failure_reported) {
      discard_output_file(f.file);
      continue;
    }
    try {
      close_output_file(f.file, f.name);
    } catch (const RunEnd& end) {
      status = end.status;
      write_failure_reported = true;
    }
  }
}

void start_up(AnalysisState& s, Answers& answers) {
  s.distribution = 1;
  s.model = 1;
  s.dose_scale = 1;
  s.variance_method = 1;
  s.chi_choice = 1;
  s.fixed_c = 0.5;
  s.chi2_level = 0.05;
  s.vr_level = 0.05;
  screen(s, "%s\n", s.edition->program_name);
  screen(s, "  Ver.%2.2lf\n", kVersion);
  screen(s, "\n");
  s.dose_scale = answers.dose_scale(s.dose_scale);
  s.variance_method = answers.variance_method(s.variance_method);
}

}  // namespace

int run_program(AnalysisState& s, Answers& answers) {
  int status = 0;
  bool write_failure_reported = false;
  try {
    start_up(s, answers);
    while (!run_analysis(s, answers)) {
    }
  } catch (const RunEnd& end) {
    status = end.status;
    write_failure_reported = end.write_failure;
  } catch (const std::bad_alloc&) {
    // Memory ran out outside the array allocators (which report it
    // themselves): ended like every other fatal condition.
    write_error(kOutOfMemoryMessage);
    status = 1;
  }
  close_all_files(s, write_failure_reported, status);
  std::fflush(stdout);
  return status;
}

}  // namespace varnalo
