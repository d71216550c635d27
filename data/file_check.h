// Checks the numbers of a data file as dose groups (dose, n, r) before the
// file is accepted, so that nothing in it is repaired without a word.
//
// Input: a stream on the file, the name of the preparation as typed (for the
// messages) and the dose scale (1 doses, 2 log10 doses). Output: how many
// numbers the file holds, and either the one line that refuses the file or,
// for a usable file, an optional note line. A file is refused for the first
// of: a token that is not a number; fewer than three numbers; a number of
// values that is not a multiple of three (the group left incomplete is
// named); a negative count, a negative dose on the dose scale (a negative log
// dose is a dose below 1 and stays), a group of 0 subjects (the first such
// value in the file). Counts with a fraction are kept (corrected counts are
// legitimate) and noted once. Responders above subjects are left to the
// reading of the groups, which ends the run on them. Every refusal names the
// file, the line and the value as written, quoted short and visible.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace varnalo {

// Place of a number within its dose group.
enum class GroupField { kDose = 0, kSubjects = 1, kResponders = 2 };

// The line refusing the value of a data file in its place ("  NEGATIVE COUNT
// IN ..."), or "" when the value can be used. `quoted` is the value as
// written, ready to quote.
std::string value_refusal(const std::string& name, GroupField field, double value, int dose_scale,
                          int line, const std::string& quoted);

struct FileCheck {
  std::size_t numbers = 0;  // numbers read (up to the first bad token)
  std::string refusal;      // the error line when the file is refused, else ""
  std::string note;         // a screen line on counts with a fraction, else ""
};

FileCheck check_group_file(std::istream& in, const std::string& name, int dose_scale);

}  // namespace varnalo
