#include "data/file_check.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace varnalo {
namespace {

FileCheck check(const std::string& content, int dose_scale = 1) {
  std::istringstream in(content);
  return check_group_file(in, "F", dose_scale);
}

TEST(FileCheck, ValuesAreJudgedByTheirPlaceInTheGroup) {
  const std::string negative_count = "  NEGATIVE COUNT IN 'F', line 3: 'v'\n";
  const std::string no_subjects = "  GROUP WITHOUT SUBJECTS IN 'F', line 3: 'v'\n";
  const std::string negative_dose = "  NEGATIVE DOSE IN 'F', line 3: 'v' (for log doses choose Dosage 2)\n";
  const struct {
    GroupField field;
    double value;
    int dose_scale;
    std::string refusal;
  } cases[] = {
      {GroupField::kDose, -1e-300, 1, negative_dose},
      {GroupField::kDose, -7.7, 2, ""},  // a log dose: a dose below 1
      {GroupField::kDose, 0.0, 1, ""},   // a control group
      {GroupField::kDose, -0.0, 1, ""},
      {GroupField::kSubjects, -3.0, 1, negative_count},
      {GroupField::kSubjects, 0.0, 2, no_subjects},
      {GroupField::kSubjects, 1e-50, 1, no_subjects},  // stored as 0
      {GroupField::kSubjects, 2e-50, 1, ""},
      {GroupField::kSubjects, 0.5, 1, ""},
      {GroupField::kResponders, -0.5, 1, negative_count},
      {GroupField::kResponders, 0.0, 1, ""},
      {GroupField::kResponders, 1e60, 1, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(value_refusal("F", c.field, c.value, c.dose_scale, 3, "v"), c.refusal)
        << static_cast<int>(c.field) << " " << c.value << " scale " << c.dose_scale;
}

TEST(FileCheck, IncompleteGroupIsPlacedByTheFileLayout) {
  const struct {
    const char* layout;
    std::string content;
    std::string refusal;
  } cases[] = {
      {"a group a line, one value missing within", "10.2 50 44\n7.7 49\n5.1 46 24\n",
       "  INCOMPLETE DOSE GROUP IN 'F', line 2: '7.7 49'\n"},
      {"a group a line, one value too many", "10.2 50 44\n7.7 49 42 1\n5.1 46 24\n",
       "  INCOMPLETE DOSE GROUP IN 'F', line 2: '7.7 49 42 1'\n"},
      {"a group a line, the last one short", "10.2 50 44\n\n7.7 49 42\r\n5.1 46",
       "  INCOMPLETE DOSE GROUP IN 'F', line 4: '5.1 46'\n"},
      {"all on one line", "10.2 50 44 7.7 49 42 5.1\n", "  INCOMPLETE DOSE GROUP IN 'F', line 1: '5.1'\n"},
      {"a value a line", "10.2\n50\n44\n7.7\n49\n42\n5.1\n46\n",
       "  INCOMPLETE DOSE GROUP IN 'F', line 7: '5.1 46'\n"},
      {"two groups a line", "1 10 5 2 10 6\n3 10 7 4\n", "  INCOMPLETE DOSE GROUP IN 'F', line 2: '3 10 7 4'\n"},
      {"a long line quoted short", "1 10 5\n" + std::string(60, '1') + " 10\n",
       "  INCOMPLETE DOSE GROUP IN 'F', line 2: '" + std::string(40, '1') + "...'\n"},
  };
  for (const auto& c : cases) {
    const FileCheck got = check(c.content);
    EXPECT_EQ(got.refusal, c.refusal) << c.layout;
    EXPECT_EQ(got.note, "") << c.layout;
  }
}

TEST(FileCheck, TheFirstFaultOfTheStrongestKindIsNamed) {
  const struct {
    const char* what;
    const char* content;
    std::string refusal;
  } cases[] = {
      // Words end the reading; a broken group comes before the values, which
      // stand in the wrong places once a value is missing.
      {"a word after a negative count", "1 10 -5\n2 10 x\n", "  NOT A NUMBER IN 'F', line 2: 'x'\n"},
      {"a short file", "-1 -10", "  NO COMPLETE DOSE GROUP IN 'F'\n"},
      {"a broken group after a negative count", "1 10 -5\n2 10\n",
       "  INCOMPLETE DOSE GROUP IN 'F', line 2: '2 10'\n"},
      {"two faults in file order", "1 10 5\n2 -10 0\n-3 0 -1\n", "  NEGATIVE COUNT IN 'F', line 2: '-10'\n"},
      {"a fraction before a fault", "1 10.5 5\n2 0 0\n", "  GROUP WITHOUT SUBJECTS IN 'F', line 2: '0'\n"},
  };
  for (const auto& c : cases) {
    const FileCheck got = check(c.content);
    EXPECT_EQ(got.refusal, c.refusal) << c.what;
    EXPECT_EQ(got.note, "") << c.what << ": a refused file gets no note";
  }
}

TEST(FileCheck, SoundFilesAreCountedAndFractionalCountsNotedOnce) {
  FileCheck got = check("\xEF\xBB\xBF" "0 10 0\r\n10.25 50 44\r\n7.7 49 42\r\n");
  EXPECT_EQ(got.numbers, 9u);
  EXPECT_EQ(got.refusal, "");
  EXPECT_EQ(got.note, "") << "doses with a fraction are no note";

  got = check("10.2 50 44\n7.7 49 41.5\n5.1 45.5 24\n");
  EXPECT_EQ(got.numbers, 9u);
  EXPECT_EQ(got.refusal, "");
  EXPECT_EQ(got.note, "  Counts with a fraction in 'F' are used as they are (first on line 2: '41.5').\n");

  got = check("-1.5 10 3\n", 2);
  EXPECT_EQ(got.refusal, "") << "a negative log dose";
}

}  // namespace
}  // namespace varnalo
