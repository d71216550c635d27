// Text from a file or from the keyboard, made fit to be quoted in a message.
//
// visible_text keeps at most max_chars bytes of the text (cut back to the
// start of a UTF-8 character, so no character is split) and adds "..." when
// it left something out; control bytes (0 to 31 and 127) are shown as \xNN
// (a NUL byte as \x00), so that nothing in the quote is invisible or moves
// the cursor. Everything else, bytes of UTF-8 characters included, is kept
// as it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnalo {

// Enough to recognise a token or a name; a longer one is cut.
inline constexpr std::size_t kQuotedChars = 40;

std::string visible_text(std::string_view text, std::size_t max_chars = kQuotedChars);

}  // namespace varnalo
