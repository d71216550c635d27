// The SVG text of a picture made readable: PLplot's svg device writes every
// character of a text as a numeric character reference ("&#x41;"); these
// become the characters themselves (UTF-8), so that the names, labels and
// notes can be read and searched in the file. The characters XML reserves
// (& < > " ') get their named references, so the file stays well-formed.
// References to control characters or beyond Unicode, and anything that is
// not a complete reference, are left as they are.
// Input: the bytes of an SVG document. Output: the same document.
#pragma once

#include <string>

namespace varnalo {

std::string readable_svg(const std::string& svg);

}  // namespace varnalo
