// Data files: the folder listing, the check of a named file, reading the
// dose groups of each preparation into the GroupTable (with clamps and the
// responses-exceed-subjects check), log-dose conversion and sorting.
//
// A named file is checked whole before it is accepted (data/file_check.h):
// a file that is not numbers in complete groups of sound values is refused
// with one line on the error stream and the name is asked again. The checks
// run again when the groups are counted and read, so a file changed after
// it was named ends the run instead of being read in part.
//
// The file of preparation NAME is DATA/NAME.TXT below the working folder;
// when that name does not exist, the file of DATA whose name equals NAME.TXT
// ignoring ASCII case is used. Files are read number by number
// (data/number_reader.h: a byte-order mark is skipped, no line is held
// whole); refused names and tokens are quoted short and visible
// (foundation/visible_text.h). sort_groups orders the groups by log dose,
// then by r / n, rows equal in both keeping their file order (a stable
// O(m log m) sort: the order the earlier exchange sort gave).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "foundation/state.h"

namespace varnalo {

void list_data_folder(AnalysisState& s);
// Checks a newly named data file (found, readable, numbers only, whole dose
// groups of sound counts and doses). Writes the reason for refusing it to
// the error stream and returns false when it cannot be used; a note on
// counts with a fraction goes to the screen and the file is used.
bool check_data_file(AnalysisState& s, const std::string& name);
// Copies source, turning ASCII lower-case letters into upper case.
std::string upper_copy(const std::string& source);
void count_groups(AnalysisState& s, int k);
void read_groups(AnalysisState& s, int k);
void to_log_dose(AnalysisState& s, int k);
void sort_groups(AnalysisState& s, int k);

// Path of the data file of a preparation name, if one exists.
std::optional<std::filesystem::path> find_data_file(const AnalysisState& s, const std::string& name);

}  // namespace varnalo
