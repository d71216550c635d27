// Pictures from the real programs: written on "y" by both, none otherwise,
// and a picture that cannot be written ends the run with status 1 and one
// line, keeping every text file whole.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/harness.h"

namespace varnalo {
namespace {

using testing::examples_path;
using testing::TempWorkdir;

const char* const kPictures[] = {"SIGMOID001.PNG", "SIGMOID001.SVG", "LINEAR001.PNG",
                                 "LINEAR001.SVG"};

std::string readme_answers() {
  std::ifstream in(examples_path("answers.txt"));
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs a program on the example data in dir under an optional shell prefix
// (limits); returns its exit status.
int run(const char* binary, const TempWorkdir& dir, const std::string& answers,
        const std::string& prefix = "") {
  dir.copy_data(examples_path("DATA/ROTENONE.TXT"));
  std::ofstream(dir.root() / "answers.txt") << answers;
  const std::string command = "cd '" + dir.root().string() + "' && { " + prefix + " '" + binary +
                              "' < answers.txt > screen.txt 2> errors.txt; }";
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(ProgramPictures, BothProgramsDrawFourPicturesOnYesAndNoneOtherwise) {
  for (const char* binary : {VARNALO_BIN, VARNALO_NM_BIN}) {
    TempWorkdir yes;
    ASSERT_EQ(0, run(binary, yes, readme_answers())) << binary << yes.read("errors.txt");
    for (const char* name : kPictures)
      EXPECT_TRUE(std::filesystem::exists(yes.root() / name)) << binary << " " << name;
    EXPECT_NE(std::string::npos,
              yes.read("screen.txt")
                  .find("  Pictures: SIGMOID001.PNG SIGMOID001.SVG LINEAR001.PNG LINEAR001.SVG\n"));

    std::string answers = readme_answers();
    answers.replace(answers.rfind("y\n"), 2, "\n");  // Enter: no plots
    TempWorkdir no;
    EXPECT_EQ(0, run(binary, no, answers)) << binary << no.read("errors.txt");
    for (const char* name : kPictures)
      EXPECT_FALSE(std::filesystem::exists(no.root() / name)) << binary << " " << name;
  }
}

TEST(ProgramPictures, APictureThatCannotBeWrittenEndsTheRunKeepingTheTextFiles) {
  TempWorkdir whole;
  ASSERT_EQ(0, run(VARNALO_BIN, whole, readme_answers()));
  // A file-size limit of 15 to 30 KB (shells count 512- or 1024-byte blocks)
  // lets the text files through but not the first PNG; the signal of the
  // limit is ignored so that the write itself fails.
  TempWorkdir cut;
  EXPECT_EQ(1, run(VARNALO_BIN, cut, readme_answers(), "trap '' XFSZ; ulimit -f 30;"));
  EXPECT_EQ("  CAN'T WRITE 'SIGMOID001.PNG': File too large\n", cut.read("errors.txt"));
  for (const char* text : {"REPORT.TXT", "TABLE.TXT", "SIGMOID.TXT", "LINEAR.TXT"})
    EXPECT_EQ(whole.read(text), cut.read(text)) << text;
  EXPECT_FALSE(std::filesystem::exists(cut.root() / "SIGMOID001.PNG"));
}

// The pictures the README shows are files of the repository, and PNGs.
TEST(ProgramPictures, TheReadmeShowsPicturesThatExist) {
  const std::filesystem::path source = VARNALO_SOURCE_DIR;
  std::ifstream in(source / "README.md");
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int shown = 0;
  for (std::size_t at = readme.find("]("); at != std::string::npos; at = readme.find("](", at + 1)) {
    const std::size_t end = readme.find(')', at);
    const std::string target = readme.substr(at + 2, end - at - 2);
    if (!target.ends_with(".PNG")) continue;
    ++shown;
    std::ifstream picture(source / target, std::ios::binary);
    std::string signature(8, '\0');
    picture.read(signature.data(), 8);
    EXPECT_EQ("\x89PNG\r\n\x1a\n", signature) << target;
  }
  EXPECT_EQ(2, shown);
}

}  // namespace
}  // namespace varnalo
