#include "data/file_check.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace varnalo {
namespace {

FileCheck check(const std::string& content, int dose_scale) {
  std::istringstream in(content);
  return check_group_file(in, "F", dose_scale);
}

// Each corrupt file gets one line naming the file, the line and the value;
// of several faults the strongest kind, then the first in the file, is named.
TEST(FileCheck, CorruptFilesAreRefusedNamingLineAndValue) {
  const std::string rotenone = "10.2 50 44\n7.7 49 42\n5.1 46 24\n3.8 48 16\n2.6 50 6\n";
  const struct {
    const char* what;
    std::string content;
    int dose_scale;
    std::string refusal;
  } cases[] = {
      {"negative responders", "10.2 50 44\n7.7 49 -2\n", 1, "  NEGATIVE COUNT IN 'F', line 2: '-2'\n"},
      {"negative subjects", "1 -10 0\n", 2, "  NEGATIVE COUNT IN 'F', line 1: '-10'\n"},
      {"negative dose", "10.2 50 44\n-7.7 49 42\n", 1,
       "  NEGATIVE DOSE IN 'F', line 2: '-7.7' (for log doses choose Dosage 2)\n"},
      {"zero subjects", "1 10 5\n2 0 0\n", 1, "  GROUP WITHOUT SUBJECTS IN 'F', line 2: '0'\n"},
      {"subjects stored as 0", "1 1e-50 0\n", 1, "  GROUP WITHOUT SUBJECTS IN 'F', line 1: '1e-50'\n"},
      // The incomplete group is placed by the layout of the file.
      {"a group a line, the last one short", rotenone + "5.1 46\n", 1,
       "  INCOMPLETE DOSE GROUP IN 'F', line 6: '5.1 46'\n"},
      {"a group a line, one value missing within", "10.2 50 44\n7.7 49\n5.1 46 24\n", 1,
       "  INCOMPLETE DOSE GROUP IN 'F', line 2: '7.7 49'\n"},
      {"two groups a line, one value too many", "1 10 5 2 10 6\n\n3 10 7 4\r\n5 10 9\n", 1,
       "  INCOMPLETE DOSE GROUP IN 'F', line 3: '3 10 7 4'\n"},
      {"all on one line", "10.2 50 44 7.7 49 42 5.1\n", 1, "  INCOMPLETE DOSE GROUP IN 'F', line 1: '5.1'\n"},
      {"a value a line", "10.2\n50\n44\n7.7\n49\n42\n5.1\n46\n", 1,
       "  INCOMPLETE DOSE GROUP IN 'F', line 7: '5.1 46'\n"},
      {"a long line quoted short", "1 10 5\n" + std::string(60, '1') + " 10\n", 1,
       "  INCOMPLETE DOSE GROUP IN 'F', line 2: '" + std::string(40, '1') + "...'\n"},
      // Words end the reading; a broken group comes before the values, which
      // stand in the wrong places once a value is missing.
      {"a word after a negative count", "1 10 -5\n2 10 x\n", 1, "  NOT A NUMBER IN 'F', line 2: 'x'\n"},
      {"a short file", "-1 -10", 1, "  NO COMPLETE DOSE GROUP IN 'F'\n"},
      {"a broken group after a negative count", "1 10 -5\n2 10\n", 1,
       "  INCOMPLETE DOSE GROUP IN 'F', line 2: '2 10'\n"},
      {"two faults", "1 10 5\n2 -10 0\n-3 0 -1\n", 1, "  NEGATIVE COUNT IN 'F', line 2: '-10'\n"},
      {"a fraction before a fault", "1 10.5 5\n2 0 0\n", 1, "  GROUP WITHOUT SUBJECTS IN 'F', line 2: '0'\n"},
  };
  for (const auto& c : cases) {
    const FileCheck got = check(c.content, c.dose_scale);
    EXPECT_EQ(got.refusal, c.refusal) << c.what;
    EXPECT_EQ(got.note, "") << c.what << ": a refused file gets no note";
  }
}

TEST(FileCheck, SoundFilesAreCountedAndCountsWithAFractionNoted) {
  const struct {
    const char* what;
    const char* content;
    int dose_scale;
    std::size_t numbers;
    std::string note;
  } cases[] = {
      {"a negative log dose is a dose below 1", "-1.5 10 3\n0.5 10 7\n", 2, 6, ""},
      {"control groups, doses with a fraction", "\xEF\xBB\xBF" "0 10 0\r\n-0 10 1\r\n10.25 50 44\r\n", 1, 9, ""},
      {"corrected counts", "10.2 50 44\n7.7 49 41.5\n5.1 45.5 24\n", 1, 9,
       "  Counts with a fraction in 'F' are used as they are (first on line 2: '41.5').\n"},
  };
  for (const auto& c : cases) {
    const FileCheck got = check(c.content, c.dose_scale);
    EXPECT_EQ(got.refusal, "") << c.what;
    EXPECT_EQ(got.numbers, c.numbers) << c.what;
    EXPECT_EQ(got.note, c.note) << c.what;
  }
}

}  // namespace
}  // namespace varnalo
