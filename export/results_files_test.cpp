// The result files: new numbers past every name taken, the three files
// written, and a file that cannot be written named on the error stream.
#include "export/results_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "foundation/process.h"
#include "support/harness.h"

namespace fs = std::filesystem;

namespace varnalo {
namespace {

TEST(ResultFiles, TakeTheFirstNumberOfWhichNoFileExists) {
  testing::TempWorkdir dir;
  EXPECT_EQ(free_results_number(dir.root()), 1);
  std::ofstream(dir.root() / "EDS001.CSV") << "kept\n";
  // A dangling link counts as taken too.
  fs::create_symlink(dir.root() / "nowhere", dir.root() / "ESTIMATES002.CSV");
  EXPECT_EQ(free_results_number(dir.root()), 3);
  AnalysisResults r;
  EXPECT_EQ(write_result_files(dir.root(), r),
            (std::vector<std::string>{"ANALYSIS003.JSON", "EDS003.CSV", "ESTIMATES003.CSV"}));
  EXPECT_EQ(r.number, 3);
  EXPECT_EQ(dir.read("EDS001.CSV"), "kept\n");
  EXPECT_NE(dir.read("ANALYSIS003.JSON").find("\"analysis\": 3"), std::string::npos);
  EXPECT_EQ(dir.read("ESTIMATES003.CSV").find("analysis,fit,form,"), 0u);
  EXPECT_EQ(results_screen_text(result_file_names(3)),
            "  Results: ANALYSIS003.JSON EDS003.CSV ESTIMATES003.CSV\n");
}

TEST(ResultFiles, AFileThatCannotBeWrittenEndsTheRunNamingIt) {
  std::string errors;
  const ErrorSink previous = set_error_sink([&](std::string_view text) { errors.append(text); });
  AnalysisResults r;
  int status = 0;
  try {
    write_result_files("/nonexistent-folder-of-results", r);
  } catch (const RunEnd& end) {
    status = end.status;
  }
  set_error_sink(previous);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(errors, "  CAN'T WRITE 'ANALYSIS001.JSON': No such file or directory\n");
}

}  // namespace
}  // namespace varnalo
