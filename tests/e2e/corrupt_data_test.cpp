// Whole sessions with corrupt data files: every corrupt file is refused when
// named and the analysis of a sound one then runs as if the corrupt ones had
// never been named.
#include <gtest/gtest.h>

#include <string>

#include "foundation/console.h"
#include "session/run.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::count_of;
using testing::examples_path;
using testing::run_session;
using testing::TempWorkdir;

// Dosage and variance-method menus, the names given, then one analysis with
// Enter at every menu and "q" at the end prompt.
std::string session_naming(const std::string& names) {
  return "\n\n" + names + "q\n"
         "\n"            // pause after the data listing
         "\n\n"          // distribution, model
         "\n"            // edit the starting values? no
         "\n"            // pause after the observed and expected frequencies
         "\n\n\n\n"      // two significance levels, chi-square choice, pause
         "\n\n\n\n"      // pauses of the two estimate tables and the two matrices
         "\n"            // 90 and 99 per cent limits? no
         "q\n"           // leave the effective-dose dialogue
         "\n"            // no plot data
         "q";            // end of the run
}

TEST(CorruptData, CorruptFilesAreRefusedAndAGoodOneIsThenAnalysed) {
  // ROTENONE damaged in each of the ways a file is refused.
  const struct {
    const char* name;
    const char* content;
  } corrupt[] = {
      {"NEGCOUNT", "10.2 50 44\n7.7 49 -2\n5.1 46 24\n"},
      {"NEGDOSE", "10.2 50 44\n-7.7 49 42\n5.1 46 24\n"},
      {"SHORT", "10.2 50 44\n7.7 49 42\n5.1 46\n"},
      {"EMPTYGROUP", "10.2 50 44\n7.7 0 0\n5.1 46 24\n"},
  };
  for (const Edition* edition : {&kVariableMetricEdition, &kSimplexEdition}) {
    TempWorkdir dir, clean;
    dir.copy_data(examples_path("DATA/ROTENONE.TXT"));
    clean.copy_data(examples_path("DATA/ROTENONE.TXT"));
    std::string names;
    for (const auto& c : corrupt) {
      dir.write_data(std::string(c.name) + ".TXT", c.content);
      names += std::string(c.name) + "\n";
    }
    const auto result = run_session(*edition, dir, session_naming(names + "ROTENONE\n"));
    const std::string program = edition->program_name;
    EXPECT_EQ(result.status, 0) << program;
    EXPECT_EQ(result.errors,
              "  NEGATIVE COUNT IN 'NEGCOUNT', line 2: '-2'\n"
              "  NEGATIVE DOSE IN 'NEGDOSE', line 2: '-7.7' (for log doses choose Dosage 2)\n"
              "  INCOMPLETE DOSE GROUP IN 'SHORT', line 3: '5.1 46'\n"
              "  GROUP WITHOUT SUBJECTS IN 'EMPTYGROUP', line 2: '0'\n")
        << program;
    EXPECT_EQ(result.unread_input, "") << program;
    EXPECT_EQ(count_of(result.screen, "  [name/q] 1  "), 5) << program;
    EXPECT_NE(result.screen.find("Data to be Analysed\n1. ROTENONE\n"), std::string::npos);

    // The refused names leave no trace in the analysis.
    const auto expected = run_session(*edition, clean, session_naming("ROTENONE\n"));
    ASSERT_EQ(expected.status, 0);
    EXPECT_EQ(result.report, expected.report) << program;
    EXPECT_EQ(result.table, expected.table) << program;
  }
}

}  // namespace
}  // namespace varnalo
