// The console: standard input, the screen and the error stream.
//
// Every stage reaches the keyboard and the screen through a Console, so a
// whole analysis can run in-process with scripted input and captured output.
// StdConsole is the real terminal; ScriptedConsole reads from a string and
// collects what was written.
//
// The read helpers never return at end of input: they write one line to the
// error stream and end the run with status 1, so no prompt can loop on a
// closed input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnalo {

class Console {
 public:
  virtual ~Console() = default;
  // Next byte of standard input, or EOF (from <cstdio>) at end of input.
  virtual int get_char() = 0;
  // The byte get_char would return next, left unread (EOF at end of input).
  virtual int peek_char() = 0;
  // Writes text to the screen (standard output).
  virtual void write_screen(std::string_view text) = 0;
};

class StdConsole : public Console {
 public:
  int get_char() override;
  int peek_char() override;
  void write_screen(std::string_view text) override;

 private:
  // Shows the screen output written since the last read, before a read that
  // may wait for the user.
  void show_screen();
  bool screen_pending_ = false;
};

class ScriptedConsole : public Console {
 public:
  explicit ScriptedConsole(std::string input) : input_(std::move(input)) {}
  int get_char() override;
  int peek_char() override;
  void write_screen(std::string_view text) override { screen_.append(text); }
  const std::string& screen() const { return screen_; }
  // Input not yet read.
  std::string_view unread() const { return std::string_view(input_).substr(next_); }

 private:
  std::string input_;
  std::size_t next_ = 0;
  std::string screen_;
};

// The answer buffer holds at most this many characters of a line (20 bytes
// with the terminator in the classic layout).
inline constexpr std::size_t kAnswerChars = 19;

// The message written to the error stream when input ends at a read.
inline constexpr const char* kEndOfInputMessage = "\nEnd of input: the run stops.\n";

// A line longer than this (256 MiB) is no answer: the input is taken to be
// something other than answers (a binary file, /dev/zero) and the run ends.
// Far beyond any answer (at most kAnswerChars are kept), it is still read
// through in a few seconds.
inline constexpr std::uintmax_t kLongestLine = std::uintmax_t{1} << 28;

// The message written to the error stream when a line exceeds kLongestLine.
inline constexpr const char* kLongLineMessage =
    "\nAn input line longer than 256 MiB is no answer: the run stops.\n";

// Reads one character; at end of input ends the run (status 1). A carriage
// return followed by a line feed is one line end: both are consumed and '\n'
// is returned, so that answers written with CR LF line ends (Windows) read
// like those with LF, single-key answers and pauses included.
int read_char(Console& console);

// Reads a single-key answer or a pause: the first character of the next line
// ('\n' for an empty line), the rest of that line read and discarded. An
// answer is typed with Enter, so "no" answers 'n' and leaves nothing behind
// for the next prompt; answer files with one answer per line read the same.
// The last line of the input may lack its line end (a final "q"). End of
// input before the first character ends the run with status 1, and so does a
// line longer than kLongestLine.
int read_key_line(Console& console);

// Reads one line up to its line end (consumed, not stored; CR LF counts as
// one line end). The line is consumed whole but at most max_chars characters
// are kept, so a long line costs no memory. At end of input (even in
// mid-line), or after kLongestLine characters without a line end, ends the
// run with status 1.
std::string read_line(Console& console, std::size_t max_chars);

}  // namespace varnalo
