#include "apps/command_line.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "fit/edition.h"
#include "foundation/state.h"

namespace varnalo {

namespace {

constexpr std::string_view kHelpOption = "--help";
constexpr std::string_view kVersionOption = "--version";

}  // namespace

CommandLineRequest read_command_line(int argc, const char* const argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    if (argv[i] == kHelpOption) return CommandLineRequest::kHelp;
    if (argv[i] == kVersionOption) return CommandLineRequest::kVersion;
  }
  return CommandLineRequest::kDialogue;
}

std::string version_text(const char* program_name) {
  char number[32];
  std::snprintf(number, sizeof number, "%2.2lf", kVersion);
  return std::string(program_name) + " " + number + "\n";
}

std::string usage_text(const char* program_name, const char* maximiser) {
  const std::string name = program_name;
  return "Usage: " + name + " [--help | --version]\n"
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
         "so a whole analysis can be run from an answer file:\n"
         "  " +
         name +
         " < answers.txt\n"
         "\n"
         "Output files, appended to in the working folder:\n"
         "  REPORT.TXT   every analysis as shown on the screen\n"
         "  TABLE.TXT    a tab-separated summary, one row per preparation\n"
         "  SIGMOID.TXT  plot data: observed proportions and fitted curves\n"
         "  LINEAR.TXT   plot data: the linearised scale, fitted lines and band\n"
         "  SIGMOIDnnn.PNG/.SVG, LINEARnnn.PNG/.SVG  pictures of the two plots\n"
         "\n"
         "Options:\n"
         "  --help       show this text and exit\n"
         "  --version    show the program name and version and exit\n"
         "Any other argument is ignored.\n"
         "\n"
         "The manual: man " +
         name + "\n";
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

std::optional<int> answer_command_line(int argc, const char* const argv[], const Edition& edition,
                                       const char* maximiser, std::FILE* out, std::FILE* err) {
  switch (read_command_line(argc, argv)) {
    case CommandLineRequest::kHelp:
      return write_text(out, err, edition.program_name, usage_text(edition.program_name, maximiser));
    case CommandLineRequest::kVersion:
      return write_text(out, err, edition.program_name, version_text(edition.program_name));
    case CommandLineRequest::kDialogue:
      break;
  }
  return std::nullopt;
}

}  // namespace varnalo
