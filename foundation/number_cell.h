// A number for a fixed-width column of a report table.
//
// fixed_cell(value, width, precision, gap) gives the text of printf's
// "%width.precisionf" when that keeps the column: at most width - gap
// characters, where gap is 1 for a field whose own leading blank is all that
// parts it from the column on its left (so "%14.7f" of 210888.9133045 after
// a "%12.7f" cell counts as too wide), and 0 for a field behind a literal
// separator. A value too wide for that room is written in exponent notation
// ("%.Ne") with the most digits that fit the room, right-aligned in the same
// width, so that the next column stays where it is. Values that fit keep
// every digit of the fixed form. When not even the shortest exponent form
// fits (a width of 4 or less), the fixed form is returned as it is: the
// column then shifts, but no digit is lost.
#pragma once

#include <string>

namespace varnalo {

std::string fixed_cell(double value, int width, int precision, int gap = 0);

}  // namespace varnalo
