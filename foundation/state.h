// AnalysisState: the one record of program state.
//
// Created at start-up and kept for the whole run. Every stage takes it, reads
// its inputs from it and leaves its results in it. It holds the run-wide
// settings (as answered), the loaded data (GroupTable), the per-fit work
// arrays, the fit and test results, the working data of the potency stage,
// and the ways out: the console, the working folder and the open output
// files.
//
// Index conventions: parameter vectors are [1..N] with
// N = nprep + nslopes + 2 (intercepts, slopes, then C and D), per-preparation
// vectors [1..nprep], the GroupTable [1..nprep][0..maxgroups][1..4].
#pragma once

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/arrays.h"

namespace varnalo {

class Console;
class LikelihoodKernel;
struct Edition;  // fit/edition.h

// The program version, printed with "%2.2lf".
inline constexpr double kVersion = 1.63;

// Names of variance methods 1 and 2, as the menu and the report show them.
inline constexpr const char* kVarianceMethodNames[] = {"SAS Equivalent", "Finney Equivalent"};

// Largest number of preparations in one analysis (slots 1..99).
inline constexpr int kMaxPreparations = 99;
// Longest preparation name accepted (a slot holds 30 bytes with terminator).
inline constexpr std::size_t kMaxNameChars = 29;

// Sentinels: a log dose of -99 stands for a zero dose, 99 for an infinite
// one; a missing lower / upper confidence limit is held as -99 / 99.
inline constexpr double kZeroDoseLog = -99.0;
inline constexpr double kInfiniteDoseLog = 99.0;

// A count of 0 (or less) is stored as this floor in the GroupTable, so that
// r ln r and n ln n stay finite in the likelihood; a count at the floor
// stands for 0.
inline constexpr double kCountFloor = 1e-50;

// A note the analysis printed besides its tables (a refused data file, the
// maximiser's message, the check of the maximum, a warning on the estimates),
// kept so that the results written for other programs carry it too. kind is
// a short fixed word ("maximum_check", "file_refused", ...); text is the
// note as printed, its lines joined by one blank, without indent or line end.
struct Note {
  std::string kind;
  std::string text;
};

// What the data let a fit estimate for one preparation. kTooFewDoses: fewer
// than two distinct doses (controls not counted) under its own slope, or no
// dose at all under a common slope; kNoFiniteMaximum: its likelihood keeps
// rising towards a step (complete or quasi-complete separation);
// kControlsUnexplained: its controls respond although the model gives them no
// response (no C), so no value of the estimates makes the data possible.
enum class Estimable { kYes, kTooFewDoses, kNoFiniteMaximum, kControlsUnexplained };

// The verdict on one fit: per preparation [1..nprep] (entry 0 unused; empty
// until the fit was assessed).
struct FitEstimability {
  std::vector<Estimable> prep;
  bool assessed() const { return !prep.empty(); }
  Estimable of(int j) const {
    return j > 0 && static_cast<std::size_t>(j) < prep.size() ? prep[static_cast<std::size_t>(j)]
                                                              : Estimable::kYes;
  }
  bool estimated(int j) const { return of(j) == Estimable::kYes; }
  // True when every preparation is estimated.
  bool complete() const {
    for (std::size_t j = 1; j < prep.size(); ++j)
      if (prep[j] != Estimable::kYes) return false;
    return true;
  }
  // True when no preparation is estimated.
  bool none() const {
    for (std::size_t j = 1; j < prep.size(); ++j)
      if (prep[j] == Estimable::kYes) return false;
    return prep.size() > 1;
  }
};

struct AnalysisState {
  // ---- ways out ----------------------------------------------------------
  Console* console = nullptr;
  const Edition* edition = nullptr;
  // Working folder: output files are appended here, data files are read from
  // its DATA folder unless data_dir names another folder.
  std::filesystem::path workdir = ".";
  std::filesystem::path data_dir;  // empty: workdir / "DATA"
  // Data files given by path (the command line) under the preparation name
  // they are analysed as; other names are looked up in the data folder.
  std::map<std::string, std::filesystem::path> named_data_files;

  // ---- run-wide settings (menus) -----------------------------------------
  int dose_scale = 1;       // 1 doses, 2 log10 doses in the data files
  std::string dose_unit;    // unit of the doses for the pictures' axes; empty: none given
  int variance_method = 1;  // kVarianceMethodNames: 1 "SAS Equivalent", 2 "Finney Equivalent"
  int distribution = 1;     // 1 Normal, 2 Logistic, 3 Complementary Log-Log
  int model = 1;            // ModelType 1..8
  double fixed_c = 0.5;     // known C of models 5 and 7, in (0, 1)
  int chi_choice = 1;       // 1 Pearson test, 2 likelihood ratio test
  double chi2_level = 0.05;
  double vr_level = 0.05;

  // ---- loaded data -------------------------------------------------------
  int nprep = 0;
  std::array<std::string, kMaxPreparations + 1> prep_names{};  // slot 0 unused
  IVector ngroups;   // [1..nprep]
  int maxgroups = 0;
  D3Tensor groups;   // [1..nprep][0..maxgroups][1..4]: x, n, r, expected r
  int total_groups = 0;

  // ---- current fit -------------------------------------------------------
  int nslopes = 0;
  int npar = 0;
  double df = 0.0;

  // Per-fit work arrays (alloc_work_arrays / free_work_arrays), N as above.
  DVector params;          // [1..N]
  DVector derived_params;  // [1..N]
  Matrix fit_cov;          // [0..N][1..N]
  Matrix info_cov;         // [1..N][1..N]
  Matrix derived_cov;      // [1..N][1..N]
  DVector prep_sum_w;      // [1..nprep]
  DVector prep_mean_x;     // [1..nprep]

  // The likelihood of the current fit's data and model (model/
  // likelihood_kernel.h), made at its first use and dropped with the work
  // arrays.
  std::shared_ptr<LikelihoodKernel> kernel;

  double max_loglik = 0.0;
  double lr_chi2 = 0.0;
  double pearson_chi2 = 0.0;
  double aic = 0.0;
  int iterations = 0;

  // Goodness of fit kept from the separate-slopes fit (or the only fit).
  double sep_lr_chi2 = 0.0;
  double sep_pearson_chi2 = 0.0;
  double sep_df = 0.0;

  double het_factor = 1.0;

  // The verdict of the adopted test when it doubts parallelism (several
  // preparations only); each preparation's effective doses then come from
  // its own line of the separate-slopes fit too.
  bool parallelism_rejected = false;
  // The separate-slopes fit kept for those effective doses (several
  // preparations; released when the analysis ends): its estimates, the
  // covariance matrix of the variance method before any heterogeneity
  // factor, and each preparation's sum of weights and weighted mean log dose.
  DVector sep_params;   // [1..N] with nslopes = nprep
  Matrix sep_cov;       // rows and columns [1..N]
  DVector sep_sum_w;    // [1..nprep]
  DVector sep_mean_x;   // [1..nprep]
  // What the data let each fit estimate (inference/estimability.h): the
  // separate-slopes fit (two or more preparations) and the common-slope fit
  // (the only fit of one preparation). Cleared when an analysis starts.
  FitEstimability separate_estimability;
  FitEstimability common_estimability;
  // The verdict of the fit in hand.
  const FitEstimability& estimability() const {
    return nslopes > 1 ? separate_estimability : common_estimability;
  }

  // ---- potency stage -----------------------------------------------------
  double ed_level = 0.5;
  int ed_table_mode = 0;
  int show_90_99 = 0;
  DVector conf_alpha;      // [1..3]
  DVector conf_deviates;   // [1..3]
  DVector ed_table_levels; // [1..7]
  DVector g_index;         // [1..3], index of regression significance
  DVector ed_log;          // [1..nprep]
  DVector ed_var;          // [1..nprep]
  Matrix ed_upper;         // [1..3][1..nprep]
  Matrix ed_lower;         // [1..3][1..nprep]
  int rp_reference = 1;
  DVector rp_log;          // [1..nprep]
  DVector rp_var;          // [1..nprep]
  Matrix rp_upper;         // [1..3][1..nprep]
  Matrix rp_lower;         // [1..3][1..nprep]
  // Effective doses of the separate-slopes fit at the level in hand, laid out
  // like ed_log, ed_var, ed_upper and ed_lower.
  DVector sep_ed_log;
  DVector sep_ed_var;
  Matrix sep_ed_upper;
  Matrix sep_ed_lower;

  // ---- notes of the analysis in hand (cleared when an analysis starts) -----
  std::vector<Note> notes;

  // ---- output files (open during an analysis) ----------------------------
  std::FILE* report_file = nullptr;
  std::FILE* table_file = nullptr;
  std::FILE* sigmoid_file = nullptr;
  std::FILE* linear_file = nullptr;

  // Size of the parameter vectors of the current fit.
  int param_capacity() const { return nprep + nslopes + 2; }
};

}  // namespace varnalo
