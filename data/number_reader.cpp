#include "data/number_reader.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "foundation/visible_text.h"

namespace varnalo {

namespace {

constexpr const char* kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kByteOrderMarkSize = 3;
constexpr int kEnd = std::char_traits<char>::eof();

// The white space of the C locale, as the "%lf" conversion skips it.
bool is_white_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

bool is_decimal_number(const std::string& token, double* value) {
  std::size_t i = 0;
  const std::size_t n = token.size();
  if (i < n && (token[i] == '+' || token[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && is_digit(token[i])) ++i, ++digits;
  if (i < n && token[i] == '.') {
    ++i;
    while (i < n && is_digit(token[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    if (i < n && (token[i] == '+' || token[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < n && is_digit(token[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  if (i != n) return false;
  *value = std::strtod(token.c_str(), nullptr);
  return std::isfinite(*value);
}

NumberReader::NumberReader(std::istream& in) : source_(in.rdbuf()) {
  while (start_.size() < kByteOrderMarkSize) {
    const int c = source_ ? source_->sbumpc() : kEnd;
    if (c == kEnd) break;
    start_ += static_cast<char>(c);
  }
  if (start_ == kByteOrderMark) start_.clear();
}

int NumberReader::get() {
  if (start_next_ < start_.size()) return static_cast<unsigned char>(start_[start_next_++]);
  return source_ ? source_->sbumpc() : kEnd;
}

NumberReader::Result NumberReader::next(double* value) {
  int c = get();
  while (is_white_space(c)) {
    if (c == '\n') ++line_;
    c = get();
  }
  if (c == kEnd) return Result::kEnd;
  token_line_ = line_;
  token_.clear();
  bool too_long = false;
  for (; c != kEnd && !is_white_space(c); c = get()) {
    if (token_.size() <= kLongestNumber)
      token_ += static_cast<char>(c);
    else
      too_long = true;  // read through, not kept
  }
  if (c == '\n') ++line_;
  if (too_long || token_.size() > kLongestNumber || !is_decimal_number(token_, value))
    return Result::kBad;
  return Result::kNumber;
}

std::string NumberReader::quoted_token() const { return visible_text(token_); }

}  // namespace varnalo
