// Whole sessions under hard use: answers written on Windows, data saved with
// a byte-order mark, output files that cannot be written or are not files,
// closed standard streams, endless input lines and exhausted memory. In
// process where the condition can be set up there, with the real programs
// where it needs a process of its own (descriptors, limits).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include "foundation/console.h"
#include "foundation/process.h"
#include "session/run.h"
#include "support/harness.h"

namespace varnalo {
namespace {

namespace fs = std::filesystem;
using testing::examples_path;
using testing::run_session;
using testing::SessionResult;
using testing::TempWorkdir;

TempWorkdir& with_examples(TempWorkdir& dir) {
  dir.copy_data(examples_path("DATA/ROTENONE.TXT"));
  dir.copy_data(examples_path("DATA/BEETLE.TXT"));
  return dir;
}

// One preparation with Enter at every menu and plot data: the README
// answers.
std::string one_preparation_session() {
  return "\n\nROTENONE\nq\n\n\n\n\n\n\n\n\n\n\n\n\n\n\nq\ny\nq";
}

// Two preparations through the single-key prompts: edited starting values
// ended with "n", 90 and 99 per cent limits ("y"), the table of EDs, a
// reference, plots ("y"), then a second analysis ("n" at the end prompt)
// that ends with "q".
std::string two_preparation_session() {
  const std::string analysis = testing::two_preparation_analysis();
  return "\n\n" + analysis + "n\n" + analysis + "q";
}

std::string with_crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Runs a real program in the working folder through the shell; `redirects`
// replaces the usual ones. Returns its exit status.
int run_binary(const char* binary, const TempWorkdir& dir, const std::string& answers,
               const std::string& redirects = "< answers.txt > screen.txt 2> errors.txt",
               const std::string& before = "") {
  std::ofstream(dir.root() / "answers.txt", std::ios::binary) << answers;
  const std::string command = "cd '" + dir.root().string() + "' && " + before + " '" + binary +
                              "' " + redirects;
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(HardUse, WindowsLineEndsInTheAnswersGiveTheSameFiles) {
  for (const std::string& input : {one_preparation_session(), two_preparation_session()}) {
    TempWorkdir unix_dir, windows_dir;
    const SessionResult lf = run_session(kVariableMetricEdition, with_examples(unix_dir), input);
    const SessionResult crlf =
        run_session(kVariableMetricEdition, with_examples(windows_dir), with_crlf(input));
    ASSERT_EQ(lf.status, 0) << lf.errors;
    EXPECT_EQ(crlf.status, 0) << crlf.errors;
    EXPECT_EQ(crlf.errors, "");
    EXPECT_EQ(crlf.unread_input, "");
    EXPECT_EQ(crlf.report, lf.report);
    EXPECT_EQ(crlf.table, lf.table);
    EXPECT_EQ(crlf.sigmoid, lf.sigmoid);
    EXPECT_EQ(crlf.linear, lf.linear);
    EXPECT_EQ(crlf.screen, lf.screen);
  }
  // And the real program with an answer file saved on Windows.
  TempWorkdir dir;
  with_examples(dir);
  EXPECT_EQ(run_binary(VARNALO_NM_BIN, dir, with_crlf(one_preparation_session())), 0)
      << dir.read("errors.txt");
  TempWorkdir unix_dir;
  with_examples(unix_dir);
  EXPECT_EQ(run_binary(VARNALO_NM_BIN, unix_dir, one_preparation_session()), 0);
  EXPECT_EQ(dir.read("REPORT.TXT"), unix_dir.read("REPORT.TXT"));
}

TEST(HardUse, ADataFileWithAByteOrderMarkIsAnalysed) {
  std::ifstream in(examples_path("DATA/ROTENONE.TXT"), std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TempWorkdir plain, marked;
  plain.write_data("ROTENONE.TXT", data);
  marked.write_data("ROTENONE.TXT", "\xEF\xBB\xBF" + with_crlf(data));
  const SessionResult expected = run_session(kVariableMetricEdition, plain, one_preparation_session());
  const SessionResult got = run_session(kVariableMetricEdition, marked, one_preparation_session());
  EXPECT_EQ(got.status, 0) << got.errors;
  EXPECT_EQ(got.report, expected.report);
}

TEST(HardUse, AnOutputFileThatCannotBeWrittenEndsTheRunNamingIt) {
  // /dev/full takes every write and refuses it. Run as a program: read back,
  // the device would give zeros without end.
  for (const char* file : {"REPORT.TXT", "TABLE.TXT", "SIGMOID.TXT", "LINEAR.TXT"}) {
    TempWorkdir dir;
    with_examples(dir);
    fs::create_symlink("/dev/full", dir.root() / file);
    EXPECT_EQ(run_binary(VARNALO_BIN, dir, one_preparation_session()), 1) << file;
    EXPECT_EQ(dir.read("errors.txt"),
              std::string("  CAN'T WRITE '") + file + "': No space left on device\n");
    // What reached the report before stays: up to the TABLE.TXT record (in
    // the potency stage), or all of it when a plot file fails.
    const std::string name = file;
    if (name == "REPORT.TXT") continue;
    const std::string report = dir.read("REPORT.TXT");
    if (name == "TABLE.TXT") {
      EXPECT_NE(report.find("Index of Regression Significance"), std::string::npos);
      EXPECT_FALSE(report.ends_with("\f"));
    } else {
      EXPECT_TRUE(report.ends_with("\f")) << file;
    }
  }
}

TEST(HardUse, AFileSizeLimitKeepsWhatWasWrittenBefore) {
  TempWorkdir full, limited;
  with_examples(full);
  with_examples(limited);
  ASSERT_EQ(run_binary(VARNALO_BIN, full, one_preparation_session()), 0);
  std::ofstream(limited.root() / "REPORT.TXT") << "kept\n";
  // 4 blocks (of 512 or 1024 bytes, by shell) is less than the report of
  // one analysis. The screen goes to /dev/null so that only the report meets
  // the limit.
  const int status = run_binary(VARNALO_BIN, limited, one_preparation_session(),
                                "< answers.txt > /dev/null 2> errors.txt", "ulimit -f 4 &&");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(limited.read("errors.txt"), "  CAN'T WRITE 'REPORT.TXT': File too large\n");
  const std::string whole = "kept\n" + full.read("REPORT.TXT");
  const std::string report = limited.read("REPORT.TXT");
  EXPECT_GT(report.size(), 5u);
  EXPECT_LT(report.size(), whole.size());
  EXPECT_EQ(report, whole.substr(0, report.size())) << "the text before the limit is intact";
}

TEST(HardUse, OutputFilesThatAreNotFilesAreRefusedWithoutWaiting) {
  // A FIFO without a reader would block a plain open for writing forever; a
  // directory cannot take a report. Run as a program: read back, a FIFO
  // would block the test.
  const struct {
    const char* file;
    bool fifo;
    const char* message;
  } cases[] = {
      {"REPORT.TXT", true, "\nCAN'T OPEN 'REPORT.TXT'\n"},
      {"TABLE.TXT", true, "\nCAN'T OPEN 'TABLE.TXT'\n"},
      {"SIGMOID.TXT", true, "\nCAN'T OPEN 'SIGMOID.TXT'\n"},
      {"LINEAR.TXT", false, "\nCAN'T OPEN 'LINAR.TXT'\n"},
  };
  for (const auto& c : cases) {
    TempWorkdir dir;
    with_examples(dir);
    const fs::path path = dir.root() / c.file;
    if (c.fifo)
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    else
      fs::create_directory(path);
    EXPECT_EQ(run_binary(VARNALO_BIN, dir, one_preparation_session()), 1) << c.file;
    EXPECT_EQ(dir.read("errors.txt"), c.message);
  }
}

TEST(HardUse, ClosedStandardStreamsLeaveTheReportClean) {
  TempWorkdir expected_dir, closed_out, closed_err;
  with_examples(expected_dir);
  with_examples(closed_out);
  with_examples(closed_err);
  ASSERT_EQ(run_binary(VARNALO_BIN, expected_dir, one_preparation_session()), 0);
  EXPECT_EQ(run_binary(VARNALO_BIN, closed_out, one_preparation_session(), "< answers.txt >&-"), 0);
  EXPECT_EQ(closed_out.read("REPORT.TXT"), expected_dir.read("REPORT.TXT"));
  // Input that runs out with the error stream closed: the message is lost,
  // not written into the report.
  const std::string cut = one_preparation_session().substr(0, 20);
  EXPECT_EQ(run_binary(VARNALO_BIN, closed_err, cut, "< answers.txt > /dev/null 2>&-"), 1);
  const std::string report = closed_err.read("REPORT.TXT");
  EXPECT_EQ(report.find("End of input"), std::string::npos);
  EXPECT_EQ(report, expected_dir.read("REPORT.TXT").substr(0, report.size()));
  // No input at all: end of input at the first menu.
  EXPECT_EQ(run_binary(VARNALO_BIN, closed_err, "", "<&- > /dev/null 2> errors.txt"), 1);
  EXPECT_EQ(closed_err.read("errors.txt"), kEndOfInputMessage);
}

TEST(HardUse, LongAnswerLinesAreReadThroughAndEndlessOnesEndTheRun) {
  // A long line at the name prompt is refused as a name; the run goes on.
  TempWorkdir dir;
  with_examples(dir);
  std::string input = one_preparation_session();
  input.insert(2, std::string(5'000'000, 'N') + "\n");
  SessionResult result = run_session(kVariableMetricEdition, dir, input);
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(result.errors, "  The name is too long (at most 29 characters).\n");
  // A line that never ends.
  EXPECT_EQ(run_binary(VARNALO_BIN, dir, "", "< /dev/zero > /dev/null 2> errors.txt"), 1);
  EXPECT_EQ(dir.read("errors.txt"), kLongLineMessage);
}

FitResult no_memory_left(AnalysisState&, DRef) { throw std::bad_alloc(); }

TEST(HardUse, ExhaustedMemoryEndsTheRunWithAMessage) {
  // Memory that runs out outside the array allocators, here in the fit.
  const Edition starved = {"Varnalo", "DFP", "m", &no_memory_left, false, true};
  TempWorkdir dir;
  with_examples(dir);
  const SessionResult result = run_session(starved, dir, one_preparation_session());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.errors, kOutOfMemoryMessage);
  EXPECT_NE(result.report.find("Configuration"), std::string::npos) << "written before: kept";
  // The real program under an address-space limit with a data file too
  // large for it: a message and status 1, whichever allocation fails.
  std::ofstream data(dir.root() / "DATA" / "HUGE.TXT");
  for (int i = 0; i < 2'000'000; ++i) data << (i % 7 + 1) << " 20 " << (i % 20) << "\n";
  data.close();
  const int status = run_binary(VARNALO_BIN, dir, "\n\nHUGE\nq\n" + std::string(60, '\n'),
                                "< answers.txt > /dev/null 2> errors.txt", "ulimit -v 120000 &&");
  EXPECT_EQ(status, 1);
  const std::string errors = dir.read("errors.txt");
  EXPECT_TRUE(errors == kOutOfMemoryMessage || errors.find("allocation failure") != std::string::npos)
      << errors;
}

}  // namespace
}  // namespace varnalo
