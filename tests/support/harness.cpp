#include "support/harness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include "foundation/process.h"
#include "model/initial_values.h"
#include "model/model_form.h"
#include "session/routine_reports.h"
#include "session/analysis.h"
#include "session/run.h"

namespace varnalo::testing {

namespace fs = std::filesystem;

TempWorkdir::TempWorkdir() {
  std::string pattern = (fs::temp_directory_path() / "varnalo-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = made;
  fs::create_directory(root_ / "DATA");
}

TempWorkdir::~TempWorkdir() {
  std::error_code ignored;
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(root_, ignored);
}

void TempWorkdir::write_data(const std::string& file_name, const std::string& content) const {
  std::ofstream(root_ / "DATA" / file_name, std::ios::binary) << content;
}

void TempWorkdir::copy_data(const fs::path& source) const {
  fs::copy_file(source, root_ / "DATA" / source.filename(), fs::copy_options::overwrite_existing);
}

std::string TempWorkdir::read(const std::string& file_name) const {
  std::ifstream in(root_ / file_name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

SessionResult run_session(const Edition& edition, const TempWorkdir& dir, const std::string& input) {
  SessionResult result;
  ScriptedConsole console(input);
  auto state = std::make_unique<AnalysisState>();
  state->console = &console;
  state->edition = &edition;
  state->workdir = dir.root();
  ConsoleAnswers answers(*state);
  ErrorSink previous = set_error_sink([&](std::string_view text) { result.errors.append(text); });
  result.status = run_program(*state, answers);
  set_error_sink(previous);
  result.screen = console.screen();
  result.unread_input = std::string(console.unread());
  result.report = dir.read("REPORT.TXT");
  result.table = dir.read("TABLE.TXT");
  result.sigmoid = dir.read("SIGMOID.TXT");
  result.linear = dir.read("LINEAR.TXT");
  return result;
}

StageFixture::StageFixture(std::string input)
    : console_(std::make_unique<ScriptedConsole>(std::move(input))) {
  state_.console = console_.get();
  state_.edition = &kVariableMetricEdition;
  report_ = std::tmpfile();
  state_.report_file = report_;
  auto errors = errors_;
  previous_sink_ = set_error_sink([errors](std::string_view text) { errors->append(text); });
}

StageFixture::~StageFixture() {
  set_error_sink(previous_sink_);
  if (report_) std::fclose(report_);
}

void StageFixture::set_groups(const std::vector<std::vector<Group>>& preps,
                              const std::vector<std::string>& names) {
  AnalysisState& s = state_;
  s.nprep = static_cast<int>(preps.size());
  s.ngroups = ivector(1, s.nprep);
  int largest = 0;
  s.total_groups = 0;
  for (int k = 1; k <= s.nprep; ++k) {
    s.prep_names[k] = k - 1 < static_cast<int>(names.size()) ? names[k - 1] : "P" + std::to_string(k);
    s.ngroups[k] = static_cast<int>(preps[k - 1].size());
    s.total_groups += s.ngroups[k];
    if (s.ngroups[k] > largest) largest = s.ngroups[k];
  }
  s.maxgroups = largest + 1;
  s.groups = d3tensor(1, s.nprep, 0, s.maxgroups, 1, 4);
  for (int k = 1; k <= s.nprep; ++k) {
    int i = 0;
    for (const Group& g : preps[k - 1]) {
      ++i;
      s.groups[k][i][1] = g.x;
      s.groups[k][i][2] = g.n <= 1e-50 ? 1e-50 : g.n;
      s.groups[k][i][3] = g.r <= 1e-50 ? 1e-50 : g.r;
    }
    for (int c = 1; c <= 3; ++c) s.groups[k][i + 1][c] = 1e50;
  }
}

void StageFixture::begin_fit(int distribution, int model, int nslopes) {
  AnalysisState& s = state_;
  s.distribution = distribution;
  s.model = model;
  s.nslopes = nslopes;
  s.npar = model_form(model).extra_count() + s.nprep + nslopes;
  alloc_work_arrays(s);
}

std::string StageFixture::report() { return read_stream(report_); }

ReferenceValues ReferenceValues::load(const std::string& file_name) {
  ReferenceValues v;
  std::ifstream in(reference_path(file_name));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string case_name, quantity, value;
    if (fields >> case_name >> quantity >> value)
      v.values_[case_name + " " + quantity] = std::strtod(value.c_str(), nullptr);
  }
  return v;
}

const ReferenceValues& ReferenceValues::get() {
  static const ReferenceValues values = load("reference_values.txt");
  return values;
}

const ReferenceValues& ReferenceValues::information() {
  static const ReferenceValues values = load("information_values.txt");
  return values;
}

bool ReferenceValues::has(const std::string& case_name, const std::string& quantity) const {
  return values_.count(case_name + " " + quantity) > 0;
}

double ReferenceValues::at(const std::string& case_name, const std::string& quantity) const {
  auto it = values_.find(case_name + " " + quantity);
  if (it == values_.end()) {
    ADD_FAILURE() << "no reference value for " << case_name << " " << quantity;
    return std::numeric_limits<double>::quiet_NaN();
  }
  return it->second;
}

fs::path examples_path(const std::string& relative) { return fs::path(VARNALO_EXAMPLES_DIR) / relative; }
fs::path reference_path(const std::string& relative) { return fs::path(VARNALO_REFERENCE_DIR) / relative; }

std::vector<Group> read_group_file(const fs::path& file, bool log_doses) {
  std::ifstream in(file);
  std::vector<Group> groups;
  double dose, n, r;
  while (in >> dose >> n >> r) {
    double x = log_doses ? dose : (dose <= 1e-99 ? -99.0 : std::log10(dose));
    groups.push_back({x, n, r});
  }
  return groups;
}

std::string two_preparation_analysis() {
  return "ROTENONE\nBEETLE\nq\n\n\n"  // names, listing pauses
         "2\n4\n"                      // logistic, model 4
         "y\n\n\n\n\n\n\nn\n"          // separate slopes: edit, keep the six values, done
         "\n\n\n"                      // frequency pauses, estimates
         "\n\n\n"                      // common slope: no edit, frequency pauses
         "\n\n\n\n"                    // levels, choice, pause
         "\n\n\n\n"                    // estimate and matrix pauses
         "y\nt\n\n\nq\n"               // 90/99, table of EDs with two pauses, leave
         "2\n\n\nq\n"                  // reference 2 with two pauses, leave
         "\n\n\n"                      // natural-rate pauses
         "y\n";                        // plots
}

FitResult fit_from_regression(AnalysisState& s, const Edition& edition) {
  s.edition = &edition;
  DVector start = dvector(1, s.param_capacity());
  initial_values(s, start);
  const FitResult result = edition.fit(s, start);
  report_fit(s, result);
  return result;
}

int run_end_status(const std::function<void()>& step) {
  try {
    step();
  } catch (const RunEnd& end) {
    return end.status;
  }
  return -1;
}

std::string read_stream(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fseek(file, 0, SEEK_END);
  return text;
}

int count_of(const std::string& text, const std::string& needle) {
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace varnalo::testing
