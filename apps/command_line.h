// The command line of both programs (read with CLI11).
//
// Without arguments the dialogue runs, its answers read from standard
// input. "--help" (or "-h") prints the usage and "--version" the program
// name and version; either ends the program at once, wherever it stands.
// Data files given as arguments run whole analyses with no dialogue: every
// answer comes from the options (defaults: those of the dialogue's Enter),
// nothing is read from standard input and nothing pauses. A data file is a
// preparation NAME (NAME.TXT in the data folder, DATA unless --data-dir
// says otherwise) or, when the argument holds a '/' or names an existing
// file, the path of the file, analysed under its file name without the
// extension. All files form one analysis (several preparations), or one
// analysis each with --each.
// An unknown option, a value out of range, options without a data file or a
// file named twice in one analysis is a usage error: one line saying what
// is wrong, one usage line, exit status 2.
//
// Inputs: the arguments of main, the program's Edition (its name) and a
// one-line description of its maximiser for the usage. Outputs: the request
// with the plan of the analyses; text on the given output or error stream;
// the exit status.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "dialogue/given_answers.h"

namespace varnalo {

struct Edition;

enum class CommandLineRequest { kDialogue, kHelp, kVersion, kAnalyses, kUsageError };

// Exit status of a usage error.
inline constexpr int kUsageErrorStatus = 2;

struct CommandLine {
  CommandLineRequest request = CommandLineRequest::kDialogue;
  // With kAnalyses: the answers, the folders and the screen.
  AnalysisPlan plan;
  std::filesystem::path data_dir = "DATA";
  std::filesystem::path output_dir = ".";
  std::string dose_unit;
  bool quiet = false;  // nothing on the screen but the error lines
  // With kUsageError: what is wrong, one line without its line end.
  std::string error;
};

// argv[0] is the program path and is skipped.
CommandLine read_command_line(int argc, const char* const argv[]);

// "Varnalo 1.63\n", the version formatted as in the start-up banner.
std::string version_text(const char* program_name);

// The usage shown by --help.
std::string usage_text(const char* program_name, const char* maximiser);

// The two lines of a usage error: "<program>: <error>" and the usage line.
std::string usage_error_text(const char* program_name, const std::string& error);

// Writes text to out and flushes it. Returns 0, or 1 after writing
// "<program>: cannot write to standard output: <reason>" to err when the
// text could not be written.
int write_text(std::FILE* out, std::FILE* err, const char* program_name, const std::string& text);

// Answers --help or --version on out, or a usage error on err, and returns
// the exit status; returns nothing (and writes nothing) when the dialogue
// or the analyses should run.
std::optional<int> answer_command_line(const CommandLine& line, const Edition& edition,
                                       const char* maximiser, std::FILE* out, std::FILE* err);

}  // namespace varnalo
