#include "data/data_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "foundation/process.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::StageFixture;
using testing::TempWorkdir;

// Names the preparations as the data-file dialogue accepts them.
void name_files(StageFixture& f, const TempWorkdir& dir, const std::vector<std::string>& names) {
  AnalysisState& s = f.state();
  s.workdir = dir.root();
  s.nprep = static_cast<int>(names.size());
  for (int k = 1; k <= s.nprep; ++k) s.prep_names[k] = names[static_cast<std::size_t>(k - 1)];
}

// Loads the named preparations as the run driver does.
void load(AnalysisState& s) {
  s.ngroups = ivector(1, s.nprep);
  int largest = 0;
  for (int k = 1; k <= s.nprep; ++k) {
    count_groups(s, k);
    largest = std::max(largest, s.ngroups[k]);
  }
  s.maxgroups = largest + 1;
  s.groups = d3tensor(1, s.nprep, 0, s.maxgroups, 1, 4);
  for (int k = 1; k <= s.nprep; ++k) read_groups(s, k);
  for (int k = 1; k <= s.nprep; ++k) to_log_dose(s, k);
  for (int k = 1; k <= s.nprep; ++k) sort_groups(s, k);
}

TEST(DataFiles, LookupIgnoresAsciiCaseWhenTheExactNameIsMissing) {
  TempWorkdir dir;
  dir.write_data("rotenone.txt", "1 10 5\n");
  StageFixture f;
  f.state().workdir = dir.root();
  auto path = find_data_file(f.state(), "ROTENONE");
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->filename(), "rotenone.txt");
  EXPECT_FALSE(find_data_file(f.state(), "ROTENON").has_value());
}

TEST(DataFiles, UpperCopyTouchesAsciiLettersOnly) {
  EXPECT_EQ(upper_copy("abc-Z\xE9z"), "ABC-Z\xE9Z");
}

TEST(DataFiles, ReadingClampsConvertsAndSorts) {
  TempWorkdir dir;
  // Zero counts, a zero dose (also written -0) and the order 10, 1, 5 with a
  // tie on dose 5 ordered by r/n.
  dir.write_data("A.TXT", "100 10 3   0 20 0\n");
  dir.write_data("B.TXT", "10 10 2\n1 3 0\n5 10 8\n5 10 4\n-0 4 1\n");
  StageFixture f;
  name_files(f, dir, {"A", "B"});
  AnalysisState& s = f.state();
  ASSERT_EQ(s.nprep, 2) << f.errors();
  load(s);
  ASSERT_EQ(s.ngroups[1], 2);
  EXPECT_EQ(s.groups[1][1][1], -99.0) << "dose 0 becomes log dose -99";
  EXPECT_EQ(s.groups[1][1][3], 1e-50) << "r = 0 is stored as 1e-50";
  EXPECT_DOUBLE_EQ(s.groups[1][2][1], 2.0);
  EXPECT_EQ(s.groups[1][3][1], 1e50) << "sentinel row";
  ASSERT_EQ(s.ngroups[2], 5);
  EXPECT_EQ(s.groups[2][1][1], -99.0) << "a dose of -0 is a zero dose";
  EXPECT_DOUBLE_EQ(s.groups[2][2][1], 0.0);
  EXPECT_EQ(s.groups[2][2][2], 3.0);
  EXPECT_EQ(s.groups[2][2][3], 1e-50);
  EXPECT_DOUBLE_EQ(s.groups[2][3][1], std::log10(5.0));
  EXPECT_EQ(s.groups[2][3][3], 4.0) << "equal doses in ascending order of r/n";
  EXPECT_EQ(s.groups[2][4][3], 8.0);
  EXPECT_DOUBLE_EQ(s.groups[2][5][1], 1.0);
  EXPECT_EQ(s.groups[2][6][1], 1e50);
}

TEST(DataFiles, CountsWithAFractionAreNotedOnTheScreenAndKept) {
  TempWorkdir dir;
  dir.write_data("CORR.TXT", "10.2 50 44\n7.7 49 41.5\n5.1 45.5 24.25\n");
  StageFixture f;
  name_files(f, dir, {"CORR"});
  EXPECT_TRUE(check_data_file(f.state(), "CORR"));
  EXPECT_EQ(f.errors(), "");
  EXPECT_EQ(f.screen(), "  Counts with a fraction in 'CORR' are used as they are "
                        "(first on line 2: '41.5').\n");
  load(f.state());
  EXPECT_EQ(f.state().groups[1][1][2], 45.5);
  EXPECT_EQ(f.state().groups[1][1][3], 24.25);
  EXPECT_EQ(f.state().groups[1][2][3], 41.5);
}

// A file changed after it was named (the dialogue waits for the user) is
// checked again when counted and when read; a fault then ends the run.
TEST(DataFiles, FileSpoiltAfterTheDialogueEndsTheRunNamingTheFault) {
  TempWorkdir dir;
  dir.write_data("A.TXT", "1 10 5\n2 10 7\n");
  StageFixture f;
  name_files(f, dir, {"A"});
  AnalysisState& s = f.state();
  s.ngroups = ivector(1, 1);
  dir.write_data("A.TXT", "1 10 5\n2 10\n");
  EXPECT_EQ(testing::run_end_status([&] { count_groups(s, 1); }), 1);
  EXPECT_EQ(f.errors(), "  INCOMPLETE DOSE GROUP IN 'A', line 2: '2 10'\n");

  dir.write_data("A.TXT", "1 10 5\n2 10 7\n");
  count_groups(s, 1);
  s.maxgroups = s.ngroups[1] + 1;
  s.groups = d3tensor(1, 1, 0, s.maxgroups, 1, 4);
  dir.write_data("A.TXT", "1 10 5\n2 10 -7\n");
  EXPECT_EQ(testing::run_end_status([&] { read_groups(s, 1); }), 1);
  EXPECT_TRUE(f.errors().ends_with("  NEGATIVE COUNT IN 'A', line 2: '-7'\n")) << f.errors();
}

TEST(DataFiles, AByteOrderMarkAndCrLfLineEndsReadAsNumbers) {
  TempWorkdir dir;
  dir.write_data("MARKED.TXT", "\xEF\xBB\xBF" "10.2 50 44\r\n7.7 49 42\r\n");
  StageFixture f;
  name_files(f, dir, {"MARKED"});
  load(f.state());
  EXPECT_EQ(f.state().ngroups[1], 2);
  EXPECT_DOUBLE_EQ(f.state().groups[1][1][1], std::log10(7.7));
  EXPECT_EQ(f.state().groups[1][2][3], 44);
}

TEST(DataFiles, LogDoseFilesAreClampedToTheSentinels) {
  TempWorkdir dir;
  dir.write_data("L.TXT", "120 10 5\n-120 10 1\n1.5 10 3\n");
  StageFixture f;
  f.state().dose_scale = 2;
  name_files(f, dir, {"L"});
  load(f.state());
  EXPECT_EQ(f.state().groups[1][1][1], -99.0);
  EXPECT_EQ(f.state().groups[1][2][1], 1.5);
  EXPECT_EQ(f.state().groups[1][3][1], 99.0);
}

TEST(DataFiles, ResponsesExceedingSubjectsEndTheRun) {
  TempWorkdir dir;
  dir.write_data("Bad.TXT", "1 10 5\n2 10 11\n");
  StageFixture f;
  name_files(f, dir, {"Bad"});
  EXPECT_EQ(testing::run_end_status([&] { load(f.state()); }), 1);
  EXPECT_TRUE(f.screen().ends_with("  EXTTING!\n  Responses Exceed Subjects in 'Bad'.\n"));
}

TEST(DataFiles, FileRemovedAfterTheDialogueEndsTheRunWithAMessage) {
  TempWorkdir dir;
  dir.write_data("GONE.TXT", "1 10 5\n");
  StageFixture f;
  name_files(f, dir, {"GONE"});
  std::filesystem::remove(dir.root() / "DATA" / "GONE.TXT");
  EXPECT_EQ(testing::run_end_status([&] { load(f.state()); }), 1);
  EXPECT_EQ(f.errors(), "  CAN'T OPEN 'GONE'\n");
}

// The exchange sort the program used before: passes over neighbouring rows,
// exchanging a row that comes later (larger log dose, or equal log doses and
// a larger r / n) with the next.
using Row = std::array<double, 4>;
void exchange_sort(std::vector<Row>& rows) {
  const int m = static_cast<int>(rows.size());
  auto comes_later = [](const Row& a, const Row& b) {
    if (a[0] != b[0]) return a[0] > b[0];
    return a[2] / a[1] > b[2] / b[1];
  };
  for (int i = 0; i < m; ++i)
    for (int j = m - 2; j >= i; --j)
      if (comes_later(rows[j], rows[j + 1])) std::swap(rows[j], rows[j + 1]);
}

TEST(DataFiles, SortGivesTheOrderOfTheExchangeSort) {
  // Few distinct doses and proportions, so that ties in one key and in both
  // are common (1/2 and 2/4 are the same double); zero counts and the zero
  // and infinite dose sentinels included. Column 4 marks the file position.
  std::mt19937 random(20240611);
  const double doses[] = {-99, -1, 0, 0.30103, 1, 99};
  const double counts[] = {1e-50, 1, 2, 3, 4, 6};
  for (int trial = 0; trial < 300; ++trial) {
    const int m = static_cast<int>(random() % 60);
    std::vector<Row> rows;
    for (int i = 0; i < m; ++i) {
      const double n = counts[1 + random() % 5];
      const double r = std::min(n, counts[random() % 6]);
      rows.push_back({doses[random() % 6], n, r, static_cast<double>(i + 1)});
    }
    StageFixture f;
    std::vector<testing::Group> groups;
    for (const Row& row : rows) groups.push_back({row[0], row[1], row[2]});
    f.set_groups({groups});
    AnalysisState& s = f.state();
    for (int i = 1; i <= m; ++i) s.groups[1][i][4] = i;
    sort_groups(s, 1);
    exchange_sort(rows);
    for (int i = 1; i <= m; ++i)
      for (int c = 1; c <= 4; ++c)
        ASSERT_EQ(s.groups[1][i][c], rows[static_cast<std::size_t>(i - 1)][c - 1])
            << "trial " << trial << ", row " << i << ", column " << c;
    EXPECT_EQ(s.groups[1][m + 1][1], 1e50) << "sentinel row";
  }
}

}  // namespace
}  // namespace varnalo
