#include "apps/command_line.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <system_error>
#include <vector>

#include "data/data_files.h"
#include "fit/edition.h"
#include "foundation/state.h"
#include "model/model_form.h"
#include "potency/effective_dose.h"

namespace fs = std::filesystem;

namespace varnalo {

namespace {

constexpr std::string_view kHelpOption = "--help";
constexpr std::string_view kShortHelpOption = "-h";
constexpr std::string_view kVersionOption = "--version";

// The words each menu answer may be given by, besides its number.
const std::map<std::string, int> kDistributions = {
    {"normal", 1}, {"probit", 1}, {"logistic", 2}, {"logit", 2}, {"cloglog", 3}};
const std::map<std::string, int> kVarianceMethods = {{"sas", 1}, {"finney", 2}};
const std::map<std::string, int> kTests = {{"pearson", 1}, {"lr", 2}};

// A data file argument: a path when it holds a '/' or names an existing
// file, otherwise a preparation name in the data folder.
GivenDataFile data_file_argument(const std::string& argument) {
  std::error_code error;
  if (argument.find('/') == std::string::npos && !fs::is_regular_file(argument, error))
    return {argument, {}};
  return {fs::path(argument).stem().string(), argument};
}

// The checks of the data file arguments of one analysis; "" when sound.
std::string check_analysis(const std::vector<GivenDataFile>& files) {
  if (files.size() > static_cast<std::size_t>(kMaxPreparations))
    return "one analysis takes at most " + std::to_string(kMaxPreparations) +
           " data files (--each analyses each file alone)";
  std::set<std::string> seen;
  for (const GivenDataFile& file : files) {
    if (file.name.empty()) return "a data file argument names no file: '" + file.path.string() + "'";
    if (file.name.size() > kMaxNameChars)
      return "the data file name '" + file.name + "' is longer than " +
             std::to_string(kMaxNameChars) + " characters";
    if (!seen.insert(upper_copy(file.name)).second)
      return "the data file '" + file.name + "' is named twice in one analysis";
  }
  return "";
}

// The reference preparations: numbers from 1, or names of the analysis's
// files (ignoring case).
std::string resolve_references(const std::vector<std::string>& given,
                               const std::vector<GivenDataFile>& files, std::vector<int>* out) {
  out->clear();
  for (const std::string& reference : given) {
    int number = 0;
    for (std::size_t i = 0; i < files.size(); ++i)
      if (upper_copy(files[i].name) == upper_copy(reference)) number = static_cast<int>(i) + 1;
    if (number == 0) {
      char* end = nullptr;
      const long value = std::strtol(reference.c_str(), &end, 10);
      if (!reference.empty() && *end == '\0' && value >= 1 &&
          value <= static_cast<long>(files.size()))
        number = static_cast<int>(value);
    }
    if (number == 0)
      return "--reference: '" + reference + "' is neither a data file of the analysis nor a " +
             "number from 1 to " + std::to_string(files.size());
    out->push_back(number);
  }
  return "";
}

CommandLine usage_error(std::string error) {
  CommandLine line;
  line.request = CommandLineRequest::kUsageError;
  line.error = std::move(error);
  return line;
}

}  // namespace

CommandLine read_command_line(int argc, const char* const argv[]) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    if (argv[i] == kHelpOption || argv[i] == kShortHelpOption) {
      line.request = CommandLineRequest::kHelp;
      return line;
    }
    if (argv[i] == kVersionOption) {
      line.request = CommandLineRequest::kVersion;
      return line;
    }
  }
  if (argc <= 1) return line;

  CLI::App app;
  app.set_help_flag();  // --help is answered above, with the program's own usage
  AnalysisPlan& plan = line.plan;
  std::vector<std::string> files;
  bool each = false, log_dose = false, have_known_c = false;
  std::vector<std::string> references;
  app.add_option("files", files);
  app.add_flag("--each", each);
  app.add_option("--data-dir", line.data_dir);
  app.add_option("--output-dir", line.output_dir);
  app.add_flag("--log-dose", log_dose);
  app.add_option("--distribution", plan.distribution)
      ->transform(CLI::CheckedTransformer(kDistributions, CLI::ignore_case));
  app.add_option("--model", plan.model.model)->check(CLI::Range(1, kModelFormCount));
  CLI::Option* known_c = app.add_option("--known-c", plan.model.fixed_c);
  app.add_option("--variance", plan.variance_method)
      ->transform(CLI::CheckedTransformer(kVarianceMethods, CLI::ignore_case));
  app.add_option("--level", plan.chi2_level)->check(CLI::Range(0.0, 1.0));
  app.add_option("--ratio-level", plan.vr_level)->check(CLI::Range(0.0, 1.0));
  app.add_option("--test", plan.chi_choice)
      ->transform(CLI::CheckedTransformer(kTests, CLI::ignore_case));
  CLI::Option* ed = app.add_option("--ed", plan.ed_levels)
                        ->delimiter(',')
                        ->allow_extra_args(false)
                        ->check(CLI::Range(kLowestEdLevel, kHighestEdLevel));
  app.add_flag("--ed-table", plan.ed_table);
  app.add_flag("--limits-90-99", plan.limits_90_99);
  CLI::Option* reference =
      app.add_option("--reference", references)->delimiter(',')->allow_extra_args(false);
  app.add_flag("--plot", plan.plot_files);
  app.add_option("--dose-unit", line.dose_unit);
  app.add_flag("-q,--quiet", line.quiet);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return usage_error(error.what());
  }
  have_known_c = known_c->count() > 0;

  if (files.empty()) return usage_error("no data file given (without arguments the dialogue runs)");
  if (have_known_c && !(plan.model.fixed_c > 0.0 && plan.model.fixed_c < 1.0))
    return usage_error("--known-c: the known C must lie between 0 and 1");
  if (ed->count() == 0 && plan.ed_table) plan.ed_levels.clear();
  plan.dose_scale = log_dose ? 2 : 1;

  std::vector<GivenDataFile> given;
  for (const std::string& file : files) given.push_back(data_file_argument(file));
  if (each) {
    for (const GivenDataFile& file : given) plan.analyses.push_back({file});
    if (reference->count() > 0)
      return usage_error("--reference needs several data files in one analysis, not --each");
  } else {
    plan.analyses.push_back(given);
    if (reference->count() > 0) {
      const std::string error = resolve_references(references, given, &plan.references);
      if (!error.empty()) return usage_error(error);
    }
  }
  for (const auto& analysis : plan.analyses) {
    const std::string error = check_analysis(analysis);
    if (!error.empty()) return usage_error(error);
  }
  line.request = CommandLineRequest::kAnalyses;
  return line;
}

std::string version_text(const char* program_name) {
  char number[32];
  std::snprintf(number, sizeof number, "%2.2lf", kVersion);
  return std::string(program_name) + " " + number + "\n";
}

std::string usage_text(const char* program_name, const char* maximiser) {
  const std::string name = program_name;
  return "Usage: " + name + std::string(22, ' ') + "the dialogue\n"
         "       " + name + " [OPTION]... FILE...  whole analyses without the dialogue\n"
         "       " + name + " --help | --version\n"
         "\n" +
         name +
         " analyses quantal dose-response experiments. It fits a probit,\n"
         "logit or complementary log-log model in log10 dose by maximum likelihood,\n"
         "using " +
         maximiser +
         ",\n"
         "and reports the estimates, goodness-of-fit tests, effective doses and\n"
         "relative potencies with Fieller confidence limits.\n"
         "\n"
         "Run it in a working folder that holds a folder DATA: the data of a\n"
         "preparation NAME are read from DATA/NAME.TXT (dose, subjects, responders\n"
         "for each dose group). The dialogue reads every answer from standard input,\n"
         "so it can also be run from an answer file:\n"
         "  " +
         name +
         " < answers.txt\n"
         "Given data files, the program runs the analysis the dialogue would run\n"
         "with the answers below (defaults: the dialogue's Enter), shows the\n"
         "report's lines without a prompt or a pause, writes the same files and\n"
         "ends with status 0, or 1 after a line naming what failed (a data file\n"
         "refused: the other analyses are still made); a usage error ends with 2.\n"
         "  " + name + " --log-dose --model 2 --ed 0.5,0.9 --plot BEETLE\n"
         "  " + name + " --each --output-dir results DATA/*.TXT\n"
         "\n"
         "Output files, appended to in the output folder (the working folder):\n"
         "  REPORT.TXT   every analysis as shown on the screen\n"
         "  TABLE.TXT    a tab-separated summary, one row per preparation\n"
         "  SIGMOID.TXT  plot data: observed proportions and fitted curves\n"
         "  LINEAR.TXT   plot data: the linearised scale, fitted lines and band\n"
         "  SIGMOIDnnn.PNG/.SVG, LINEARnnn.PNG/.SVG  pictures of the two plots\n"
         "New files of every analysis, for other programs:\n"
         "  ANALYSISnnn.JSON  everything the report prints, as JSON\n"
         "  EDSnnn.CSV        effective doses with their limits\n"
         "  ESTIMATESnnn.CSV  parameter estimates with standard errors\n"
         "\n"
         "FILE: a preparation NAME in the data folder, or the path of a data file.\n"
         "Options (a whole analysis):\n"
         "  --each                one analysis per data file (default: one analysis\n"
         "                        of all files, one preparation each)\n"
         "  --data-dir DIR        folder of the files given by name (default DATA)\n"
         "  --output-dir DIR      folder of the output files (default: here)\n"
         "  --log-dose            the files hold log10 doses (default: doses)\n"
         "  --distribution D      normal (probit), logistic (logit) or cloglog\n"
         "  --model N             model form 1 to 8 (default 1; see the manual)\n"
         "  --known-c C           the known C of models 5 and 7 (default 0.5)\n"
         "  --variance V          sas or finney (default sas)\n"
         "  --level P             significance level of the chi-square tests (0.05)\n"
         "  --ratio-level P       level of the variance ratio test (0.05)\n"
         "  --test T              pearson or lr: the test adopted (default pearson)\n"
         "  --ed P[,P...]         ED levels, 0.01 to 0.99 (default 0.5)\n"
         "  --ed-table            the table of EDs (alone unless --ed is given)\n"
         "  --limits-90-99        90 and 99 per cent limits besides the 95\n"
         "  --reference R[,R...]  reference preparations (number or name; default 1)\n"
         "  --plot                write the plot data and the pictures\n"
         "  --dose-unit UNIT      the unit of the doses, on the pictures' axes\n"
         "  -q, --quiet           nothing on the screen but error lines\n"
         "  -h, --help            show this text and exit\n"
         "  --version             show the program name and version and exit\n"
         "\n"
         "The manual: man " +
         name + "\n";
}

std::string usage_error_text(const char* program_name, const std::string& error) {
  const std::string name = program_name;
  return name + ": " + error + "\nUsage: " + name + " [OPTION]... FILE...  (" + name +
         " --help tells more)\n";
}

int write_text(std::FILE* out, std::FILE* err, const char* program_name, const std::string& text) {
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size() &&
                       std::fflush(out) == 0 && !std::ferror(out);
  if (written) return 0;
  const int reason = errno;
  const std::string message = std::string(program_name) + ": cannot write to standard output" +
                              (reason != 0 ? std::string(": ") + std::strerror(reason) : "") +
                              "\n";
  // Nothing more can be done when the error stream fails too: the status
  // still tells.
  std::fwrite(message.data(), 1, message.size(), err);
  std::fflush(err);
  return 1;
}

std::optional<int> answer_command_line(const CommandLine& line, const Edition& edition,
                                       const char* maximiser, std::FILE* out, std::FILE* err) {
  switch (line.request) {
    case CommandLineRequest::kHelp:
      return write_text(out, err, edition.program_name, usage_text(edition.program_name, maximiser));
    case CommandLineRequest::kVersion:
      return write_text(out, err, edition.program_name, version_text(edition.program_name));
    case CommandLineRequest::kUsageError: {
      const std::string text = usage_error_text(edition.program_name, line.error);
      std::fwrite(text.data(), 1, text.size(), err);
      std::fflush(err);
      return kUsageErrorStatus;
    }
    case CommandLineRequest::kDialogue:
    case CommandLineRequest::kAnalyses:
      break;
  }
  return std::nullopt;
}

}  // namespace varnalo
