#include "foundation/console.h"

#include <cstdio>

#include "foundation/process.h"

namespace varnalo {

int StdConsole::get_char() {
  std::fflush(stdout);
  return std::getchar();
}

void StdConsole::write_screen(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

int ScriptedConsole::get_char() {
  if (next_ >= input_.size()) return EOF;
  return static_cast<unsigned char>(input_[next_++]);
}

int read_char(Console& console) {
  const int c = console.get_char();
  if (c == EOF) {
    write_error(kEndOfInputMessage);
    end_run(1);
  }
  return c;
}

std::string read_line(Console& console, std::size_t max_chars) {
  std::string line;
  for (;;) {
    const int c = read_char(console);
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > max_chars) line.resize(max_chars);
  return line;
}

}  // namespace varnalo
