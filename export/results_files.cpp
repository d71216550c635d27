#include "export/results_files.h"

#include <system_error>

#include "export/results_csv.h"
#include "export/results_json.h"
#include "foundation/output.h"
#include "foundation/output_files.h"
#include "foundation/process.h"

namespace fs = std::filesystem;

namespace varnalo {

std::vector<std::string> result_file_names(int n) {
  return {strprintf("ANALYSIS%03d.JSON", n), strprintf("EDS%03d.CSV", n),
          strprintf("ESTIMATES%03d.CSV", n)};
}

int free_results_number(const fs::path& dir) {
  for (int n = 1; n <= kMaxResultsNumber; ++n) {
    bool free = true;
    for (const std::string& name : result_file_names(n)) {
      std::error_code error;
      if (fs::symlink_status(dir / name, error).type() != fs::file_type::not_found) free = false;
    }
    if (free) return n;
  }
  return 0;
}

std::vector<std::string> write_result_files(const fs::path& dir, AnalysisResults& r) {
  const int n = free_results_number(dir);
  if (n == 0)
    fail_write(result_file_names(kMaxResultsNumber)[0],
         strprintf("every results number up to %03d is taken", kMaxResultsNumber));
  r.number = n;
  const std::vector<std::string> names = result_file_names(n);
  write_new_file(dir / names[0], names[0], results_json(r, {names[0], names[1], names[2]}));
  write_new_file(dir / names[1], names[1], effective_doses_csv(r));
  write_new_file(dir / names[2], names[2], estimates_csv(r));
  return names;
}

std::string results_screen_text(const std::vector<std::string>& names) {
  std::string line = "  Results:";
  for (const std::string& name : names) line += " " + name;
  return line + "\n";
}

}  // namespace varnalo
