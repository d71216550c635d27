// The result files of an analysis, for other programs, beside the classic
// files in the output folder: ANALYSISnnn.JSON (export/results_json.h),
// EDSnnn.CSV and ESTIMATESnnn.CSV (export/results_csv.h).
//
// They are new files, never appended to: nnn is the smallest number from 001
// for which none of the three exists yet (a dangling link counts as
// existing), so every analysis gets its own set and nothing earlier is
// overwritten. A file that cannot be written, or no number left, ends the
// run with status 1 and one line on the error stream naming the file
// ("  CAN'T WRITE 'ANALYSIS001.JSON': No space left on device"); a file
// written in part is removed.
// Input: the folder and the results record (its number is set here).
// Output: the three files; the names written.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "export/analysis_results.h"

namespace varnalo {

// Largest number of a set of result files (three digits).
inline constexpr int kMaxResultsNumber = 999;

// The three names of number n: ANALYSISnnn.JSON, EDSnnn.CSV, ESTIMATESnnn.CSV.
std::vector<std::string> result_file_names(int n);

// Smallest n in 1..kMaxResultsNumber for which none of the three names exists
// in dir; 0 when every number is taken.
int free_results_number(const std::filesystem::path& dir);

std::vector<std::string> write_result_files(const std::filesystem::path& dir, AnalysisResults& r);

// The screen line naming the files written: "  Results: ANALYSIS001.JSON
// EDS001.CSV ESTIMATES001.CSV".
std::string results_screen_text(const std::vector<std::string>& names);

}  // namespace varnalo
