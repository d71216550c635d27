#include "foundation/visible_text.h"

#include <cstdio>

namespace varnalo {

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;

// Bytes 10xxxxxx continue a UTF-8 character.
bool continues_character(unsigned char byte) { return (byte & 0xc0) == 0x80; }

}  // namespace

std::string visible_text(std::string_view text, std::size_t max_chars) {
  std::size_t kept = text.size();
  if (kept > max_chars) {
    kept = max_chars;
    while (kept > 0 && continues_character(static_cast<unsigned char>(text[kept]))) --kept;
  }
  std::string shown;
  shown.reserve(kept + 3);
  for (std::size_t i = 0; i < kept; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte < kFirstPrintable || byte == kDelete) {
      char escape[5];  // "\xNN" and the terminator
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      shown += escape;
    } else {
      shown += static_cast<char>(byte);
    }
  }
  if (kept < text.size()) shown += "...";
  return shown;
}

}  // namespace varnalo
