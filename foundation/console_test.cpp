#include "foundation/console.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/process.h"
#include "support/harness.h"

namespace varnalo {
namespace {

TEST(ReadChar, CarriageReturnBeforeLineFeedIsOneLineEnd) {
  const struct {
    std::string input;
    int first;
    std::string unread;
  } cases[] = {
      {"\r\nq", '\n', "q"},   // a pause answered on Windows
      {"\nq", '\n', "q"},
      {"y\r\n", 'y', "\r\n"},
      {"\rq", '\r', "q"},     // a lone CR is a character of its own
      {"\r\r\n", '\r', "\r\n"},
      {"\r", '\r', ""},       // at the very end of the input
  };
  for (const auto& c : cases) {
    ScriptedConsole console(c.input);
    EXPECT_EQ(read_char(console), c.first) << c.input.size();
    EXPECT_EQ(console.unread(), c.unread) << c.input.size();
  }
}

TEST(ReadKeyLine, FirstCharacterOfTheLineAndTheRestDiscarded) {
  const struct {
    std::string input;
    int key;
    std::string unread;
  } cases[] = {
      {"\nq", '\n', "q"},          // a pause answered with Enter
      {"\r\nq", '\n', "q"},        // ... on Windows
      {"y\nq", 'y', "q"},
      {"no\nq", 'n', "q"},          // the "o" is not left for the next prompt
      {"yes\r\nq", 'y', "q"},
      {"\r\r\nq", '\r', "q"},      // a lone CR is the key, CR LF still ends its line
      {"q", 'q', ""},              // the last line of a file without its line end
      {"quit", 'q', ""},
      {"x" + std::string(1'000'000, 'x') + "\nq", 'x', "q"},
  };
  for (const auto& c : cases) {
    ScriptedConsole console(c.input);
    EXPECT_EQ(read_key_line(console), c.key) << c.input.substr(0, 8);
    EXPECT_EQ(console.unread(), c.unread) << c.input.substr(0, 8);
  }
}

TEST(ReadKeyLine, EndOfInputBeforeTheKeyEndsTheRun) {
  std::string errors;
  const ErrorSink previous = set_error_sink([&](std::string_view t) { errors.append(t); });
  ScriptedConsole console("");
  EXPECT_EQ(testing::run_end_status([&] { read_key_line(console); }), 1);
  set_error_sink(previous);
  EXPECT_EQ(errors, kEndOfInputMessage);
}

TEST(ReadLine, KeepsTheStartOfTheLineAndConsumesItAll) {
  const struct {
    std::string input;
    std::size_t max_chars;
    std::string line;
  } cases[] = {
      {"abc\nnext", 19, "abc"},
      {"abc\r\nnext", 19, "abc"},
      {"\r\nnext", 19, ""},
      {"a\rb\r\r\nnext", 19, "a\rb\r"},
      {std::string(19, 'x') + "\r\nnext", 19, std::string(19, 'x')},
      {std::string(1'000'000, 'x') + "\r\nnext", 19, std::string(19, 'x')},
      {std::string(100, '\0') + "\nnext", 5, std::string(5, '\0')},
  };
  for (const auto& c : cases) {
    ScriptedConsole console(c.input);
    EXPECT_EQ(read_line(console, c.max_chars), c.line) << c.input.size();
    EXPECT_EQ(console.unread(), "next") << c.input.size();
  }
}

TEST(ReadLine, EndOfInputInMidLineEndsTheRun) {
  std::string errors;
  const ErrorSink previous = set_error_sink([&](std::string_view t) { errors.append(t); });
  ScriptedConsole console("no line end");
  EXPECT_EQ(testing::run_end_status([&] { read_line(console, 19); }), 1);
  set_error_sink(previous);
  EXPECT_EQ(errors, kEndOfInputMessage);
}

}  // namespace
}  // namespace varnalo
