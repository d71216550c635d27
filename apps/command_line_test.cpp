// The command line: which arguments answer at once, what they print, and
// how a failed write is reported.
#include "apps/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "session/run.h"
#include "foundation/state.h"

namespace varnalo {
namespace {

CommandLineRequest request(std::vector<const char*> args) {
  args.insert(args.begin(), "/usr/bin/Varnalo");
  return read_command_line(static_cast<int>(args.size()), args.data());
}

// Everything written to a temporary stream.
std::string contents(std::FILE* f) {
  std::string text;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

struct TempStream {
  std::FILE* f = std::tmpfile();
  ~TempStream() {
    if (f) std::fclose(f);
  }
};

TEST(CommandLine, OnlyTheExactOptionsAnswerAtOnce) {
  EXPECT_EQ(request({}), CommandLineRequest::kDialogue);
  EXPECT_EQ(request({"--help"}), CommandLineRequest::kHelp);
  EXPECT_EQ(request({"--version"}), CommandLineRequest::kVersion);
  // Anything else is ignored, as the programs always did.
  for (const char* other : {"-h", "-help", "--HELP", "--help=yes", "--versions", "-V", "help", ""})
    EXPECT_EQ(request({other}), CommandLineRequest::kDialogue) << '"' << other << '"';
  // An option counts wherever it stands; the first of the two decides.
  EXPECT_EQ(request({"ROTENONE", "--version"}), CommandLineRequest::kVersion);
  EXPECT_EQ(request({"--version", "--help"}), CommandLineRequest::kVersion);
  EXPECT_EQ(request({"x", "--help", "--version"}), CommandLineRequest::kHelp);
}

TEST(CommandLine, VersionComesFromTheBannerConstant) {
  EXPECT_EQ(version_text("Varnalo"), "Varnalo 1.63\n");
  EXPECT_EQ(version_text("VarnaloNM"), "VarnaloNM 1.63\n");
  char banner_number[32];
  std::snprintf(banner_number, sizeof banner_number, "%2.2lf", kVersion);
  EXPECT_EQ(version_text("X"), std::string("X ") + banner_number + "\n");
}

TEST(CommandLine, UsageNamesTheWorkingFolderInputOutputsAndManual) {
  const std::string usage = usage_text("VarnaloNM", "the simplex");
  for (const char* needed :
       {"Usage: VarnaloNM [--help | --version]", "DATA/NAME.TXT", "standard input",
        "VarnaloNM < answers.txt", "REPORT.TXT", "TABLE.TXT", "SIGMOID.TXT", "LINEAR.TXT",
        "using the simplex,", "man VarnaloNM\n"})
    EXPECT_NE(usage.find(needed), std::string::npos) << needed;
  std::size_t start = 0;
  while (start < usage.size()) {
    const std::size_t end = usage.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "the usage ends with a line end";
    EXPECT_LE(end - start, 79u) << usage.substr(start, end - start);
    start = end + 1;
  }
}

TEST(CommandLine, AnswersOnTheOutputStreamOrLeavesTheDialogue) {
  TempStream out, err;
  ASSERT_TRUE(out.f && err.f);
  const char* version[] = {"Varnalo", "--version"};
  EXPECT_EQ(answer_command_line(2, version, kVariableMetricEdition, "m", out.f, err.f), 0);
  EXPECT_EQ(contents(out.f), "Varnalo 1.63\n");

  TempStream help;
  const char* help_args[] = {"VarnaloNM", "--help"};
  EXPECT_EQ(answer_command_line(2, help_args, kSimplexEdition, "m", help.f, err.f), 0);
  EXPECT_EQ(contents(help.f), usage_text("VarnaloNM", "m"));

  TempStream untouched;
  const char* other[] = {"Varnalo", "--verbose"};
  EXPECT_EQ(answer_command_line(2, other, kVariableMetricEdition, "m", untouched.f, err.f),
            std::nullopt);
  EXPECT_EQ(answer_command_line(1, other, kVariableMetricEdition, "m", untouched.f, err.f),
            std::nullopt);
  EXPECT_EQ(contents(untouched.f), "");
  EXPECT_EQ(contents(err.f), "");
}

TEST(CommandLine, AFailedWriteEndsWithStatusOneAndAMessage) {
  TempStream err;
  ASSERT_TRUE(err.f);
  // A stream open for reading only refuses every write.
  std::FILE* read_only = std::fopen("/dev/null", "r");
  ASSERT_NE(read_only, nullptr);
  EXPECT_EQ(write_text(read_only, err.f, "Varnalo", "Varnalo 1.63\n"), 1);
  std::fclose(read_only);
  const std::string message = contents(err.f);
  EXPECT_EQ(message.rfind("Varnalo: cannot write to standard output", 0), 0u) << message;
  EXPECT_EQ(message.back(), '\n');

  // A full device accepts the bytes into the buffer and fails at the flush.
  if (std::FILE* full = std::fopen("/dev/full", "w")) {
    TempStream err2;
    EXPECT_EQ(write_text(full, err2.f, "VarnaloNM", "VarnaloNM 1.63\n"), 1);
    std::fclose(full);
    EXPECT_NE(contents(err2.f).find("VarnaloNM: cannot write to standard output: "),
              std::string::npos);
  }
}

}  // namespace
}  // namespace varnalo
