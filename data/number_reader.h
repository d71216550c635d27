// Reads the numbers of a data file one at a time, holding no more of the file
// than the current token.
//
// Input: a stream opened on the file. Tokens are separated by white space
// (blank, tab, line feed, carriage return, vertical tab, form feed), so CR LF
// line ends need nothing special; a UTF-8 byte-order mark (EF BB BF, written
// by some editors) at the very start is skipped. Each token must be a finite
// decimal number: optional sign, digits with an optional decimal point,
// optional exponent ("nan", "inf", hexadecimal and words are refused).
//
// Output: next() gives the numbers in file order, then kEnd; at the first
// token that is not a number it gives kBad, with the line of that token and
// the token itself quoted for a message (visible_text: at most about 40
// characters, control bytes shown). A token longer than kLongestNumber
// characters is refused without being held whole.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace varnalo {

// Longer than any number worth writing (a double holds 17 significant
// digits); a longer token is refused.
inline constexpr std::size_t kLongestNumber = 4096;

class NumberReader {
 public:
  enum class Result { kNumber, kEnd, kBad };

  explicit NumberReader(std::istream& in);

  Result next(double* value);
  // Line (from 1) of the token last read.
  int line() const { return token_line_; }
  // The token last read as written, and ready to quote (short and
  // visible); after kBad, the refused token.
  const std::string& token() const { return token_; }
  std::string quoted_token() const;

 private:
  int get();

  std::streambuf* source_;
  std::string start_;  // bytes read while looking for the byte-order mark
  std::size_t start_next_ = 0;
  int line_ = 1;
  int token_line_ = 0;
  std::string token_;  // at most kLongestNumber + 1 characters
};

// True when the token is a finite decimal number as written in data files;
// its value is then stored in *value.
bool is_decimal_number(const std::string& token, double* value);

}  // namespace varnalo
