// The source folders form layers: a folder includes only itself and the
// folders below it. The order is written once, here, from the ground up;
// a new folder must be added to it before its sources may include anything.
// Unit tests, the test support, benchmarks and examples are not checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Bottom to top.
const std::vector<std::string> kLayers = {
    "foundation",  // arrays, console, output helpers, pauses, state record, exit
    "data",        // data files, GroupTable, listing
    "model",       // distributions, model forms, likelihood, starting values
    "fit",         // maximisers and their records, the maximum check, editions
    "inference",   // probabilities, covariance, reports, tests
    "potency",     // Fieller limits, effective doses, relative potency, rates
    "export",      // summary table, plot files, pictures
    "dialogue",    // the answers of an analysis asked at the console
    "session",     // the run and the analysis that sequence the stages
    "apps",        // the main routine of both programs, the command line
};

int layer_of(const std::string& folder) {
  const auto it = std::find(kLayers.begin(), kLayers.end(), folder);
  return it == kLayers.end() ? -1 : static_cast<int>(it - kLayers.begin());
}

bool is_source(const fs::path& path) {
  const std::string name = path.filename().string();
  const std::string ext = path.extension().string();
  if (ext != ".h" && ext != ".cpp") return false;
  return !(name.size() > 9 && name.compare(name.size() - 9, 9, "_test.cpp") == 0);
}

// One line per include of a source below `root` that reaches a folder of a
// higher layer, or a folder that is not in the layer order at all:
// "<file>: includes \"<path>\"".
std::vector<std::string> layering_violations(const fs::path& root) {
  static const std::regex kInclude(R"re(^\s*#\s*include\s*"([^"/]+)/[^"]*")re");
  std::vector<std::string> violations;
  for (const std::string& folder : kLayers) {
    const fs::path dir = root / folder;
    if (!fs::is_directory(dir)) continue;
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
      if (entry.is_regular_file() && is_source(entry.path())) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      std::ifstream in(file);
      EXPECT_TRUE(in.good()) << "cannot read " << file;
      std::string line;
      while (std::getline(in, line)) {
        std::smatch match;
        if (!std::regex_search(line, match, kInclude)) continue;
        const int target = layer_of(match[1]);
        if (target < 0 || target > layer_of(folder)) {
          const std::string include = line.substr(line.find('"'));
          violations.push_back(fs::relative(file, root).generic_string() + ": includes " + include);
        }
      }
    }
  }
  return violations;
}

TEST(Layering, NoFolderIncludesAHigherOne) {
  const std::vector<std::string> violations = layering_violations(VARNALO_SOURCE_DIR);
  std::string listing;
  for (const std::string& v : violations) listing += v + "\n";
  EXPECT_TRUE(violations.empty()) << listing;
}

// The check itself: a lower folder reaching up, and a folder outside the
// order, are both named with the offending line; includes downwards, system
// headers and unit tests pass.
TEST(Layering, NamesTheFileAndTheIncludeThatBreakTheOrder) {
  const fs::path root = fs::temp_directory_path() / "varnalo_layering_check";
  fs::remove_all(root);
  auto write = [&](const std::string& name, const std::string& text) {
    fs::create_directories((root / name).parent_path());
    std::ofstream(root / name) << text;
  };
  write("model/likelihood.cpp", "#include <cmath>\n#include \"foundation/state.h\"\n"
                                "#include \"fit/dfp.h\"\n");
  write("model/likelihood_test.cpp", "#include \"session/run.h\"\n");
  write("export/plot.h", "  #  include \"gadgets/thing.h\"\n#include \"potency/fieller.h\"\n");
  const std::vector<std::string> expected = {
      "model/likelihood.cpp: includes \"fit/dfp.h\"",
      "export/plot.h: includes \"gadgets/thing.h\"",
  };
  EXPECT_EQ(layering_violations(root), expected);
  fs::remove_all(root);
}

}  // namespace
