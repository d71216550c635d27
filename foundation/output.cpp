#include "foundation/output.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "foundation/console.h"
#include "foundation/output_files.h"

namespace varnalo {

namespace {

std::string vformat(const char* fmt, std::va_list args) {
  std::va_list copy;
  va_copy(copy, args);
  char small[512];
  const int needed = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  if (static_cast<std::size_t>(needed) < sizeof small) return std::string(small, needed);
  std::vector<char> big(static_cast<std::size_t>(needed) + 1);
  std::vsnprintf(big.data(), big.size(), fmt, args);
  return std::string(big.data(), needed);
}

}  // namespace

std::string strprintf(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string text = vformat(fmt, args);
  va_end(args);
  return text;
}

void screen_text(AnalysisState& s, const std::string& text) {
  if (s.console) s.console->write_screen(text);
}

void report_text(AnalysisState& s, const std::string& text) {
  if (s.report_file == nullptr) return;
  const bool written = std::fwrite(text.data(), 1, text.size(), s.report_file) == text.size();
  check_write(s.report_file, kReportFileName, written);
}

void screen(AnalysisState& s, const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  screen_text(s, vformat(fmt, args));
  va_end(args);
}

void report(AnalysisState& s, const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  report_text(s, vformat(fmt, args));
  va_end(args);
}

void both(AnalysisState& s, const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  const std::string text = vformat(fmt, args);
  va_end(args);
  screen_text(s, text);
  report_text(s, text);
}

int read_key(AnalysisState& s) { return read_key_line(*s.console); }

std::string read_answer(AnalysisState& s) { return read_line(*s.console, kAnswerChars); }

}  // namespace varnalo
