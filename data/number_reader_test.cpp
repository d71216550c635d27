#include "data/number_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace varnalo {
namespace {

using namespace std::string_literals;

struct Scan {
  std::vector<double> numbers;
  bool bad = false;
  int line = 0;
  std::string quoted;
};

Scan scan(const std::string& text) {
  std::istringstream in(text);
  NumberReader reader(in);
  Scan result;
  double value = 0;
  for (;;) {
    const auto got = reader.next(&value);
    if (got == NumberReader::Result::kEnd) break;
    if (got == NumberReader::Result::kBad) {
      result.bad = true;
      result.line = reader.line();
      result.quoted = reader.quoted_token();
      break;
    }
    result.numbers.push_back(value);
  }
  return result;
}

TEST(NumberReader, ReadsNumbersAcrossAnyWhiteSpace) {
  const struct {
    std::string text;
    std::vector<double> numbers;
  } cases[] = {
      {"10.2 50 44\n7.7 49 42\n", {10.2, 50, 44, 7.7, 49, 42}},
      {"1\r\n2\r\n3\r\n", {1, 2, 3}},
      {"\t-1e-3\v+2.\f.5E+1 ", {-1e-3, 2, 5}},
      {"", {}},
      {"\n\n  \n", {}},
      {"1 2", {1, 2}},  // no line end at the end
      // A byte-order mark at the start is skipped, also before CR LF.
      {"\xEF\xBB\xBF" "10.2 50 44\r\n", {10.2, 50, 44}},
      {"\xEF\xBB\xBF", {}},
      {"\xEF\xBB\xBF\n5", {5}},
  };
  for (const auto& c : cases) {
    const Scan got = scan(c.text);
    EXPECT_FALSE(got.bad) << c.text << ": " << got.quoted;
    EXPECT_EQ(got.numbers, c.numbers) << c.text;
  }
}

TEST(NumberReader, RefusesTheFirstTokenThatIsNotANumber) {
  const std::string long_number = "1" + std::string(99999, '0');
  const struct {
    std::string text;
    int line;
    std::string quoted;
  } cases[] = {
      {"1 2 3\n4 x 6\n", 2, "x"},
      {"nan 1 1\n", 1, "nan"},
      {"inf", 1, "inf"},
      {"0x10", 1, "0x10"},
      {"1e", 1, "1e"},
      {"1,5", 1, "1,5"},
      // A mark that is not at the start, or a part of one, is refused.
      {"1 \xEF\xBB\xBF" "2", 1, "\xEF\xBB\xBF" "2"},
      {"\xEF\xBB" "1", 1, "\xEF\xBB" "1"},
      // Control bytes are shown, long tokens are cut.
      {"1\n2\n3\0004\n"s, 3, "3\\x004"},
      {"\n" + long_number, 2, std::string(1, '1') + std::string(39, '0') + "..."},
      {"1 " + std::string(10 * kLongestNumber, '9') + " 2", 1, std::string(40, '9') + "..."},
  };
  for (const auto& c : cases) {
    const Scan got = scan(c.text);
    EXPECT_TRUE(got.bad) << c.quoted;
    EXPECT_EQ(got.line, c.line) << c.quoted;
    EXPECT_EQ(got.quoted, c.quoted);
  }
  // Up to the longest accepted token, a long number is still a number.
  const std::string longest = "0." + std::string(kLongestNumber - 3, '0') + "5";
  const Scan got = scan(longest + " 3");
  EXPECT_FALSE(got.bad) << got.quoted;
  EXPECT_EQ(got.numbers.size(), 2u);
}

}  // namespace
}  // namespace varnalo
