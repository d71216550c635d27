#include "data/data_files.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "data/file_check.h"
#include "data/number_reader.h"
#include "foundation/output.h"
#include "foundation/process.h"
#include "foundation/visible_text.h"

namespace fs = std::filesystem;

namespace varnalo {

namespace {

constexpr const char* kDataFolder = "DATA";
constexpr const char* kDataExtension = ".TXT";
// Counts are clamped into [kCountFloor, kCountCeiling] so that r ln r and
// n ln n stay finite in the likelihood.
constexpr double kCountCeiling = 1e50;
// Doses at or beyond these bounds are stored as the zero / infinite dose.
constexpr double kTinyDose = 1e-99;
constexpr double kHugeDose = 1e99;
// Sentinel row after the last dose group of a preparation.
constexpr double kSentinel = 1e50;
// Group rows are numbered with int and a sentinel row follows the last.
constexpr int kMostGroups = std::numeric_limits<int>::max() - 2;
constexpr int kScreenColumns = 80;

bool equal_ignoring_ascii_case(const std::string& a, const std::string& b) {
  return upper_copy(a) == upper_copy(b);
}

// Opens the data file of preparation k for counting or reading; a file that
// can no longer be opened ends the run.
std::ifstream open_preparation_file(AnalysisState& s, int k) {
  const auto path = find_data_file(s, s.prep_names[k]);
  std::ifstream in;
  if (path) in.open(*path, std::ios::binary);
  if (!path || !in) {
    write_error(strprintf("  CAN'T OPEN '%s'\n", visible_text(s.prep_names[k]).c_str()));
    end_run(1);
  }
  return in;
}

}  // namespace

std::string upper_copy(const std::string& source) {
  std::string target = source;
  for (char& c : target) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 97 && byte <= 122) c = static_cast<char>(byte - 32);
  }
  return target;
}

bool check_data_file(AnalysisState& s, const std::string& name) {
  const auto path = find_data_file(s, name);
  std::ifstream in;
  if (path) in.open(*path, std::ios::binary);
  if (!path || !in) {
    write_error(strprintf("  CAN'T OPEN '%s'\n", visible_text(name).c_str()));
    return false;
  }
  const FileCheck check = check_group_file(in, name, s.dose_scale);
  if (!check.refusal.empty()) {
    write_error(check.refusal);
    return false;
  }
  if (!check.note.empty()) screen(s, "%s", check.note.c_str());
  return true;
}

std::optional<fs::path> find_data_file(const AnalysisState& s, const std::string& name) {
  const fs::path folder = s.workdir / kDataFolder;
  const std::string file_name = name + kDataExtension;
  std::error_code error;
  const fs::path exact = folder / file_name;
  if (fs::is_regular_file(exact, error)) return exact;
  // Users come from case-insensitive file systems: accept the file whose
  // name matches ignoring ASCII case.
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (equal_ignoring_ascii_case(it->path().filename().string(), file_name) &&
        fs::is_regular_file(it->path(), error))
      return it->path();
  }
  return std::nullopt;
}

void list_data_folder(AnalysisState& s) {
  const fs::path folder = s.workdir / kDataFolder;
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    screen(s, "  There is no DATA folder here.\n");
    screen(s, "\n");
    return;
  }
  std::vector<std::string> names;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  std::size_t width = 0;
  for (const auto& name : names) width = std::max(width, name.size());
  width += 2;  // two blanks between columns
  const std::size_t columns =
      std::max<std::size_t>(1, static_cast<std::size_t>(kScreenColumns - 1) / width);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool line_end = (i + 1) % columns == 0 || i + 1 == names.size();
    if (line_end)
      screen(s, "%s\n", names[i].c_str());
    else
      screen(s, "%-*s", static_cast<int>(width), names[i].c_str());
  }
  screen(s, "  %zu File(s)\n", names.size());
  screen(s, "\n");
}

// The file was checked when named, but may have been changed since (the
// dialogue waits for the user): it is checked again, and a file that would
// now be refused ends the run.
void count_groups(AnalysisState& s, int k) {
  std::ifstream in = open_preparation_file(s, k);
  const FileCheck check = check_group_file(in, s.prep_names[k], s.dose_scale);
  if (!check.refusal.empty()) {
    write_error(check.refusal);
    end_run(1);
  }
  const std::size_t groups = check.numbers / 3;
  if (groups > static_cast<std::size_t>(kMostGroups)) {
    write_error(strprintf("  TOO MANY DOSE GROUPS IN '%s'\n", visible_text(s.prep_names[k]).c_str()));
    end_run(1);
  }
  s.ngroups[k] = static_cast<int>(groups);
}

void read_groups(AnalysisState& s, int k) {
  const int m = s.ngroups[k];
  {
    std::ifstream in = open_preparation_file(s, k);
    NumberReader reader(in);
    for (int i = 1; i <= m; ++i)
      for (int c = 1; c <= 3; ++c) {
        double& value = s.groups[k][i][c];
        if (reader.next(&value) != NumberReader::Result::kNumber) {
          // The file lost groups since it was counted.
          write_error(strprintf("  CAN'T OPEN '%s'\n", visible_text(s.prep_names[k]).c_str()));
          end_run(1);
        }
        // Values changed since the count are refused as the count refuses them.
        const std::string refusal = value_refusal(s.prep_names[k], static_cast<GroupField>(c - 1), value,
                                                  s.dose_scale, reader.line(), reader.quoted_token());
        if (!refusal.empty()) {
          write_error(refusal);
          end_run(1);
        }
      }
  }
  // Counts were checked to be above 0 (n) or at least 0 (r): only r = 0 and
  // tiny or huge counts meet the clamps.
  for (int i = 1; i <= m; ++i) {
    DRef row = s.groups[k][i];
    for (int c = 2; c <= 3; ++c) {
      if (!(row[c] > kCountFloor)) row[c] = kCountFloor;
      if (row[c] > kCountCeiling) row[c] = kCountCeiling;
      if (row[2] < row[3]) {
        screen(s, "  EXTTING!\n  Responses Exceed Subjects in ");
        screen(s, "'%s'.\n", s.prep_names[k].c_str());
        end_run(1);
      }
    }
  }
}

void to_log_dose(AnalysisState& s, int k) {
  for (int i = 1; i <= s.ngroups[k]; ++i) {
    double& x = s.groups[k][i][1];
    if (s.dose_scale == 2) {
      if (x >= kInfiniteDoseLog)
        x = kInfiniteDoseLog;
      else if (x <= kZeroDoseLog)
        x = kZeroDoseLog;
    } else {
      if (x >= kHugeDose)
        x = kInfiniteDoseLog;
      else if (x <= kTinyDose)
        x = kZeroDoseLog;
      else
        x = std::log10(x);
    }
  }
}

void sort_groups(AnalysisState& s, int k) {
  const int m = s.ngroups[k];
  for (int c = 1; c <= 3; ++c) s.groups[k][m + 1][c] = kSentinel;
  // A stable merge sort on the two keys, in O(m log m): rows equal in both
  // keys keep their file order, so the order is the one the program's
  // earlier exchange passes over neighbouring rows gave (the keys are
  // finite, so the comparison is a strict weak order and the stable order
  // is unique). Whole rows move, all four columns.
  using Row = std::array<double, 4>;
  std::vector<Row> rows(static_cast<std::size_t>(m));
  for (int i = 1; i <= m; ++i)
    for (int c = 1; c <= 4; ++c) rows[static_cast<std::size_t>(i - 1)][c - 1] = s.groups[k][i][c];
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    if (a[0] != b[0]) return a[0] < b[0];
    return a[2] / a[1] < b[2] / b[1];
  });
  for (int i = 1; i <= m; ++i)
    for (int c = 1; c <= 4; ++c) s.groups[k][i][c] = rows[static_cast<std::size_t>(i - 1)][c - 1];
}

}  // namespace varnalo
