#include "foundation/visible_text.h"

#include <gtest/gtest.h>

#include <string>

namespace varnalo {
namespace {

TEST(VisibleText, CutsLongTextAndShowsControlBytes) {
  using namespace std::string_literals;
  const std::string forty(40, '7');
  const struct {
    std::string text, shown;
  } cases[] = {
      {"10.2", "10.2"},
      {"", ""},
      {forty, forty},                         // exactly the limit: whole
      {forty + "8", forty + "..."},           // one more: cut
      {std::string(100000, '9'), std::string(40, '9') + "..."},
      {"1\0002"s, "1\\x002"},                 // NUL
      {"a\tb\r\x1b[2J\x7f", "a\\x09b\\x0d\\x1b[2J\\x7f"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},        // UTF-8 kept as it is
      // The cut falls inside the two bytes of the last character: it goes
      // back to the start of that character.
      {std::string(39, 'a') + "\xc3\xa9z", std::string(39, 'a') + "..."},
  };
  for (const auto& c : cases) EXPECT_EQ(visible_text(c.text), c.shown) << c.text.size();
  EXPECT_EQ(visible_text("abcdef", 3), "abc...");
  EXPECT_EQ(visible_text(std::string(40, '\0')).size(), 160u) << "escapes are not counted";
}

}  // namespace
}  // namespace varnalo
