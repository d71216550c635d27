#include "dialogue/data_file_dialogue.h"

#include <algorithm>

#include "data/data_files.h"
#include "foundation/console.h"
#include "foundation/output.h"
#include "foundation/process.h"

namespace varnalo {

namespace {

// The folder is listed again each time this many more files were loaded.
constexpr std::size_t kListingInterval = 10;
// Longest answer line kept at the name prompt before the length check.
constexpr std::size_t kNameLineChars = 4096;

// The next name typed at the prompt: empty lines are passed over, a name
// longer than kMaxNameChars is refused with a line on the error stream.
std::string read_name(AnalysisState& s, std::size_t number) {
  for (;;) {
    screen(s, "  [name/q] %u  ", static_cast<unsigned>(number));
    std::string name = read_line(*s.console, kNameLineChars);
    if (name.empty()) continue;
    if (name.size() > kMaxNameChars) {
      write_error(strprintf("  The name is too long (at most %zu characters).\n", kMaxNameChars));
      continue;
    }
    return name;
  }
}

}  // namespace

std::vector<std::string> ask_data_files(AnalysisState& s) {
  std::vector<std::string> names;
  std::size_t listed_at = 0;
  screen(s, "Input Data File Name    (q: to Exit Data-Loading)\n");
  for (;;) {
    if (names.size() - listed_at > kListingInterval) listed_at = names.size();
    if (names.size() == listed_at) list_data_folder(s);
    if (names.size() == static_cast<std::size_t>(kMaxPreparations)) {
      screen(s, "  %d data files are loaded: no more can be added.\n", kMaxPreparations);
      screen(s, "\n");
      return names;
    }
    const std::string name = read_name(s, names.size() + 1);
    if (name == "q") {
      if (!names.empty()) screen(s, "\n");
      return names;
    }
    const std::string upper = upper_copy(name);
    if (std::any_of(names.begin(), names.end(),
                    [&](const std::string& loaded) { return upper_copy(loaded) == upper; })) {
      screen(s, "  This data file was already loaded!\n");
      continue;
    }
    if (check_data_file(s, name)) names.push_back(name);
  }
}

}  // namespace varnalo
