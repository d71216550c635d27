// The data-file dialogue: the names it accepts and refuses, the listings,
// the limits.
#include "dialogue/data_file_dialogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;
using testing::TempWorkdir;

// Runs the file dialogue in a folder and takes its names as the session
// does; returns how many it accepted.
int run_dialogue(StageFixture& f, const TempWorkdir& dir) {
  AnalysisState& s = f.state();
  s.workdir = dir.root();
  const std::vector<std::string> names = ask_data_files(s);
  s.nprep = static_cast<int>(names.size());
  for (int k = 1; k <= s.nprep; ++k) s.prep_names[k] = names[static_cast<std::size_t>(k - 1)];
  return s.nprep;
}

TEST(DataDialogue, NamesAreCheckedAndDuplicatesRefusedIgnoringCase) {
  TempWorkdir dir;
  dir.write_data("ABC.TXT", "1 10 5\n");
  dir.write_data("Q.TXT", "1 10 5\n");
  StageFixture f("ABC\n\nabc\nnothere\nQ\nq\n");
  EXPECT_EQ(run_dialogue(f, dir), 2);
  AnalysisState& s = f.state();
  ASSERT_EQ(s.nprep, 2);
  EXPECT_EQ(s.prep_names[1], "ABC");
  EXPECT_EQ(s.prep_names[2], "Q") << "upper-case Q is a file name, not the quit command";
  const std::string& screen = f.screen();
  EXPECT_EQ(screen.find("Input Data File Name    (q: to Exit Data-Loading)\n"), 0u);
  EXPECT_NE(screen.find("  [name/q] 1    [name/q] 2    [name/q] 2    This data file was already loaded!\n"),
            std::string::npos)
      << "an empty line repeats the prompt with the same number";
  EXPECT_EQ(f.errors(), "  CAN'T OPEN 'nothere'\n");
  EXPECT_TRUE(screen.ends_with("  [name/q] 3  \n"));
}

TEST(DataDialogue, QuitBeforeAnyFileEndsTheRunSilently) {
  TempWorkdir dir;
  StageFixture f("q\n");
  EXPECT_EQ(run_dialogue(f, dir), 0);
  EXPECT_EQ(f.errors(), "");
  EXPECT_FALSE(f.screen().ends_with("\n\n")) << "no blank line after the prompt";
  // The session ends the run there, with status 1 and no message.
  const testing::SessionResult result = testing::run_session(kVariableMetricEdition, dir, "\n\nq\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.errors, "");
}

TEST(DataDialogue, FolderIsListedBeforeTheFirstPromptAndAfterAFailure) {
  TempWorkdir dir;
  dir.write_data("A.TXT", "1 10 5\n");
  dir.write_data("LONGERNAME.TXT", "1 10 5\n");
  StageFixture f("x\nA\nq\n");
  run_dialogue(f, dir);
  const std::string listing = "A.TXT           LONGERNAME.TXT\n  2 File(s)\n\n";
  std::size_t first = f.screen().find(listing);
  ASSERT_NE(first, std::string::npos) << f.screen();
  EXPECT_NE(f.screen().find(listing, first + 1), std::string::npos)
      << "after a name that failed the count is back at the last listing";
}

TEST(DataDialogue, MissingDataFolderIsSaidAndTheDialogueGoesOn) {
  TempWorkdir dir;
  std::filesystem::remove_all(dir.root() / "DATA");
  StageFixture f("A\nq\n");
  EXPECT_EQ(run_dialogue(f, dir), 0);
  EXPECT_NE(f.screen().find("  There is no DATA folder here.\n"), std::string::npos);
}

TEST(DataDialogue, JunkAndEmptyFilesAreRefusedWithTheirReason) {
  TempWorkdir dir;
  dir.write_data("WORDS.TXT", "1 10 5\n2 10 six\n");
  dir.write_data("NAN.TXT", "1 10 5\nnan 10 5\n");
  dir.write_data("COMMA.TXT", "1,10,5\n");
  dir.write_data("SHORT.TXT", "1 10\n");
  dir.write_data("GOOD.TXT", "1 10 5\r\n2 10 7\r\n");
  StageFixture f("WORDS\nNAN\nCOMMA\nSHORT\nGOOD\nq\n");
  EXPECT_EQ(run_dialogue(f, dir), 1);
  EXPECT_EQ(f.state().prep_names[1], "GOOD");
  EXPECT_EQ(f.errors(),
            "  NOT A NUMBER IN 'WORDS', line 2: 'six'\n"
            "  NOT A NUMBER IN 'NAN', line 2: 'nan'\n"
            "  NOT A NUMBER IN 'COMMA', line 1: '1,10,5'\n"
            "  NO COMPLETE DOSE GROUP IN 'SHORT'\n");
}

TEST(DataDialogue, RefusalsQuoteShortVisibleText) {
  using namespace std::string_literals;
  TempWorkdir dir;
  dir.write_data("HUGE.TXT", "1 10 5\n" + std::string(100000, '9') + " 10 5\n");
  dir.write_data("NUL.TXT", "1 10 5\n2 1\0000 5\n"s);
  // Saved with a byte-order mark and CR LF line ends: accepted.
  dir.write_data("MARKED.TXT", "\xEF\xBB\xBF" "10.2 50 44\r\n7.7 49 42\r\n");
  StageFixture f("HUGE\nNUL\nNO\x01SUCH\nMARKED\nq\n");
  EXPECT_EQ(run_dialogue(f, dir), 1);
  EXPECT_EQ(f.errors(), "  NOT A NUMBER IN 'HUGE', line 2: '" + std::string(40, '9') + "...'\n"
                        "  NOT A NUMBER IN 'NUL', line 2: '1\\x000'\n"
                        "  CAN'T OPEN 'NO\\x01SUCH'\n");
  EXPECT_EQ(f.state().prep_names[1], "MARKED");
}

TEST(DataDialogue, OverlongNameIsRefusedAndThePromptRepeats) {
  TempWorkdir dir;
  dir.write_data("A.TXT", "1 10 5\n");
  StageFixture f(std::string(30, 'N') + "\nA\nq\n");
  EXPECT_EQ(run_dialogue(f, dir), 1);
  EXPECT_EQ(f.state().prep_names[1], "A");
  EXPECT_EQ(f.errors(), "  The name is too long (at most 29 characters).\n");
}

TEST(DataDialogue, NinetyNineFilesEndTheDialogue) {
  TempWorkdir dir;
  std::string input;
  for (int i = 1; i <= 99; ++i) {
    dir.write_data("F" + std::to_string(i) + ".TXT", "1 10 5\n");
    input += "F" + std::to_string(i) + "\n";
  }
  StageFixture f(input + "extra\n");
  EXPECT_EQ(run_dialogue(f, dir), 99);
  EXPECT_NE(f.screen().find("  99 data files are loaded: no more can be added.\n"), std::string::npos);
  EXPECT_EQ(f.console().unread(), "extra\n");
}

}  // namespace
}  // namespace varnalo
