// Pictures: the four files of an analysis checked without looking at pixels
// (PNG signature and size, well-formed SVG holding the names, axis labels and
// notes), their numbering, and a folder that cannot take them.
#include "export/plot_pictures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "export/plot_series.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::Group;
using testing::run_end_status;
using testing::StageFixture;
using testing::TempWorkdir;

// The size a person needs to read a picture.
constexpr std::uint32_t kMinWidth = 640;
constexpr std::uint32_t kMinHeight = 400;

// Width and height from the PNG header; {0, 0} when the bytes are no PNG.
std::pair<std::uint32_t, std::uint32_t> png_size(const std::string& bytes) {
  static const std::string kSignature = "\x89PNG\r\n\x1a\n";
  if (bytes.size() < 24 || bytes.compare(0, 8, kSignature) != 0 || bytes.compare(12, 4, "IHDR") != 0)
    return {0, 0};
  auto word = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
  };
  return {word(16), word(20)};
}

// "" when the text is well-formed XML as far as tags and references go: one
// root element, every element closed in order, every '&' a reference.
std::string xml_problem(const std::string& text) {
  std::vector<std::string> open;
  int roots = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      const std::size_t end = text.find(';', i);
      const std::string ref = text.substr(i + 1, end == std::string::npos ? 0 : end - i - 1);
      if (ref != "amp" && ref != "lt" && ref != "gt" && ref != "quot" && ref != "apos" &&
          ref.rfind("#", 0) != 0)
        return "bad reference at " + std::to_string(i);
    }
    if (text[i] != '<') continue;
    const std::size_t end = text.find('>', i);
    if (end == std::string::npos) return "unclosed tag";
    const std::string tag = text.substr(i + 1, end - i - 1);
    i = end;
    if (tag.empty() || tag[0] == '?' || tag[0] == '!') continue;
    const std::string name = tag.substr(tag[0] == '/', tag.find_first_of(" \t\n/", 1) - (tag[0] == '/'));
    if (tag[0] == '/') {
      if (open.empty() || open.back() != name) return "</" + name + "> closes nothing open";
      open.pop_back();
    } else if (tag.back() != '/') {
      if (open.empty()) ++roots;
      open.push_back(name);
    }
  }
  if (!open.empty()) return "<" + open.back() + "> never closed";
  return roots == 1 ? "" : "not one root element";
}

std::string contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A Normal model-1 fit of preparations with the given names, intercepts and
// slope, six dose groups each (a control group first when asked), and a
// covariance matrix that gives Fieller limits.
struct Fit {
  StageFixture fx;
  Fit(const std::vector<std::string>& names, const std::vector<double>& a, double b,
      bool control = false) {
    std::vector<Group> groups = {{0.0, 20, 2}, {0.3, 20, 6}, {0.6, 20, 9},
                                 {0.9, 20, 13}, {1.2, 20, 17}, {1.5, 20, 20}};
    if (control) groups.insert(groups.begin(), {-99.0, 20, 1});
    fx.set_groups(std::vector<std::vector<Group>>(names.size(), groups), names);
    fx.begin_fit(1, 1, 1);
    AnalysisState& s = fx.state();
    const int P = static_cast<int>(names.size());
    for (int j = 1; j <= P; ++j) {
      s.params[j] = a[static_cast<std::size_t>(j - 1)];
      s.fit_cov[j][j] = 0.04;
      s.fit_cov[j][P + 1] = s.fit_cov[P + 1][j] = -0.01;
      s.prep_sum_w[j] = 30.0;
      s.prep_mean_x[j] = 0.7;
    }
    s.params[P + 1] = b;
    s.fit_cov[P + 1][P + 1] = 0.05;
    s.het_factor = 1.0;
  }
  PlotSeries series() { return compute_plot_series(fx.state()); }
};

TEST(Pictures, OneAndTwoPreparationsGiveFourValidPicturesNamingThem) {
  const std::vector<std::vector<std::string>> cases = {{"ROTENONE"}, {"BUDWORM_M", "BUDWORM_F"}};
  for (const std::vector<std::string>& names : cases) {
    Fit fit(names, std::vector<double>{-1.4, -2.1}, 2.1);
    TempWorkdir dir;
    const std::vector<std::string> written = write_plot_pictures(dir.root(), fit.series()).names;
    EXPECT_EQ(picture_names(1), written);
    ASSERT_EQ(4u, written.size());
    for (const std::string& name : written) {
      const std::string bytes = contents(dir.root() / name);
      if (name.ends_with(".PNG")) {
        const auto [width, height] = png_size(bytes);
        EXPECT_GE(width, kMinWidth) << name;
        EXPECT_GE(height, kMinHeight) << name;
        continue;
      }
      EXPECT_EQ("", xml_problem(bytes)) << name;
      EXPECT_NE(std::string::npos, bytes.find("<svg")) << name;
      for (const std::string& prep : names) EXPECT_NE(std::string::npos, bytes.find(prep)) << name;
      const bool sigmoid = name.starts_with("SIGMOID");
      for (const char* label : sigmoid ? std::vector<const char*>{"Dose (log scale)",
                                                                  "Proportion responding",
                                                                  "Probit model"}
                                       : std::vector<const char*>{"Log10(Dose)", "Probit model"})
        EXPECT_NE(std::string::npos, bytes.find(label)) << name << ": " << label;
    }
  }
}

TEST(Pictures, ASecondAnalysisGetsTheNextNumberAndLeavesTheFirst) {
  Fit fit({"ROTENONE"}, {-2.9}, 4.2);
  TempWorkdir dir;
  write_plot_pictures(dir.root(), fit.series());
  const std::string first = contents(dir.root() / "SIGMOID001.PNG");
  const std::filesystem::file_time_type stamp =
      std::filesystem::last_write_time(dir.root() / "LINEAR001.SVG");
  EXPECT_EQ(picture_names(2), write_plot_pictures(dir.root(), fit.series()).names);
  EXPECT_EQ(first, contents(dir.root() / "SIGMOID001.PNG"));
  EXPECT_EQ(stamp, std::filesystem::last_write_time(dir.root() / "LINEAR001.SVG"));
  EXPECT_TRUE(std::filesystem::exists(dir.root() / "LINEAR002.SVG"));
}

TEST(Pictures, ANumberIsFreeOnlyWhenNoneOfItsFourFilesExists) {
  for (const std::string& taken : picture_names(1)) {
    for (bool dangling_link : {false, true}) {
      TempWorkdir dir;
      if (dangling_link)
        std::filesystem::create_symlink(dir.root() / "nowhere", dir.root() / taken);
      else
        std::ofstream(dir.root() / taken) << "an earlier picture";
      EXPECT_EQ(2, free_picture_number(dir.root())) << taken << (dangling_link ? " (link)" : "");
    }
  }
  TempWorkdir empty;
  EXPECT_EQ(1, free_picture_number(empty.root()));
}

TEST(Pictures, AFolderThatCannotTakeThemEndsTheRunNamingThePicture) {
  Fit fit({"ROTENONE"}, {-2.9}, 4.2);
  TempWorkdir dir;
  const PlotSeries series = fit.series();
  EXPECT_EQ(1, run_end_status([&] { write_plot_pictures(dir.root() / "missing", series); }));
  EXPECT_EQ("  CAN'T WRITE 'SIGMOID001.PNG': No such file or directory\n", fit.fx.errors());
}

// What cannot be drawn is said in a note: a zero slope, estimates that are
// not numbers, limits missing (g >= 1), a control group, markup in a name.
TEST(Pictures, NotesSayWhatIsNotDrawn) {
  struct Case {
    const char* what;
    double a, b, var_b;
    bool control;
    std::string name;
    std::vector<std::string> sigmoid_notes, linear_notes;
  };
  const Case cases[] = {
      {"zero slope", 0.0, 0.0, 0.05, false, "FLAT",
       {"No fitted curve (zero slope)"}, {"No fitted line (zero slope)"}},
      {"not finite", std::nan(""), 1.0, 0.05, false, "NAN",
       {"No fitted curve (estimates not finite)"}, {"No fitted line (estimates not finite)"}},
      {"g >= 1", -1.0, 1.0, 1.0, false, "WEAK",
       {"95% limits not available (g &gt;= 1)"}, {"No confidence band"}},
      {"control", -2.0, 2.0, 0.05, true, "ROTENONE_C",
       {"Dose 0 cannot stand on a log axis. Observed at dose 0: ROTENONE_C 0.050"},
       {"Not shown: 1 control group at dose 0"}},
      {"markup", -2.0, 2.0, 0.05, false, "A&B<C>#1",
       {"A&amp;B&lt;C&gt;#1"}, {"A&amp;B&lt;C&gt;#1"}},
  };
  for (const Case& c : cases) {
    Fit fit({c.name}, {c.a}, c.b, c.control);
    fit.fx.state().fit_cov[2][2] = c.var_b;
    TempWorkdir dir;
    write_plot_pictures(dir.root(), fit.series());
    const std::string sigmoid = contents(dir.root() / "SIGMOID001.SVG");
    const std::string linear = contents(dir.root() / "LINEAR001.SVG");
    EXPECT_EQ("", xml_problem(sigmoid)) << c.what;
    EXPECT_EQ("", xml_problem(linear)) << c.what;
    for (const std::string& note : c.sigmoid_notes)
      EXPECT_NE(std::string::npos, sigmoid.find(note)) << c.what << ": " << note;
    for (const std::string& note : c.linear_notes)
      EXPECT_NE(std::string::npos, linear.find(note)) << c.what << ": " << note;
  }
}

// The axis labels and notes of the parts reach the drawn pictures: the unit,
// log doses labelled as such, the model in words.
TEST(Pictures, TheDoseUnitAndLogDosesReachThePictures) {
  for (int dose_scale : {1, 2}) {
    Fit fit({"ROTENONE"}, {-2.9}, 4.2);
    fit.fx.state().dose_unit = "mg/l";
    fit.fx.state().dose_scale = dose_scale;
    TempWorkdir dir;
    write_plot_pictures(dir.root(), fit.series());
    const std::string sigmoid = contents(dir.root() / "SIGMOID001.SVG");
    const std::string linear = contents(dir.root() / "LINEAR001.SVG");
    const char* label = dose_scale == 1 ? ">Dose (mg/l, log scale)<" : ">Log10(Dose in mg/l)<";
    EXPECT_NE(std::string::npos, sigmoid.find(label)) << dose_scale;
    EXPECT_NE(std::string::npos, linear.find(">Log10(Dose in mg/l)<")) << dose_scale;
    EXPECT_NE(std::string::npos, sigmoid.find(dose_scale == 1 ? ">ED50 of ROTENONE: 4.903 mg/l ("
                                                              : ">Log10(ED50) of ROTENONE: 0.6905 ("))
        << dose_scale;
    for (const std::string& svg : {sigmoid, linear}) {
      EXPECT_NE(std::string::npos, svg.find(">Probit model<")) << dose_scale;
      EXPECT_NE(std::string::npos,
                svg.find(">P = F(a + b log10 dose), where F is the standard normal distribution "
                         "function<"))
          << dose_scale;
    }
  }
}

TEST(Pictures, NinetyNinePreparationsAreAllNamedOnATallerPage) {
  std::vector<std::string> names;
  std::vector<double> a;
  for (int j = 1; j <= kMaxPreparations; ++j) {
    names.push_back("PREPARATION_" + std::to_string(j));
    a.push_back(-2.0 - 0.02 * j);
  }
  Fit fit(names, a, 2.0);
  TempWorkdir dir;
  write_plot_pictures(dir.root(), fit.series());
  const std::string svg = contents(dir.root() / "SIGMOID001.SVG");
  for (const std::string& name : names)
    EXPECT_NE(std::string::npos, svg.find(">" + name + "<")) << name;
  const auto [width, height] = png_size(contents(dir.root() / "LINEAR001.PNG"));
  EXPECT_GE(width, kMinWidth);
  EXPECT_GT(height, width) << "the legend goes below the plot";
}

}  // namespace
}  // namespace varnalo
