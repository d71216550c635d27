// The results of one analysis as plain values, for the files that other
// programs read (export/results_json.h, export/results_csv.h): the settings,
// the data as read, both fits, the tests, the deviates, the effective doses,
// the relative potencies, the natural rates and the notes.
//
// The session fills the record stage by stage from the state, with the very
// numbers the report prints (session/results_collector.h). A value the
// report shows as "-" or "+" (a standard error without a usable variance, a
// missing Fieller limit, a table replaced by a notice) is an empty optional.
// Preparations are numbered from 1, as in the report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/state.h"

namespace varnalo {

using MaybeNumber = std::optional<double>;

struct ResultSettings {
  std::string program;    // "Varnalo" or "VarnaloNM"
  std::string algorithm;  // as in TABLE.TXT
  double version = 0.0;
  int dose_scale = 1;     // 1 doses, 2 log10 doses
  std::string dose_unit;  // "" when none was given
  int variance_method = 1;
  std::string variance_method_name;
  int distribution = 1;
  std::string distribution_name;
  int model = 1;
  std::string model_text;        // the settings line's wording
  MaybeNumber known_c;           // models with a known C
  double chi2_level = 0.05;
  double vr_level = 0.05;
  int chi_choice = 1;            // 1 Pearson, 2 likelihood ratio
  bool limits_90_99 = false;
};

struct ResultGroup {
  MaybeNumber dose;     // 0 for a control group; empty for an infinite dose
  MaybeNumber log_dose; // empty for a control group
  double n = 0.0;
  double r = 0.0;
};

struct ResultPreparation {
  std::string name;
  std::vector<ResultGroup> groups;  // sorted by dose, as analysed
};

// One row of a parameter-estimates table.
struct ResultEstimate {
  std::string label;        // a1, b, m2, s, C, D ...
  std::string quantity;     // "intercept", "slope", "location", "scale", "C", "D"
  int preparation = 0;      // 1..nprep for an intercept, a location or a separate slope
  std::string description;  // the table's Description column
  double estimate = 0.0;
  bool fixed = false;       // the known C: no error, no test
  MaybeNumber std_error;
  MaybeNumber wald_chi2;    // intercepts and slopes only
  MaybeNumber p;
};

struct ResultEstimatesTable {
  std::string form;  // "fitted" (a, b) or "location_scale" (m, s)
  std::vector<ResultEstimate> estimates;
  // The matrix of the estimated parameters in the report's order, with
  // correlations; empty when the report shows the notice instead. An entry
  // of a parameter the data do not define has no value (the report's "-").
  std::vector<std::string> labels;
  std::vector<std::vector<MaybeNumber>> covariance;
  std::vector<std::vector<MaybeNumber>> correlation;
};

struct ResultFit {
  std::string kind;  // "separate_slopes" or "common_slope"
  int slopes = 1;
  int parameters = 0;  // npar, the m of AIC
  double max_loglik = 0.0;
  int iterations = 0;
  double aic = 0.0;
  double lr_chi2 = 0.0;
  double pearson_chi2 = 0.0;
  double df = 0.0;
  std::optional<std::string> maximum_check;  // the line above "The Maximum Log-Likelihood"
  std::vector<std::string> messages;         // the maximiser's limits reached
  std::vector<std::vector<double>> expected; // expected responders, per preparation and group
  std::vector<ResultEstimatesTable> tables;  // as reported: fitted form, then location/scale
};

struct ResultTestRow {
  std::string name;  // "parallelism", "heterogeneity", "total"
  double df = 0.0;
  double chi2 = 0.0;
  MaybeNumber mean_square;
  MaybeNumber p;
};

struct ResultVarianceRatio {
  double f = 0.0;
  double df1 = 0.0, df2 = 0.0;
  double p = 0.0;
  double level = 0.05;
  bool rejected = false;
};

struct ResultTest {
  std::string kind;  // "pearson" or "likelihood_ratio"
  std::vector<ResultTestRow> rows;  // in the report's order
  double level = 0.05;
  bool heterogeneity_significant = false;
  bool parallelism_in_doubt = false;
  std::optional<ResultVarianceRatio> variance_ratio;
};

struct ResultTests {
  std::vector<ResultTest> tables;
  std::string adopted;  // "pearson" or "likelihood_ratio"
  bool parallelism_in_doubt = false;
  bool heterogeneity_significant = false;
  double het_factor = 1.0;
};

struct ResultDeviate {
  double alpha = 0.05;
  double deviate = 0.0;
  MaybeNumber g;
};

// The limits of one estimate at one confidence level, on both scales.
struct ResultLimits {
  double confidence = 0.95;
  MaybeNumber lower, upper;          // dose (or potency) scale
  MaybeNumber log_lower, log_upper;  // log10 scale
};

// One preparation's row of an effective-dose or relative-potency table.
struct ResultLimitRow {
  int preparation = 0;
  std::string name;
  MaybeNumber log_value;  // log10 ED or log10 Rho
  MaybeNumber value;      // ED or Rho
  MaybeNumber variance;   // of the log value
  MaybeNumber std_error;
  std::vector<ResultLimits> limits;  // the confidence levels shown
};

struct ResultEffectiveDoses {
  double level = 0.5;
  bool from_table = false;  // one of the seven levels of the table of EDs
  std::vector<ResultLimitRow> rows;
  // Parallelism rejected: the same level from each preparation's own line of
  // the separate-slopes fit (absent otherwise).
  bool has_separate_slopes = false;
  std::vector<ResultLimitRow> separate_slopes;
};

struct ResultPotencies {
  int reference = 1;
  std::string reference_name;
  std::vector<ResultLimitRow> rows;
};

struct ResultRate {
  std::string quantity;  // "C", "C/(1-C)", "D"
  std::string description;
  MaybeNumber estimate;
  bool fixed = false;  // the known C and its bias: no limits
  std::vector<ResultLimits> limits;  // lower and upper only
};

struct AnalysisResults {
  int number = 0;  // nnn of the file names
  ResultSettings settings;
  std::vector<ResultPreparation> data;
  std::vector<ResultFit> fits;  // separate slopes (several preparations), then common slope
  ResultTests tests;
  std::vector<ResultDeviate> deviates;
  std::vector<ResultEffectiveDoses> effective_doses;  // in the order shown
  std::vector<ResultPotencies> potencies;             // in the order shown
  std::vector<ResultRate> natural_rates;
  std::vector<Note> notes;
  std::vector<std::string> pictures;  // file names written
  bool plot_files = false;
};

}  // namespace varnalo
