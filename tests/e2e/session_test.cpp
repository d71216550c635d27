// Whole sessions: in-process with scripted input, and the real programs run
// on the example data with an answer file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/console.h"
#include "session/run.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::count_of;
using testing::examples_path;
using testing::run_session;
using testing::TempWorkdir;

// Answers of one analysis of one preparation with Enter at every menu, up to
// and including the plot prompt, for a model without extra parameters.
std::string one_analysis(const std::string& name) {
  return name + "\nq\n"  // file name, end of the file dialogue
         "\n"            // pause after the data listing
         "\n\n"          // distribution, model
         "\n"            // edit the starting values? no
         "\n"            // pause after the observed and expected frequencies
         "\n\n\n\n"      // two significance levels, chi-square choice, pause
         "\n\n\n\n"      // pauses of the two estimate tables and the two matrices
         "\n"            // 90 and 99 per cent limits? no
         "q\n"           // leave the effective-dose dialogue
         "\n";           // no plot data
}

// The same answers with "y" at the plot prompt.
std::string with_plots(std::string analysis) {
  analysis.back() = 'y';
  return analysis + "\n";
}

// Dosage and variance-method menus, one analysis of ROTENONE, then "q".
std::string full_session() { return "\n\n" + one_analysis("ROTENONE") + "q"; }

TempWorkdir& with_examples(TempWorkdir& dir) {
  dir.copy_data(examples_path("DATA/ROTENONE.TXT"));
  dir.copy_data(examples_path("DATA/BEETLE.TXT"));
  return dir;
}

TEST(Session, EnterAtEveryMenuRunsToTheEndPrompt) {
  for (const Edition* edition : {&kVariableMetricEdition, &kSimplexEdition}) {
    TempWorkdir dir;
    with_examples(dir);
    const auto result = run_session(*edition, dir, full_session());
    const std::string name = edition->program_name;
    EXPECT_EQ(result.status, 0) << name << result.errors;
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.unread_input, "") << name << " reads exactly the scripted answers";
    EXPECT_EQ(result.screen.find(name + "\n  Ver.1.63\n\nDosage\n"), 0u);
    EXPECT_NE(result.screen.find("\n*** " + name + " ver.1.63 ***\n\n"), std::string::npos);
    EXPECT_NE(result.screen.find("Data to be Analysed\n1. ROTENONE\n"), std::string::npos);
    EXPECT_NE(result.screen.find("Configuration\n   1    Preparations\n   1    Variates\n"),
              std::string::npos);
    EXPECT_TRUE(result.screen.ends_with("The End of the Analysis\n  [*/q]   ")) << name;
    EXPECT_EQ(result.report.find("*** Varnalo ver.1.63 ***\n\n"), 0u)
        << "both programs write the same report heading";
    ASSERT_FALSE(result.report.empty());
    EXPECT_EQ(result.report.back(), '\f');
    EXPECT_EQ(count_of(result.report, "Configuration\n"), 1) << "one preparation: one fit";
  }
}

TEST(Session, SecondAnalysisAppendsToTheSameFiles) {
  TempWorkdir dir;
  with_examples(dir);
  // "n" at the end prompt starts the next analysis without the two start-up
  // menus; the second analysis keeps the previous settings.
  const std::string input =
      "\n\n" + one_analysis("ROTENONE") + "n\n" + one_analysis("rotenone") + "q";
  auto result = run_session(kVariableMetricEdition, dir, input);
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(count_of(result.report, "*** Varnalo ver.1.63 ***\n\n"), 2);
  EXPECT_EQ(count_of(result.report, "\f"), 2);
  EXPECT_EQ(count_of(result.screen, "Calculation Mehod of Variances"), 1);

  // A later run appends again.
  result = run_session(kSimplexEdition, dir, full_session());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(count_of(result.report, "\f"), 3);
}

// Two preparations through every dialogue: edited starting values, 90 and
// 99 per cent limits, the table of EDs, two references, plot data.
std::string two_preparation_session() {
  return "\n\n" + testing::two_preparation_analysis() + "q";
}

TEST(Session, CuttingTheInputAnywhereEndsWithStatusOne) {
  for (const std::string& input : {full_session(), two_preparation_session()}) {
    TempWorkdir whole;
    with_examples(whole);
    const auto complete = run_session(kVariableMetricEdition, whole, input);
    ASSERT_EQ(complete.status, 0) << complete.errors;
    ASSERT_EQ(complete.unread_input, "") << "the script answers every prompt";
    for (std::size_t cut = 0; cut < input.size(); ++cut) {
      TempWorkdir dir;
      with_examples(dir);
      const auto result = run_session(kVariableMetricEdition, dir, input.substr(0, cut));
      EXPECT_EQ(result.status, 1) << "input cut after " << cut << " characters";
      EXPECT_EQ(result.errors, kEndOfInputMessage) << "input cut after " << cut << " characters";
    }
  }
}

// Two analyses of ROTENONE with 90 and 99 per cent limits, ED50, plots in
// the first; every single-key answer and pause is written as `keys` gives
// it, one answer per line, and the last one ("q") without its line end.
// Menu answers are "" and "q" lines; a "*" in the plan stands for the next
// key.
std::string keyed_session(const std::vector<std::string>& keys, const std::string& line_end) {
  const std::vector<std::string> plan = {
      "", "", "ROTENONE", "q", "*",    // menus, names, listing pause
      "", "", "*", "*",                // distribution, model, edit?, frequencies pause
      "", "", "", "*",                 // levels, choice, tests pause
      "*", "*", "*", "*",              // estimate and matrix pauses
      "*", "", "*", "*", "q",          // 90/99, ED50 with two pauses, leave
      "*", "*",                        // plots?, end prompt
      "rotenone", "q", "*", "", "", "*", "*", "", "", "", "*", "*", "*", "*", "*",
      "*", "q", "*"};                  // 90/99, leave, plots?
  std::string input;
  std::size_t next = 0;
  for (const std::string& answer : plan) input += (answer == "*" ? keys.at(next++) : answer) + line_end;
  return input + keys.at(next);        // end prompt, no line end
}

TEST(Session, SingleKeyAnswersAreTheFirstCharacterOfTheirLine) {
  const std::vector<std::string> keys = {"", "n", "", "", "", "", "", "", "y", "", "", "y",
                                         "n", "", "n", "", "", "", "", "", "", "", "", "q"};
  const std::vector<std::string> words = {"ok", "no", "next", "go on", "more", "more", "more",
                                          "more", "yes", ".", ". ", "yes please", "no, another",
                                          "x", "nope", "", "\t", "", "\r", "", "", "never",
                                          "nothing", "quit"};
  ASSERT_EQ(keys.size(), words.size());
  TempWorkdir plain_dir;
  with_examples(plain_dir);
  const auto plain = run_session(kVariableMetricEdition, plain_dir, keyed_session(keys, "\n"));
  ASSERT_EQ(plain.status, 0) << plain.errors;
  EXPECT_EQ(plain.unread_input, "");
  EXPECT_EQ(count_of(plain.report, "\f"), 2);
  EXPECT_EQ(count_of(plain.screen, "ED50 (90% Limits)"), 1);
  EXPECT_FALSE(plain.sigmoid.empty());

  for (const std::string line_end : {"\n", "\r\n"}) {
    TempWorkdir dir;
    with_examples(dir);
    const auto typed = run_session(kVariableMetricEdition, dir, keyed_session(words, line_end));
    EXPECT_EQ(typed.status, 0) << typed.errors;
    EXPECT_EQ(typed.unread_input, "");
    EXPECT_EQ(typed.screen, plain.screen) << "words answer as their first letters";
    EXPECT_EQ(typed.report, plain.report);
    EXPECT_EQ(typed.table, plain.table);
    EXPECT_EQ(typed.sigmoid, plain.sigmoid);
    EXPECT_EQ(typed.linear, plain.linear);
  }
}

TEST(Session, UnwritableReportEndsTheRunAfterTheStartUpMenus) {
  TempWorkdir dir;
  with_examples(dir);
  std::filesystem::create_directory(dir.root() / "REPORT.TXT");  // cannot be opened for appending
  const auto result = run_session(kVariableMetricEdition, dir, full_session());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.errors, "\nCAN'T OPEN 'REPORT.TXT'\n");
  EXPECT_EQ(result.screen.find("Input Data File Name"), std::string::npos);
  EXPECT_TRUE(result.screen.ends_with("  [1] Current Method\n  [*/#]  "));
}

TEST(Session, ReadOnlyFilesAreNotAppendedTo) {
  const struct {
    const char* file;
    const char* message;
    std::string input;
  } cases[] = {
      {"REPORT.TXT", "\nCAN'T OPEN 'REPORT.TXT'\n", full_session()},
      {"TABLE.TXT", "\nCAN'T OPEN 'TABLE.TXT'\n", full_session()},
      {"SIGMOID.TXT", "\nCAN'T OPEN 'SIGMOID.TXT'\n", "\n\n" + with_plots(one_analysis("ROTENONE")) + "q"},
      {"LINEAR.TXT", "\nCAN'T OPEN 'LINAR.TXT'\n", "\n\n" + with_plots(one_analysis("ROTENONE")) + "q"},
  };
  for (const auto& c : cases) {
    TempWorkdir dir;
    with_examples(dir);
    const auto path = dir.root() / c.file;
    std::ofstream(path) << "kept\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    const auto result = run_session(kVariableMetricEdition, dir, c.input);
    EXPECT_EQ(result.status, 1) << c.file;
    EXPECT_EQ(result.errors, c.message);
    EXPECT_EQ(dir.read(c.file), "kept\n");
  }
}

TEST(Session, ResponsesExceedingSubjectsEndTheRun) {
  TempWorkdir dir;
  dir.write_data("BAD.TXT", "1 10 5\n2 10 11\n");
  const auto result = run_session(kVariableMetricEdition, dir, "\n\nBAD\nq\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.screen.ends_with("  EXTTING!\n  Responses Exceed Subjects in 'BAD'.\n"));
}

// Runs a real program in a working folder with an answer file; returns its
// exit status.
int run_binary(const char* binary, const TempWorkdir& dir, const std::string& answers) {
  std::ofstream(dir.root() / "answers.txt") << answers;
  const std::string command = "cd '" + dir.root().string() + "' && '" + binary +
                              "' < answers.txt > screen.txt 2> errors.txt";
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(Programs, BothProgramsRunAWholeAnalysisFromAnAnswerFile) {
  for (const char* binary : {VARNALO_BIN, VARNALO_NM_BIN}) {
    TempWorkdir dir;
    with_examples(dir);
    EXPECT_EQ(run_binary(binary, dir, full_session()), 0) << binary << dir.read("errors.txt");
    EXPECT_EQ(dir.read("errors.txt"), "");
    EXPECT_EQ(dir.read("REPORT.TXT").find("*** Varnalo ver.1.63 ***"), 0u);
    EXPECT_NE(dir.read("screen.txt").find("The End of the Analysis"), std::string::npos);
  }
}

TEST(Programs, TheReadmeAnswerFileRunsAWholeAnalysisWithPlots) {
  std::ifstream in(examples_path("answers.txt"));
  const std::string answers((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* binary : {VARNALO_BIN, VARNALO_NM_BIN}) {
    TempWorkdir dir;
    with_examples(dir);
    EXPECT_EQ(run_binary(binary, dir, answers), 0) << binary << dir.read("errors.txt");
    EXPECT_NE(dir.read("screen.txt").find("ED50 (95% Limits)"), std::string::npos);
    EXPECT_EQ(dir.read("TABLE.TXT").find("Distribution\tModel\tAlgorithm\tMethod\n"), 0u);
    EXPECT_EQ(dir.read("SIGMOID.TXT").find("\t\t\tUSE LEFT COLUMNS FOR THE GRAPHIC DISPLAY\n"), 0u);
    EXPECT_EQ(dir.read("LINEAR.TXT").find("\t\t\t\t\tUSE LEFT COLUMNS FOR THE GRAPHIC DISPLAY\n"), 0u);
  }
}

TEST(Programs, WordsAtSingleKeyPromptsAnswerWithTheirFirstLetter) {
  // The README's answer file with words at the single-key prompts, CR LF
  // line ends and no line end after the final "quit".
  const std::string answers =
      "\r\n\r\nROTENONE\r\nq\r\nok\r\n\r\n\r\nno\r\nnext\r\n\r\n\r\n\r\ngo on\r\n"
      "more\r\nmore\r\nmore\r\nmore\r\nnot now\r\n\r\nq\r\nyes\r\nquit";
  for (const char* binary : {VARNALO_BIN, VARNALO_NM_BIN}) {
    TempWorkdir dir;
    with_examples(dir);
    EXPECT_EQ(run_binary(binary, dir, answers), 0) << binary << dir.read("errors.txt");
    EXPECT_EQ(dir.read("errors.txt"), "");
    EXPECT_EQ(count_of(dir.read("REPORT.TXT"), "\f"), 1);
    EXPECT_EQ(count_of(dir.read("screen.txt"), "ED50 (90% Limits)"), 0) << "\"not now\" is no";
    EXPECT_NE(dir.read("screen.txt").find("ED50 (95% Limits)"), std::string::npos);
    EXPECT_EQ(dir.read("SIGMOID.TXT").find("\t\t\tUSE LEFT COLUMNS FOR THE GRAPHIC DISPLAY\n"), 0u);
  }
}

TEST(Programs, AnswersRunningOutEndWithStatusOneAndKeepTheReport) {
  TempWorkdir dir;
  with_examples(dir);
  const std::string answers = full_session();
  EXPECT_EQ(run_binary(VARNALO_BIN, dir, answers.substr(0, answers.size() - 8)), 1);
  EXPECT_EQ(dir.read("errors.txt"), kEndOfInputMessage);
  EXPECT_EQ(dir.read("REPORT.TXT").find("*** Varnalo ver.1.63 ***"), 0u);
}

}  // namespace
}  // namespace varnalo
