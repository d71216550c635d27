// Readable SVG text.
// Method: one pass over the document, each "&#xHEX;" reference decoded and
// written back as UTF-8 (RFC 3629), or as a named reference for the five
// characters XML reserves.
// Accuracy: exact; every other byte is copied.
#include "export/plot_pictures_svg.h"

#include <cstdlib>

namespace varnalo {

namespace {

// The named reference of a character XML reserves; nullptr for others.
const char* xml_entity(unsigned long code) {
  switch (code) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&apos;";
    default: return nullptr;
  }
}

}  // namespace

std::string readable_svg(const std::string& svg) {
  std::string out;
  out.reserve(svg.size());
  std::size_t i = 0;
  while (i < svg.size()) {
    if (svg.compare(i, 3, "&#x") == 0) {
      const std::size_t end = svg.find(';', i);
      char* stop = nullptr;
      const unsigned long code = std::strtoul(svg.c_str() + i + 3, &stop, 16);
      if (end != std::string::npos && stop == svg.c_str() + end && code >= 0x20 &&
          code <= 0x10FFFF && code != 0x7F) {
        if (const char* name = xml_entity(code)) {
          out += name;
        } else if (code < 0x80) {
          out += static_cast<char>(code);
        } else if (code < 0x800) {
          out += static_cast<char>(0xC0 | (code >> 6));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
          out += static_cast<char>(0xE0 | (code >> 12));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
          out += static_cast<char>(0xF0 | (code >> 18));
          out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        }
        i = end + 1;
        continue;
      }
    }
    out += svg[i++];
  }
  return out;
}

}  // namespace varnalo
