// The command line: which arguments answer at once, which are usage errors,
// how data files and options become the plan of the analyses, what is
// printed, and how a failed write is reported.
#include "apps/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "session/run.h"
#include "foundation/state.h"

namespace varnalo {
namespace {

CommandLine parse(std::vector<const char*> args) {
  args.insert(args.begin(), "/usr/bin/Varnalo");
  return read_command_line(static_cast<int>(args.size()), args.data());
}

CommandLineRequest request(std::vector<const char*> args) { return parse(std::move(args)).request; }

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

TEST(CommandLine, HelpAndVersionAnswerAtOnceWhereverTheyStand) {
  EXPECT_EQ(request({}), CommandLineRequest::kDialogue);
  EXPECT_EQ(request({"--help"}), CommandLineRequest::kHelp);
  EXPECT_EQ(request({"-h"}), CommandLineRequest::kHelp);
  EXPECT_EQ(request({"--version"}), CommandLineRequest::kVersion);
  // An option counts wherever it stands, even among bad ones; the first of
  // the two decides.
  EXPECT_EQ(request({"ROTENONE", "--version"}), CommandLineRequest::kVersion);
  EXPECT_EQ(request({"--version", "--help"}), CommandLineRequest::kVersion);
  EXPECT_EQ(request({"x", "--bogus", "--help", "--version"}), CommandLineRequest::kHelp);
}

TEST(CommandLine, AnythingElseThatIsNoAnalysisIsAUsageError) {
  const struct {
    std::vector<const char*> args;
    const char* error;  // the start of the line
  } cases[] = {
      {{"--bogus"}, "The following argument was not expected: --bogus"},
      {{"-help"}, "The following argument was not expected: -help"},
      {{"--HELP", "X"}, "The following argument was not expected: --HELP"},
      {{"--help=yes"}, "The following argument was not expected: --help=yes"},
      {{"--model", "9", "X"}, "--model: Value 9 not in range"},
      {{"--model", "two", "X"}, "--model: Value two not in range"},
      {{"--distribution", "weibull", "X"}, "--distribution: Check"},
      {{"--level", "1.5", "X"}, "--level: Value 1.5 not in range"},
      {{"--ed", "0.5,0.995", "X"}, "--ed: Value 0.995 not in range"},
      {{"--known-c", "1", "X"}, "--known-c: the known C must lie between 0 and 1"},
      {{"--model", "2"}, "no data file given"},
      {{""}, "a data file argument names no file: ''"},
      {{"A", "B", "a"}, "the data file 'a' is named twice in one analysis"},
      {{"A", "dir/A.TXT"}, "the data file 'A' is named twice in one analysis"},
      {{"ABCDEFGHIJABCDEFGHIJABCDEFGHIJ"},
       "the data file name 'ABCDEFGHIJABCDEFGHIJABCDEFGHIJ' is longer than 29 characters"},
      {{"--reference", "3", "A", "B"},
       "--reference: '3' is neither a data file of the analysis nor a number from 1 to 2"},
      {{"--each", "--reference", "1", "A", "B"}, "--reference needs several data files"},
  };
  for (const auto& c : cases) {
    const CommandLine line = parse(c.args);
    EXPECT_EQ(line.request, CommandLineRequest::kUsageError) << c.error;
    EXPECT_EQ(line.error.rfind(c.error, 0), 0u) << line.error;
    EXPECT_EQ(line.error.find('\n'), std::string::npos) << line.error;
  }
}

TEST(CommandLine, DataFilesRunTheDialoguesDefaults) {
  // A bare name is an analysis, never the dialogue.
  const CommandLine line = parse({"ROTENONE"});
  ASSERT_EQ(line.request, CommandLineRequest::kAnalyses);
  const AnalysisPlan& plan = line.plan;
  ASSERT_EQ(plan.analyses.size(), 1u);
  ASSERT_EQ(plan.analyses[0].size(), 1u);
  EXPECT_EQ(plan.analyses[0][0].name, "ROTENONE");
  EXPECT_EQ(plan.analyses[0][0].path, "");
  EXPECT_EQ(plan.dose_scale, 1);
  EXPECT_EQ(plan.variance_method, 1);
  EXPECT_EQ(plan.distribution, 1);
  EXPECT_EQ(plan.model.model, 1);
  EXPECT_EQ(plan.model.fixed_c, 0.5);
  EXPECT_EQ(plan.chi2_level, 0.05);
  EXPECT_EQ(plan.vr_level, 0.05);
  EXPECT_EQ(plan.chi_choice, 1);
  EXPECT_FALSE(plan.limits_90_99);
  EXPECT_EQ(plan.ed_levels, std::vector<double>{0.5});
  EXPECT_FALSE(plan.ed_table);
  EXPECT_EQ(plan.references, std::vector<int>{1});
  EXPECT_FALSE(plan.plot_files);
  EXPECT_EQ(line.data_dir, "DATA");
  EXPECT_EQ(line.output_dir, ".");
  EXPECT_EQ(line.dose_unit, "");
  EXPECT_FALSE(line.quiet);
}

TEST(CommandLine, OptionsGiveEveryAnswer) {
  const CommandLine line =
      parse({"--log-dose", "--distribution", "LOGIT", "--model", "7", "--known-c", "0.2",
             "--variance", "finney", "--level", "0.1", "--ratio-level", "0.01", "--test", "lr",
             "--ed", "0.1,0.9", "--ed", "0.5", "--ed-table", "--limits-90-99", "--reference",
             "beetle,1", "--plot", "--dose-unit", "mg/l", "--data-dir", "in", "--output-dir",
             "out", "-q", "ROTENONE", "BEETLE"});
  ASSERT_EQ(line.request, CommandLineRequest::kAnalyses) << line.error;
  const AnalysisPlan& plan = line.plan;
  EXPECT_EQ(plan.dose_scale, 2);
  EXPECT_EQ(plan.distribution, 2);
  EXPECT_EQ(plan.model.model, 7);
  EXPECT_EQ(plan.model.fixed_c, 0.2);
  EXPECT_EQ(plan.variance_method, 2);
  EXPECT_EQ(plan.chi2_level, 0.1);
  EXPECT_EQ(plan.vr_level, 0.01);
  EXPECT_EQ(plan.chi_choice, 2);
  EXPECT_EQ(plan.ed_levels, (std::vector<double>{0.1, 0.9, 0.5}));
  EXPECT_TRUE(plan.ed_table);
  EXPECT_TRUE(plan.limits_90_99);
  EXPECT_EQ(plan.references, (std::vector<int>{2, 1}));
  EXPECT_TRUE(plan.plot_files);
  EXPECT_EQ(line.dose_unit, "mg/l");
  EXPECT_EQ(line.data_dir, "in");
  EXPECT_EQ(line.output_dir, "out");
  EXPECT_TRUE(line.quiet);
  ASSERT_EQ(plan.analyses.size(), 1u);
  EXPECT_EQ(plan.analyses[0].size(), 2u);

  // Menu numbers do as well as words; the table of EDs alone without --ed.
  const CommandLine numbers = parse({"--distribution", "3", "--variance", "2", "--test", "1",
                                     "--ed-table", "X"});
  ASSERT_EQ(numbers.request, CommandLineRequest::kAnalyses) << numbers.error;
  EXPECT_EQ(numbers.plan.distribution, 3);
  EXPECT_EQ(numbers.plan.variance_method, 2);
  EXPECT_EQ(numbers.plan.chi_choice, 1);
  EXPECT_TRUE(numbers.plan.ed_levels.empty());
}

TEST(CommandLine, PathsAndOneAnalysisPerFile) {
  const CommandLine line = parse({"--each", "lab/A1.TXT", "B2", "./c.d.txt", "lab/A1.TXT"});
  ASSERT_EQ(line.request, CommandLineRequest::kAnalyses) << line.error;
  const auto& analyses = line.plan.analyses;
  ASSERT_EQ(analyses.size(), 4u);
  const struct {
    const char* name;
    const char* path;
  } expected[] = {{"A1", "lab/A1.TXT"}, {"B2", ""}, {"c.d", "./c.d.txt"}, {"A1", "lab/A1.TXT"}};
  for (std::size_t i = 0; i < analyses.size(); ++i) {
    ASSERT_EQ(analyses[i].size(), 1u);
    EXPECT_EQ(analyses[i][0].name, expected[i].name);
    EXPECT_EQ(analyses[i][0].path, expected[i].path);
  }
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
       {"Usage: VarnaloNM   ", "VarnaloNM [OPTION]... FILE...", "VarnaloNM --help | --version",
        "DATA/NAME.TXT", "standard input", "VarnaloNM < answers.txt", "REPORT.TXT", "TABLE.TXT",
        "SIGMOID.TXT", "LINEAR.TXT", "ANALYSISnnn.JSON", "EDSnnn.CSV", "ESTIMATESnnn.CSV",
        "using the simplex,", "--each", "--output-dir", "--dose-unit", "man VarnaloNM\n"})
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
  EXPECT_EQ(answer_command_line(read_command_line(2, version), kVariableMetricEdition, "m", out.f,
                                err.f),
            0);
  EXPECT_EQ(contents(out.f), "Varnalo 1.63\n");

  TempStream help;
  const char* help_args[] = {"VarnaloNM", "--help"};
  EXPECT_EQ(answer_command_line(read_command_line(2, help_args), kSimplexEdition, "m", help.f,
                                err.f),
            0);
  EXPECT_EQ(contents(help.f), usage_text("VarnaloNM", "m"));

  TempStream untouched;
  const char* dialogue[] = {"Varnalo"};
  EXPECT_EQ(answer_command_line(read_command_line(1, dialogue), kVariableMetricEdition, "m",
                                untouched.f, err.f),
            std::nullopt);
  const char* analysis[] = {"Varnalo", "ROTENONE"};
  EXPECT_EQ(answer_command_line(read_command_line(2, analysis), kVariableMetricEdition, "m",
                                untouched.f, err.f),
            std::nullopt);
  EXPECT_EQ(contents(untouched.f), "");
  EXPECT_EQ(contents(err.f), "");

  // A usage error: one line saying what is wrong, the usage line, status 2.
  const char* other[] = {"VarnaloNM", "--verbose"};
  EXPECT_EQ(answer_command_line(read_command_line(2, other), kSimplexEdition, "m", untouched.f,
                                err.f),
            kUsageErrorStatus);
  EXPECT_EQ(contents(untouched.f), "");
  EXPECT_EQ(contents(err.f),
            "VarnaloNM: The following argument was not expected: --verbose\n"
            "Usage: VarnaloNM [OPTION]... FILE...  (VarnaloNM --help tells more)\n");
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
