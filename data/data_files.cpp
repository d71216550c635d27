#include "data/data_files.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "foundation/output.h"
#include "foundation/console.h"
#include "foundation/process.h"

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
// The folder is listed again each time this many more files were loaded.
constexpr int kListingInterval = 10;
// Longest answer line kept at the name prompt before the length check.
constexpr std::size_t kNameLineChars = 4096;
constexpr int kScreenColumns = 80;

bool equal_ignoring_ascii_case(const std::string& a, const std::string& b) {
  return upper_copy(a) == upper_copy(b);
}

// True when the token is a finite decimal number as written in data files:
// optional sign, digits with an optional decimal point, optional exponent.
bool is_decimal_number(const std::string& token, double* value) {
  std::size_t i = 0;
  const std::size_t n = token.size();
  if (i < n && (token[i] == '+' || token[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && std::isdigit(static_cast<unsigned char>(token[i]))) ++i, ++digits;
  if (i < n && token[i] == '.') {
    ++i;
    while (i < n && std::isdigit(static_cast<unsigned char>(token[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    if (i < n && (token[i] == '+' || token[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(token[i]))) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  if (i != n) return false;
  *value = std::strtod(token.c_str(), nullptr);
  return std::isfinite(*value);
}

// The numbers of a data file, read in order until the end of the file or
// the first text that is not a finite decimal number.
struct NumberScan {
  std::vector<double> numbers;
  bool clean = true;     // false when the scan stopped at bad text
  int bad_line = 0;      // line of the bad text (1-based)
  std::string bad_text;  // the offending text
};

NumberScan scan_numbers(std::istream& in) {
  NumberScan scan;
  std::string line;
  int line_number = 0;
  while (std::getline(in, line)) {
    ++line_number;
    std::istringstream words(line);
    std::string token;
    while (words >> token) {
      double value = 0.0;
      if (!is_decimal_number(token, &value)) {
        scan.clean = false;
        scan.bad_line = line_number;
        scan.bad_text = token;
        return scan;
      }
      scan.numbers.push_back(value);
    }
  }
  return scan;
}

// Opens the data file of preparation k for counting or reading; a file that
// can no longer be opened ends the run.
std::ifstream open_preparation_file(AnalysisState& s, int k) {
  const auto path = find_data_file(s, s.prep_names[k]);
  std::ifstream in;
  if (path) in.open(*path);
  if (!path || !in) {
    write_error(strprintf("  CAN'T OPEN '%s'\n", s.prep_names[k].c_str()));
    end_run(1);
  }
  return in;
}

// Checks a newly named data file. Writes the reason for refusing it to the
// error stream and returns false when it cannot be used.
bool check_data_file(const AnalysisState& s, const std::string& name) {
  const auto path = find_data_file(s, name);
  std::ifstream in;
  if (path) in.open(*path);
  if (!path || !in) {
    write_error(strprintf("  CAN'T OPEN '%s'\n", name.c_str()));
    return false;
  }
  const NumberScan scan = scan_numbers(in);
  if (!scan.clean) {
    write_error(strprintf("  NOT A NUMBER IN '%s', line %d: '%s'\n", name.c_str(), scan.bad_line,
                          scan.bad_text.c_str()));
    return false;
  }
  if (scan.numbers.size() < 3) {
    write_error(strprintf("  NO COMPLETE DOSE GROUP IN '%s'\n", name.c_str()));
    return false;
  }
  return true;
}

// Row j of a preparation comes after row j + 1: larger log dose, or equal
// log doses and a larger observed proportion.
bool comes_later(DRef row, DRef next) {
  if (row[1] != next[1]) return row[1] > next[1];
  return row[3] / row[2] > next[3] / next[2];
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

void ask_data_files(AnalysisState& s) {
  s.nprep = 0;
  int listed_at = 0;
  screen(s, "Input Data File Name    (q: to Exit Data-Loading)\n");
  for (;;) {
    if (s.nprep - listed_at > kListingInterval) listed_at = s.nprep;
    if (s.nprep == listed_at) list_data_folder(s);
    if (s.nprep == kMaxPreparations) {
      screen(s, "  %d data files are loaded: no more can be added.\n", kMaxPreparations);
      screen(s, "\n");
      return;
    }
    s.nprep += 1;
    std::string name;
    for (;;) {
      screen(s, "  [name/q] %u  ", static_cast<unsigned>(s.nprep));
      name = read_line(*s.console, kNameLineChars);
      if (name.empty()) continue;
      if (name.size() > kMaxNameChars) {
        write_error(strprintf("  The name is too long (at most %zu characters).\n", kMaxNameChars));
        continue;
      }
      break;
    }
    s.prep_names[s.nprep] = name;
    if (name == "q") {
      s.nprep -= 1;
      if (s.nprep < 1) end_run(1);
      screen(s, "\n");
      return;
    }
    const std::string upper = upper_copy(name);
    int first_equal = 1;
    while (upper_copy(s.prep_names[first_equal]) != upper) ++first_equal;
    if (first_equal < s.nprep) {
      screen(s, "  This data file was already loaded!\n");
      s.nprep -= 1;
      continue;
    }
    if (!check_data_file(s, name)) s.nprep -= 1;
  }
}

void count_groups(AnalysisState& s, int k) {
  std::ifstream in = open_preparation_file(s, k);
  const NumberScan scan = scan_numbers(in);
  s.ngroups[k] = static_cast<int>(scan.numbers.size() / 3);
}

void read_groups(AnalysisState& s, int k) {
  std::vector<double> numbers;
  {
    std::ifstream in = open_preparation_file(s, k);
    numbers = scan_numbers(in).numbers;
  }
  const int m = s.ngroups[k];
  if (static_cast<int>(numbers.size() / 3) < m) {
    // The file lost groups since it was counted.
    write_error(strprintf("  CAN'T OPEN '%s'\n", s.prep_names[k].c_str()));
    end_run(1);
  }
  for (int i = 1; i <= m; ++i)
    for (int c = 1; c <= 3; ++c) s.groups[k][i][c] = numbers[static_cast<std::size_t>(3 * (i - 1) + c - 1)];
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
  // Exchange passes over neighbouring rows: stable, so rows equal in both
  // keys keep their file order.
  for (int i = 1; i <= m; ++i)
    for (int j = m - 1; j >= i; --j)
      if (comes_later(s.groups[k][j], s.groups[k][j + 1])) s.groups.exchange_records(k, j);
}

}  // namespace varnalo
