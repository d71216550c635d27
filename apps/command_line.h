// The command line of both programs.
//
// "--help" prints a short usage and "--version" the program name and
// version; either ends the program at once, without reading standard input.
// Every other argument is ignored and the dialogue starts as usual.
//
// Inputs: the arguments of main, the program's Edition (its name) and a
// one-line description of its maximiser for the usage. Outputs: the text on
// the given output stream; a message on the given error stream when the text
// cannot be written; the exit status.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace varnalo {

struct Edition;

enum class CommandLineRequest { kDialogue, kHelp, kVersion };

// The first argument that is exactly "--help" or "--version" decides; with
// neither, the dialogue runs. argv[0] is the program path and is skipped.
CommandLineRequest read_command_line(int argc, const char* const argv[]);

// "Varnalo 1.63\n", the version formatted as in the start-up banner.
std::string version_text(const char* program_name);

// The usage shown by --help.
std::string usage_text(const char* program_name, const char* maximiser);

// Writes text to out and flushes it. Returns 0, or 1 after writing
// "<program>: cannot write to standard output: <reason>" to err when the
// text could not be written.
int write_text(std::FILE* out, std::FILE* err, const char* program_name, const std::string& text);

// Answers --help or --version on out and returns the exit status; returns
// nothing (and writes nothing) when the dialogue should run.
std::optional<int> answer_command_line(int argc, const char* const argv[], const Edition& edition,
                                       const char* maximiser, std::FILE* out, std::FILE* err);

}  // namespace varnalo
