#include "data/file_check.h"

#include <cmath>
#include <utility>

#include "data/data_files.h"
#include "data/number_reader.h"
#include "foundation/output.h"
#include "foundation/visible_text.h"

namespace varnalo {

namespace {

constexpr std::size_t kFieldsPerGroup = 3;

// The values of one line or one group, joined by blanks for a quote; kept no
// longer than a quote shows, so that a line of a million numbers costs
// nothing.
class QuotedValues {
 public:
  void clear() { text_.clear(); }
  void add(const std::string& token) {
    if (text_.size() > kQuotedChars) return;
    if (!text_.empty()) text_ += ' ';
    text_ += token;
  }
  std::string quoted() const { return visible_text(text_); }

 private:
  std::string text_;
};

// Where a group left incomplete is, and its values. When the file is written
// in whole groups to a line (some line holds a multiple of three values), the
// first line whose count of values is not a multiple of three is where a
// value went missing or one too many came in; otherwise (all values on one
// line, one value a line) it is the group left over at the end.
class LayoutTracker {
 public:
  void add(int line, const std::string& token, std::size_t index) {
    if (line != line_) {
      end_line();
      line_ = line;
    }
    ++line_count_;
    line_values_.add(token);
    if (index % kFieldsPerGroup == 0) {
      group_line_ = line;
      group_values_.clear();
    }
    group_values_.add(token);
  }

  // Line and quoted values of the incomplete group (call once, at the end).
  std::pair<int, std::string> incomplete_group() {
    end_line();
    if (line_of_groups_ && odd_line_ > 0) return {odd_line_, odd_values_};
    return {group_line_, group_values_.quoted()};
  }

 private:
  void end_line() {
    if (line_count_ == 0) return;  // before the first value
    if (line_count_ % kFieldsPerGroup == 0) line_of_groups_ = true;
    if (line_count_ % kFieldsPerGroup != 0 && odd_line_ == 0) {
      odd_line_ = line_;
      odd_values_ = line_values_.quoted();
    }
    line_count_ = 0;
    line_values_.clear();
  }

  int line_ = 0;
  std::size_t line_count_ = 0;
  QuotedValues line_values_;
  bool line_of_groups_ = false;
  int odd_line_ = 0;
  std::string odd_values_;
  int group_line_ = 0;
  QuotedValues group_values_;
};

bool is_count(GroupField field) { return field != GroupField::kDose; }

}  // namespace

std::string value_refusal(const std::string& name, GroupField field, double value, int dose_scale,
                          int line, const std::string& quoted) {
  const std::string file = visible_text(name);
  if (is_count(field) && value < 0.0)
    return strprintf("  NEGATIVE COUNT IN '%s', line %d: '%s'\n", file.c_str(), line, quoted.c_str());
  // A count at the floor stands for 0, so a group of fewer subjects has none.
  if (field == GroupField::kSubjects && !(value > kCountFloor))
    return strprintf("  GROUP WITHOUT SUBJECTS IN '%s', line %d: '%s'\n", file.c_str(), line,
                     quoted.c_str());
  if (field == GroupField::kDose && dose_scale == 1 && value < 0.0)
    return strprintf("  NEGATIVE DOSE IN '%s', line %d: '%s' (for log doses choose Dosage 2)\n",
                     file.c_str(), line, quoted.c_str());
  return "";
}

FileCheck check_group_file(std::istream& in, const std::string& name, int dose_scale) {
  FileCheck check;
  NumberReader reader(in);
  LayoutTracker layout;
  std::string first_fault;
  int fraction_line = 0;
  std::string fraction_quoted;
  double value = 0.0;
  NumberReader::Result got;
  while ((got = reader.next(&value)) == NumberReader::Result::kNumber) {
    const auto field = static_cast<GroupField>(check.numbers % kFieldsPerGroup);
    layout.add(reader.line(), reader.token(), check.numbers);
    ++check.numbers;
    if (first_fault.empty())
      first_fault = value_refusal(name, field, value, dose_scale, reader.line(), reader.quoted_token());
    if (is_count(field) && fraction_line == 0 && value != std::floor(value)) {
      fraction_line = reader.line();
      fraction_quoted = reader.quoted_token();
    }
  }
  const std::string file = visible_text(name);
  if (got == NumberReader::Result::kBad) {
    check.refusal = strprintf("  NOT A NUMBER IN '%s', line %d: '%s'\n", file.c_str(), reader.line(),
                              reader.quoted_token().c_str());
  } else if (check.numbers < kFieldsPerGroup) {
    check.refusal = strprintf("  NO COMPLETE DOSE GROUP IN '%s'\n", file.c_str());
  } else if (check.numbers % kFieldsPerGroup != 0) {
    // Checked before the values: once a value is missing, the ones after it
    // stand in the wrong places and their faults would mislead.
    const auto [line, values] = layout.incomplete_group();
    check.refusal =
        strprintf("  INCOMPLETE DOSE GROUP IN '%s', line %d: '%s'\n", file.c_str(), line, values.c_str());
  } else if (!first_fault.empty()) {
    check.refusal = first_fault;
  } else if (fraction_line > 0) {
    check.note = strprintf("  Counts with a fraction in '%s' are used as they are (first on line %d: '%s').\n",
                           file.c_str(), fraction_line, fraction_quoted.c_str());
  }
  return check;
}

}  // namespace varnalo
