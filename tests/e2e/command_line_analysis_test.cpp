// Whole analyses from the command line: the same files as the dialogue
// answered alike, run in-process and with the real programs; one analysis
// per file with a refused file among them; what the screen and the error
// stream show.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "apps/command_line.h"
#include "apps/program.h"
#include "fit/edition.h"
#include "foundation/console.h"
#include "foundation/process.h"
#include "support/harness.h"

namespace fs = std::filesystem;

namespace varnalo {
namespace {

using testing::examples_path;
using testing::SessionResult;
using testing::TempWorkdir;

// The error stream of the run, collected while it lives.
class CollectedErrors {
 public:
  CollectedErrors() {
    previous_ = set_error_sink([this](std::string_view text) { text_.append(text); });
  }
  ~CollectedErrors() { set_error_sink(previous_); }
  const std::string& text() const { return text_; }

 private:
  ErrorSink previous_;
  std::string text_;
};

struct CommandResult {
  int status = -1;
  std::string screen;
  std::string errors;
};

// Runs the analyses of a command line in-process; the data folder and the
// output folder are the given ones unless the arguments name others.
CommandResult run_command(const Edition& edition, std::vector<std::string> args,
                          const fs::path& data, const fs::path& out) {
  args.insert(args.begin(), {"Varnalo", "--data-dir", data.string(), "--output-dir", out.string()});
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  const CommandLine line = read_command_line(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(line.request, CommandLineRequest::kAnalyses) << line.error;
  CommandResult result;
  ScriptedConsole console("");
  CollectedErrors errors;
  result.status = run_given_analyses(line, edition, console);
  result.screen = console.screen();
  result.errors = errors.text();
  EXPECT_EQ(console.unread(), "") << "nothing is read";
  return result;
}

// The dialogue's answers of the analysis that kCommand gives.
const char* const kDialogueAnswers =
    "\n\nROTENONE\nBEETLE\nq\n\n\n"  // dose, variance method, names, listing pauses
    "2\n4\n"                          // logistic, model 4
    "\n\n\n\n"                        // separate slopes: no edit, frequency pauses, estimates
    "\n\n\n"                          // common slope: no edit, frequency pauses
    "\n\n\n\n"                        // levels, choice, pause
    "\n\n\n\n"                        // estimate and matrix pauses
    "y\n0.9\n\n\nt\n\n\nq\n"          // 90/99, ED90 and the table, two pauses each
    "2\n\n\nq\n"                      // reference 2 with two pauses
    "\n\n\n"                          // natural-rate pauses
    "y\nq\n";                         // plots, end
const std::vector<std::string> kCommand = {
    "--distribution", "logistic", "--model", "4", "--limits-90-99", "--ed", "0.9", "--ed-table",
    "--reference", "2", "--plot", "ROTENONE", "BEETLE"};

const char* const kFilesOfBothWays[] = {"REPORT.TXT",       "TABLE.TXT",      "SIGMOID.TXT",
                                        "LINEAR.TXT",       "SIGMOID001.SVG", "LINEAR001.SVG",
                                        "ANALYSIS001.JSON", "EDS001.CSV",     "ESTIMATES001.CSV"};

void with_examples(const TempWorkdir& dir) {
  dir.copy_data(examples_path("DATA/ROTENONE.TXT"));
  dir.copy_data(examples_path("DATA/BEETLE.TXT"));
}

TEST(CommandLineAnalysis, WritesWhatTheDialogueWritesAnsweredAlike) {
  for (const Edition* edition : {&kVariableMetricEdition, &kSimplexEdition}) {
    TempWorkdir dialogue_dir, command_dir;
    with_examples(dialogue_dir);
    with_examples(command_dir);
    const SessionResult dialogue = testing::run_session(*edition, dialogue_dir, kDialogueAnswers);
    ASSERT_EQ(dialogue.status, 0) << dialogue.errors;
    ASSERT_EQ(dialogue.unread_input, "");
    const CommandResult command =
        run_command(*edition, kCommand, command_dir.root() / "DATA", command_dir.root());
    EXPECT_EQ(command.status, 0) << command.errors;
    EXPECT_EQ(command.errors, "");
    for (const char* file : kFilesOfBothWays)
      EXPECT_EQ(command_dir.read(file), dialogue_dir.read(file)) << file;
    EXPECT_NE(command_dir.read("ANALYSIS001.JSON"), "");
    // The screen: the report's lines without a prompt.
    EXPECT_EQ(command.screen.find("[*/"), std::string::npos);
    EXPECT_EQ(command.screen.find("[name/q]"), std::string::npos);
    EXPECT_NE(command.screen.find("ED90 (95% Limits)"), std::string::npos);
    EXPECT_NE(command.screen.find("  Results: ANALYSIS001.JSON EDS001.CSV ESTIMATES001.CSV\n"),
              std::string::npos);
  }
}

TEST(CommandLineAnalysis, OneAnalysisPerFileGoesOnPastARefusedFile) {
  TempWorkdir dir;
  with_examples(dir);
  dir.write_data("DAMAGED.TXT", "10.2 50 44\n7.7 49 forty\n");
  dir.write_data("EXCEEDS.TXT", "10.2 50 44\n7.7 49 52\n5.1 46 24\n");
  const fs::path out = dir.root() / "results" / "today";
  const CommandResult result =
      run_command(kVariableMetricEdition,
                  {"--each", "ROTENONE", "DAMAGED", "BEETLE", "MISSING", "EXCEEDS"},
                  dir.root() / "DATA", out);
  EXPECT_EQ(result.status, 1);
  // One line for each file that failed, naming it; the others analysed.
  EXPECT_EQ(result.errors,
            "  NOT A NUMBER IN 'DAMAGED', line 2: 'forty'\n"
            "  CAN'T OPEN 'MISSING'\n"
            "  RESPONSES EXCEED SUBJECTS IN 'EXCEEDS', line 2: '52'\n");
  std::ifstream report(out / "REPORT.TXT");
  const std::string text((std::istreambuf_iterator<char>(report)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("refer to        ROTENONE"), std::string::npos);
  EXPECT_NE(text.find("refer to        BEETLE"), std::string::npos);
  EXPECT_EQ(text.find("DAMAGED"), std::string::npos);
  for (const char* file : {"ANALYSIS001.JSON", "EDS001.CSV", "ESTIMATES001.CSV",
                           "ANALYSIS002.JSON", "EDS002.CSV", "ESTIMATES002.CSV"})
    EXPECT_TRUE(fs::is_regular_file(out / file)) << file;
  EXPECT_FALSE(fs::exists(out / "ANALYSIS003.JSON"));
  EXPECT_FALSE(fs::exists(dir.root() / "REPORT.TXT")) << "nothing in the working folder";
}

TEST(CommandLineAnalysis, FailuresThatEndTheRunSayWhatFailed) {
  TempWorkdir dir;
  with_examples(dir);
  // One analysis of several files: a refused one leaves nothing to analyse.
  const CommandResult refused = run_command(kVariableMetricEdition, {"ROTENONE", "NOFILE"},
                                            dir.root() / "DATA", dir.root());
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.errors, "  CAN'T OPEN 'NOFILE'\n");
  EXPECT_EQ(refused.screen, "") << "nothing starts";
  EXPECT_FALSE(fs::exists(dir.root() / "REPORT.TXT"));
  EXPECT_FALSE(fs::exists(dir.root() / "ANALYSIS001.JSON"));

  // A file given by path is named by its path when it cannot be opened.
  const CommandResult path = run_command(kVariableMetricEdition, {"no/such/X.TXT"},
                                         dir.root() / "DATA", dir.root());
  EXPECT_EQ(path.status, 1);
  EXPECT_EQ(path.errors, "  CAN'T OPEN 'no/such/X.TXT'\n");

  // An output folder that cannot be made.
  std::ofstream(dir.root() / "plain") << "a file\n";
  const CommandResult folder = run_command(kVariableMetricEdition, {"ROTENONE"},
                                           dir.root() / "DATA", dir.root() / "plain" / "out");
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.errors.rfind("  CAN'T MAKE THE OUTPUT FOLDER '", 0), 0u) << folder.errors;
}

TEST(CommandLineAnalysis, QuietShowsNothingAndPathsNameThePreparation) {
  TempWorkdir dir;
  std::filesystem::create_directories(dir.root() / "lab");
  fs::copy_file(examples_path("DATA/ROTENONE.TXT"), dir.root() / "lab" / "Rot-2024.txt");
  const CommandResult result =
      run_command(kSimplexEdition, {"--quiet", (dir.root() / "lab" / "Rot-2024.txt").string()},
                  dir.root() / "DATA", dir.root());
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(result.screen, "");
  EXPECT_NE(dir.read("REPORT.TXT").find("refer to        Rot-2024"), std::string::npos);
  EXPECT_EQ(dir.read("TABLE.TXT").find("Rot-2024\t"), dir.read("TABLE.TXT").find("Rot-2024"));
}

// ---- the real programs --------------------------------------------------------

int run_shell(const TempWorkdir& dir, const std::string& command) {
  const std::string line = "cd '" + dir.root().string() + "' && " + command;
  const int raw = std::system(line.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string quoted_arguments(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += " '" + arg + "'";
  return text;
}

TEST(CommandLinePrograms, AnalyseAsTheirDialogueDoes) {
  for (const char* binary : {VARNALO_BIN, VARNALO_NM_BIN}) {
    TempWorkdir dialogue_dir, command_dir;
    with_examples(dialogue_dir);
    with_examples(command_dir);
    std::ofstream(dialogue_dir.root() / "answers.txt", std::ios::binary) << kDialogueAnswers;
    ASSERT_EQ(run_shell(dialogue_dir, std::string("'") + binary +
                                          "' < answers.txt > screen.txt 2> errors.txt"),
              0);
    // Standard input is not read: a closed one changes nothing.
    EXPECT_EQ(run_shell(command_dir, std::string("'") + binary + "'" + quoted_arguments(kCommand) +
                                         " <&- > screen.txt 2> errors.txt"),
              0)
        << command_dir.read("errors.txt");
    EXPECT_EQ(command_dir.read("errors.txt"), "");
    for (const char* file : kFilesOfBothWays)
      EXPECT_EQ(command_dir.read(file), dialogue_dir.read(file)) << binary << " " << file;
  }
}

TEST(CommandLinePrograms, FortyFilesIntoAnOutputFolder) {
  TempWorkdir dir;
  // Forty assays: the rotenone groups with the responders moved by one.
  std::vector<std::string> names;
  for (int i = 1; i <= 40; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "ASSAY%02d", i);
    names.push_back(name);
    dir.write_data(std::string(name) + ".TXT",
                   "10.2 50 " + std::to_string(40 + i % 5) + "\n7.7 49 42\n5.1 46 " +
                       std::to_string(20 + i % 7) + "\n3.8 48 16\n2.6 50 6\n");
  }
  const std::string command = std::string("'") + VARNALO_BIN +
                              "' --each --quiet --output-dir out DATA/*.TXT > screen.txt 2> errors.txt";
  ASSERT_EQ(run_shell(dir, command), 0) << dir.read("errors.txt");
  EXPECT_EQ(dir.read("errors.txt"), "");
  EXPECT_EQ(dir.read("screen.txt"), "");
  for (int i = 1; i <= 40; ++i) {
    char json[32];
    std::snprintf(json, sizeof json, "out/ANALYSIS%03d.JSON", i);
    EXPECT_TRUE(fs::is_regular_file(dir.root() / json)) << json;
  }
  EXPECT_FALSE(fs::exists(dir.root() / "out" / "ANALYSIS041.JSON"));

  // A damaged file among them: status 1, one line naming it, every other
  // file analysed.
  dir.write_data("ASSAY17.TXT", "10.2 50 44\n7.7 49\n");
  const std::string again = std::string("'") + VARNALO_BIN +
                            "' --each --quiet --output-dir again DATA/*.TXT > screen.txt 2> errors.txt";
  EXPECT_EQ(run_shell(dir, again), 1);
  EXPECT_EQ(dir.read("errors.txt"), "  INCOMPLETE DOSE GROUP IN 'ASSAY17', line 2: '7.7 49'\n");
  for (int i = 1; i <= 39; ++i) {
    char json[32];
    std::snprintf(json, sizeof json, "again/ANALYSIS%03d.JSON", i);
    EXPECT_TRUE(fs::is_regular_file(dir.root() / json)) << json;
  }
  EXPECT_FALSE(fs::exists(dir.root() / "again" / "ANALYSIS040.JSON"));
  std::ifstream table(dir.root() / "again" / "TABLE.TXT");
  std::string line;
  int rows = 0;
  while (std::getline(table, line)) rows += line.rfind("ASSAY", 0) == 0 ? 1 : 0;
  EXPECT_EQ(rows, 39);
}

TEST(CommandLinePrograms, UnknownOptionsAndBareNamesNeverStartTheDialogue) {
  TempWorkdir dir;
  with_examples(dir);
  // A bare name is an analysis of that file.
  EXPECT_EQ(run_shell(dir, std::string("'") + VARNALO_BIN +
                               "' ROTENONE < /dev/null > screen.txt 2> errors.txt"),
            0);
  EXPECT_EQ(dir.read("errors.txt"), "");
  EXPECT_NE(dir.read("REPORT.TXT").find("ROTENONE"), std::string::npos);
  EXPECT_EQ(run_shell(dir, std::string("'") + VARNALO_NM_BIN +
                               "' --bogus < /dev/null > screen.txt 2> errors.txt"),
            kUsageErrorStatus);
  EXPECT_EQ(dir.read("screen.txt"), "");
  EXPECT_EQ(dir.read("errors.txt"),
            "VarnaloNM: The following argument was not expected: --bogus\n"
            "Usage: VarnaloNM [OPTION]... FILE...  (VarnaloNM --help tells more)\n");
}

}  // namespace
}  // namespace varnalo
