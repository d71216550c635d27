#include "foundation/console.h"

#include <cstdio>

#include "foundation/process.h"

namespace varnalo {

void StdConsole::show_screen() {
  if (!screen_pending_) return;
  std::fflush(stdout);
  screen_pending_ = false;
}

int StdConsole::get_char() {
  show_screen();
  return std::getchar();
}

int StdConsole::peek_char() {
  show_screen();
  const int c = std::getchar();
  // One byte pushed back after a read always fits.
  if (c != EOF && std::ungetc(c, stdin) == EOF) return EOF;
  return c;
}

void StdConsole::write_screen(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  screen_pending_ = true;
}

int ScriptedConsole::get_char() {
  if (next_ >= input_.size()) return EOF;
  return static_cast<unsigned char>(input_[next_++]);
}

int ScriptedConsole::peek_char() {
  if (next_ >= input_.size()) return EOF;
  return static_cast<unsigned char>(input_[next_]);
}

namespace {

int next_char(Console& console) {
  const int c = console.get_char();
  if (c == EOF) {
    write_error(kEndOfInputMessage);
    end_run(1);
  }
  return c;
}

}  // namespace

int read_char(Console& console) {
  const int c = next_char(console);
  if (c == '\r' && console.peek_char() == '\n') return next_char(console);
  return c;
}

int read_key_line(Console& console) {
  const int key = read_char(console);
  if (key == '\n') return key;
  std::uintmax_t length = 1;
  while (console.peek_char() != EOF) {
    if (read_char(console) == '\n') break;
    if (++length > kLongestLine) {
      write_error(kLongLineMessage);
      end_run(1);
    }
  }
  return key;
}

std::string read_line(Console& console, std::size_t max_chars) {
  std::string line;
  std::uintmax_t length = 0;
  for (;;) {
    const int c = read_char(console);
    if (c == '\n') break;
    if (line.size() < max_chars) line.push_back(static_cast<char>(c));
    if (++length > kLongestLine) {
      write_error(kLongLineMessage);
      end_run(1);
    }
  }
  return line;
}

}  // namespace varnalo
