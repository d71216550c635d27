// Readable SVG text: character references become UTF-8, the characters XML
// reserves keep named references, and anything else is copied as it is.
#include "export/plot_pictures_svg.h"

#include <gtest/gtest.h>

#include <string>

namespace varnalo {
namespace {

TEST(ReadableSvg, ReferencesBecomeCharactersWhereThatIsSafe) {
  const std::pair<const char*, const char*> cases[] = {
      {"<text>&#x41;&#x42;</text>", "<text>AB</text>"},
      {"&#x26;&#x3C;&#x3E;&#x22;&#x27;", "&amp;&lt;&gt;&quot;&apos;"},
      {"&#xE9;", "\xC3\xA9"},               // two bytes
      {"&#x25CF;", "\xE2\x97\x8F"},         // three: the round marker
      {"&#x1F600;", "\xF0\x9F\x98\x80"},    // four
      {"&#x1F;&#x7F;", "&#x1F;&#x7F;"},     // control characters stay references
      {"&#x110000;", "&#x110000;"},         // beyond Unicode
      {"&#x41", "&#x41"},                   // not closed
      {"&#xZZ;&#x4G;", "&#xZZ;&#x4G;"},     // not hexadecimal
      {"&amp;&#65;", "&amp;&#65;"},         // other references
      {"", ""},
  };
  for (const auto& [svg, readable] : cases) EXPECT_EQ(readable, readable_svg(svg)) << svg;
}

}  // namespace
}  // namespace varnalo
