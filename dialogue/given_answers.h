// The answers of whole analyses given in advance (the command line), with no
// prompt and no pause: every question is answered from an AnalysisPlan.
//
// The plan holds the run-wide answers (dose scale, variance method), the
// data files of each analysis in turn, and the answers every analysis gets
// alike: distribution, model and known C, the significance levels, the
// test, the 90/99 per cent limits, the ED levels and the table of EDs,
// the reference preparations and the plot files. Starting values are kept
// as the regression gives them.
//
// Every data file is checked before its analysis starts: an analysis with a
// file that would be refused (missing, not numbers in whole sound groups,
// responders above subjects) is left out, with the one line that names the
// file on the error stream, and the next analysis is taken; the run ends
// after the last analysis that can run. refused() counts the analyses left
// out, so that the caller can end with status 1.
// Inputs: the state (data folder, dose scale, console for the notes of a
// file). Outputs: the answers; the lines refusing files.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "dialogue/answers.h"
#include "foundation/state.h"

namespace varnalo {

// A data file of an analysis: its preparation name, and the path of the
// file when it was given by path (empty: the name is looked up in the data
// folder).
struct GivenDataFile {
  std::string name;
  std::filesystem::path path;
};

struct AnalysisPlan {
  int dose_scale = 1;
  int variance_method = 1;
  // The data files of each analysis, in order.
  std::vector<std::vector<GivenDataFile>> analyses;
  int distribution = 1;
  ModelChoice model;
  double chi2_level = 0.05;
  double vr_level = 0.05;
  int chi_choice = 1;
  bool limits_90_99 = false;
  // The ED levels shown one by one, then the table of EDs when asked.
  std::vector<double> ed_levels = {0.5};
  bool ed_table = false;
  // Reference preparations (numbers from 1) of the relative potencies of an
  // analysis of several preparations, in turn.
  std::vector<int> references = {1};
  bool plot_files = false;
};

class GivenAnswers : public Answers {
 public:
  GivenAnswers(AnalysisState& s, AnalysisPlan plan) : s_(s), plan_(std::move(plan)) {}

  int dose_scale(int current) override;
  int variance_method(int current) override;
  std::vector<std::string> data_files() override;
  int distribution(int current) override;
  ModelChoice model(ModelChoice current) override;
  void starting_values(DRef) override {}
  double significance_level(SignificanceOf which, double current) override;
  int chi_square_choice(int current) override;
  bool limits_90_99() override { return plan_.limits_90_99; }
  EffectiveDoseRequest effective_doses(double current_level) override;
  std::optional<int> reference(int current) override;
  bool plot_files() override { return plan_.plot_files; }
  bool end_of_run() override;
  void pause() override {}

  // Analyses left out for a refused data file.
  int refused() const { return refused_; }
  // Whether an analysis of the plan can run, before the run starts: the
  // refusals of the analyses passed over are written now. Needs the dose
  // scale in the state.
  bool has_analysis() { return find_next_analysis(); }

 private:
  // Moves next_ to the first analysis from next_ on whose files are all
  // sound, writing the refusal of each file that is not, and makes its files
  // given by path known to the state; false when none is left.
  bool find_next_analysis();

  AnalysisState& s_;
  AnalysisPlan plan_;
  std::size_t next_ = 0;  // next analysis of the plan
  int refused_ = 0;
  std::size_t ed_answer_ = 0;         // ED answers given in this analysis
  std::size_t reference_answer_ = 0;  // references given in this analysis
};

}  // namespace varnalo
