// Test harness: runs whole sessions in-process with scripted input in a
// temporary working folder, builds states with given dose groups for stage
// tests, and reads the committed reference values.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string_view>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dialogue/console_answers.h"
#include "fit/edition.h"
#include "foundation/console.h"
#include "foundation/state.h"

namespace varnalo::testing {

// A temporary working folder with a DATA folder; removed on destruction.
class TempWorkdir {
 public:
  TempWorkdir();
  ~TempWorkdir();
  TempWorkdir(const TempWorkdir&) = delete;
  TempWorkdir& operator=(const TempWorkdir&) = delete;

  const std::filesystem::path& root() const { return root_; }
  // Writes DATA/<file_name> (file_name includes the extension).
  void write_data(const std::string& file_name, const std::string& content) const;
  // Copies a file into DATA under its own name.
  void copy_data(const std::filesystem::path& source) const;
  // Contents of a file of the working folder ("" when missing).
  std::string read(const std::string& file_name) const;

 private:
  std::filesystem::path root_;
};

struct SessionResult {
  int status = -1;
  std::string screen;
  std::string errors;
  std::string report;
  std::string table;
  std::string sigmoid;
  std::string linear;
  std::string unread_input;
};

// Runs a whole program session in-process.
SessionResult run_session(const Edition& edition, const TempWorkdir& dir, const std::string& input);

// The answers of one analysis of ROTENONE and BEETLE (both in DATA) through
// every dialogue: edited starting values ended with "n", 90 and 99 per cent
// limits ("y"), the table of EDs, reference 2, plots ("y"); everything up to
// the end prompt, which it leaves unanswered.
std::string two_preparation_analysis();

// One dose group as the stages see it: x is already the log10 dose.
struct Group {
  double x, n, r;
};

// A state for stage tests: a scripted console (empty input unless given), a
// report captured in a temporary file, and given dose groups.
class StageFixture {
 public:
  explicit StageFixture(std::string input = "");
  ~StageFixture();

  AnalysisState& state() { return state_; }
  ScriptedConsole& console() { return *console_; }
  // The answers and pauses of the dialogue, read from the scripted console.
  ConsoleAnswers& answers() { return answers_; }

  // Loads preparations (names "P1", "P2", ... unless given); sets nprep,
  // ngroups, maxgroups, total_groups, groups with sentinel rows. Groups stay
  // in the given order.
  void set_groups(const std::vector<std::vector<Group>>& preps,
                  const std::vector<std::string>& names = {});
  // Sets model/distribution, nslopes and npar, and allocates the
  // work arrays.
  void begin_fit(int distribution, int model, int nslopes);
  // Everything written to the report so far.
  std::string report();
  const std::string& screen() const { return console_->screen(); }
  // Everything written to the error stream while the fixture lives.
  const std::string& errors() const { return *errors_; }

 private:
  std::shared_ptr<std::string> errors_ = std::make_shared<std::string>();
  std::function<void(std::string_view)> previous_sink_;
  std::unique_ptr<ScriptedConsole> console_;
  AnalysisState state_;
  ConsoleAnswers answers_{state_};
  std::FILE* report_ = nullptr;
};

// Reference values computed independently (tests/reference): maps
// "case quantity" to the value.
class ReferenceValues {
 public:
  // reference_values.txt: the published data sets.
  static const ReferenceValues& get();
  // information_values.txt: variance matrices and Fieller limits of the
  // random battery's fits.
  static const ReferenceValues& information();
  bool has(const std::string& case_name, const std::string& quantity) const;
  // Fails the current test (and returns NaN) when the value is missing.
  double at(const std::string& case_name, const std::string& quantity) const;

 private:
  static ReferenceValues load(const std::string& file_name);
  std::map<std::string, double> values_;
};

// Path of a file of the examples folder or the reference folder.
std::filesystem::path examples_path(const std::string& relative);
std::filesystem::path reference_path(const std::string& relative);

// Parses data files written as "dose n r" lines into groups with x = log10
// dose (dose 0 gives x = -99), or x = the first column when log_doses.
std::vector<Group> read_group_file(const std::filesystem::path& file, bool log_doses);

// One fit as the session runs it in the given edition, without the
// dialogue: starting values by regression, the edition's fit step, and the
// lines that report how its routines went and the maximum. The work arrays
// must be allocated (StageFixture::begin_fit).
FitResult fit_from_regression(AnalysisState& s, const Edition& edition);

// Runs step; returns the status of the run end it raises, or -1 when it
// returns normally.
int run_end_status(const std::function<void()>& step);

// Everything written to a temporary file so far (flushed first); the file is
// left positioned at its end for further writing.
std::string read_stream(std::FILE* file);

// Number of places in text where needle starts (occurrences may overlap).
int count_of(const std::string& text, const std::string& needle);

}  // namespace varnalo::testing
