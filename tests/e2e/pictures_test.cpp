// Pictures from the real programs: written on "y" by both, none otherwise;
// a picture that cannot be written ends the run with status 1 and one line,
// keeping every text file whole; without PLplot's cairo driver the SVG
// pictures alone, and a line naming the package.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <plplot.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// PLplot's driver folder: plplotVERSION/drivers beside the PLplot library
// the tests are linked with; empty when not found.
std::filesystem::path plplot_driver_folder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&::plgDevs), &info) == 0 || info.dli_fname == nullptr)
    return {};
  const std::filesystem::path lib = std::filesystem::canonical(info.dli_fname).parent_path();
  for (const auto& entry : std::filesystem::directory_iterator(lib))
    if (entry.path().filename().string().starts_with("plplot") &&
        std::filesystem::exists(entry.path() / "drivers" / "svg.driver_info"))
      return entry.path() / "drivers";
  return {};
}

// PLplot run with a driver folder that lacks its cairo driver, or holds one
// that cannot be loaded: the SVG pictures alone and a line naming the
// package; or one line naming the picture and PLplot's reason, status 1 and
// the text files whole (PLplot ends the process it draws in, not the run).
TEST(ProgramPictures, AMissingOrBrokenCairoDriver) {
  const std::filesystem::path drivers = plplot_driver_folder();
  if (drivers.empty()) GTEST_SKIP() << "PLplot's driver folder not found";
  TempWorkdir whole;
  ASSERT_EQ(0, run(VARNALO_BIN, whole, readme_answers()));
  struct Case {
    const char* what;
    bool broken_cairo;
    int status;
    const char* errors;
    const char* screen;
    std::vector<std::string> written;
  };
  const Case cases[] = {
      {"no cairo driver", false, 0, "",
       "  Pictures: SIGMOID001.SVG LINEAR001.SVG\n"
       "  PNG pictures need PLplot's cairo driver (Debian package plplot-driver-cairo); only "
       "the SVG pictures were written.\n",
       {"SIGMOID001.SVG", "LINEAR001.SVG"}},
      {"broken cairo driver", true, 1,
       "  CAN'T WRITE 'SIGMOID001.PNG': PLplot (pngcairo device): Unable to load driver\n",
       "Generate Data for Plotting?", {}},
  };
  for (const Case& c : cases) {
    TempWorkdir dir;
    const std::filesystem::path own = dir.root() / "drivers";
    std::filesystem::create_directory(own);
    for (const char* file : {"svg.driver_info", "svg.so"})
      std::filesystem::copy_file(drivers / file, own / file);
    if (c.broken_cairo) {
      std::filesystem::copy_file(drivers / "cairo.driver_info", own / "cairo.driver_info");
      std::ofstream(own / "cairo.so") << "not a shared object";
    }
    EXPECT_EQ(c.status, run(VARNALO_BIN, dir, readme_answers(),
                            "PLPLOT_DRV_DIR='" + own.string() + "'"))
        << c.what;
    EXPECT_EQ(c.errors, dir.read("errors.txt")) << c.what;
    EXPECT_NE(std::string::npos, dir.read("screen.txt").find(c.screen)) << c.what;
    for (const char* name : kPictures) {
      const bool expected = std::find(c.written.begin(), c.written.end(), name) != c.written.end();
      EXPECT_EQ(expected, std::filesystem::exists(dir.root() / name)) << c.what << " " << name;
    }
    for (const char* text : {"REPORT.TXT", "TABLE.TXT", "SIGMOID.TXT", "LINEAR.TXT"})
      EXPECT_EQ(whole.read(text), dir.read(text)) << c.what << " " << text;
  }
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
