#include "session/run.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "data/data_files.h"
#include "data/listing.h"
#include "foundation/console.h"
#include "foundation/menus.h"
#include "foundation/output.h"
#include "foundation/process.h"
#include "export/plot_files.h"
#include "export/plot_pictures.h"
#include "export/plot_series.h"
#include "export/summary_table.h"
#include "fit/fit_driver.h"
#include "fit/simplex.h"
#include "inference/covariance.h"
#include "inference/estimates_report.h"
#include "inference/gof_tests.h"
#include "inference/obs_exp.h"
#include "inference/variance_ratio.h"
#include "potency/effective_dose.h"
#include "potency/natural_rates.h"

namespace varnalo {

const Edition kVariableMetricEdition = {"Varnalo", "DFP", &fit_model, false};
const Edition kSimplexEdition = {"VarnaloNM", "NelderMead", &fit_model_simplex, true};

namespace {

// Form feed: ends every analysis in the report.
constexpr char kFormFeed = '\f';

// True when the file exists and nobody may write to it. A read-only file is
// refused even where the permission check would let the process write (as
// the superuser can), so that marking a report read-only protects it.
bool marked_read_only(const std::filesystem::path& path) {
  using std::filesystem::perms;
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status)) return false;
  return (status.permissions() & (perms::owner_write | perms::group_write | perms::others_write)) ==
         perms::none;
}

// Opens an output file of the working folder for appending; on failure
// writes the given message to the error stream and ends the run.
std::FILE* open_for_append(AnalysisState& s, const char* name, const char* failure_message) {
  const std::filesystem::path path = s.workdir / name;
  std::FILE* f = marked_read_only(path) ? nullptr : std::fopen(path.string().c_str(), "a");
  if (f == nullptr) {
    write_error(failure_message);
    end_run(1);
  }
  return f;
}

void close_file(std::FILE*& f) {
  if (f != nullptr) {
    std::fclose(f);
    f = nullptr;
  }
}

void close_all_files(AnalysisState& s) {
  close_file(s.report_file);
  close_file(s.table_file);
  close_file(s.sigmoid_file);
  close_file(s.linear_file);
}

void start_up(AnalysisState& s) {
  s.distribution = 1;
  s.model = 1;
  s.dose_scale = 1;
  s.variance_method = 1;
  s.chi_choice = 1;
  s.fixed_c = 0.5;
  s.chi2_level = 0.05;
  s.vr_level = 0.05;
  screen(s, "%s\n", s.edition->program_name);
  screen(s, "  Ver.%2.2lf\n", kVersion);
  screen(s, "\n");
  ask_dosage(s);
  ask_variance_method(s);
}

// One fit: configuration, work arrays, starting values and maximisation,
// AIC, information matrix, observed and expected frequencies, Pearson
// chi-square.
void fit_sequence(AnalysisState& s) {
  print_configuration(s);
  alloc_work_arrays(s);
  s.edition->fit(s);
  report_aic(s);
  build_info_matrix(s);
  if (s.edition->fit_cov_from_info) {
    if (s.nslopes == 1 && s.variance_method == 1) {
      screen(s, "* Since NelderMead Routine does not produce Covariance Matrix\n");
      screen(s, "  elements are obtained by inversion of 2nd differentials.\n\n");
    }
    const int n = s.param_capacity();
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) s.fit_cov[i][j] = s.info_cov[i][j];
  }
  print_obs_exp(s);
  s.df = static_cast<double>(s.total_groups - s.npar);
  compute_pearson(s);
}

void keep_goodness_of_fit(AnalysisState& s) {
  s.sep_lr_chi2 = s.lr_chi2;
  s.sep_pearson_chi2 = s.pearson_chi2;
  s.sep_df = s.df;
}

void load_data(AnalysisState& s) {
  ask_data_files(s);
  s.ngroups = ivector(1, s.nprep);
  for (int k = 1; k <= s.nprep; ++k) count_groups(s, k);
  int largest = 0;
  for (int k = 1; k <= s.nprep; ++k)
    if (s.ngroups[k] > largest) largest = s.ngroups[k];
  s.maxgroups = largest + 1;
  s.groups = d3tensor(1, s.nprep, 0, s.maxgroups, 1, 4);
  for (int k = 1; k <= s.nprep; ++k) read_groups(s, k);
  s.total_groups = 0;
  for (int k = 1; k <= s.nprep; ++k) s.total_groups += s.ngroups[k];
  for (int k = 1; k <= s.nprep; ++k) to_log_dose(s, k);
  for (int k = 1; k <= s.nprep; ++k) sort_groups(s, k);
}

void write_plot_files(AnalysisState& s) {
  s.sigmoid_file = open_for_append(s, "SIGMOID.TXT", "\nCAN'T OPEN 'SIGMOID.TXT'\n");
  // The message keeps the program's historical spelling of the file name.
  s.linear_file = open_for_append(s, "LINEAR.TXT", "\nCAN'T OPEN 'LINAR.TXT'\n");
  // One computation of the series for the text files and the pictures.
  const PlotSeries series = compute_plot_series(s);
  write_sigmoid_file(s.sigmoid_file, series);
  write_linear_file(s.linear_file, series);
  close_file(s.sigmoid_file);
  close_file(s.linear_file);
  const std::vector<std::string> pictures = write_plot_pictures(s.workdir, series);
  std::string line = "  Pictures:";
  for (const std::string& name : pictures) line += " " + name;
  screen_text(s, line + "\n");
}

// One analysis; returns true when the user ends the run with "q".
bool run_analysis(AnalysisState& s) {
  s.report_file = open_for_append(s, "REPORT.TXT", "\nCAN'T OPEN 'REPORT.TXT'\n");
  s.table_file = open_for_append(s, "TABLE.TXT", "\nCAN'T OPEN 'TABLE.TXT'\n");
  screen(s, "\n*** %s ver.%2.2lf ***\n\n", s.edition->program_name, kVersion);
  load_data(s);
  report(s, "*** Varnalo ver.%2.2lf ***\n\n", kVersion);
  list_data(s);
  ask_distribution_and_model(s);
  report_settings(s);

  s.nslopes = s.nprep;
  if (s.nprep > 1) {
    s.npar = s.nextra + 2 * s.nprep;
    fit_sequence(s);
    keep_goodness_of_fit(s);
    report_estimates(s, 1);
    free_work_arrays(s);
  }
  s.nslopes = 1;
  s.npar = s.nextra + s.nprep + 1;
  fit_sequence(s);
  if (s.nprep == 1) keep_goodness_of_fit(s);

  chi_square_tests(s);
  report_estimates(s, 1);
  report_covariance(s, 1);
  report_estimates(s, 2);
  report_covariance(s, 2);
  potency_stage(s);
  write_summary_table(s);
  free_potency_arrays(s);
  natural_rates_report(s);

  std::fputc(kFormFeed, s.report_file);
  close_file(s.report_file);
  close_file(s.table_file);

  screen(s, "Generate Data for Plotting?\n  [*/y] ");
  if (read_key(s) == 'y') {
    read_key(s);  // the end of the answer line
    write_plot_files(s);
  }
  screen(s, "\n");

  free_work_arrays(s);
  ivector_free(s.ngroups, 1, s.nprep);
  d3tensor_free(s.groups, 1, s.nprep, 0, s.maxgroups, 1, 4);

  screen(s, "The End of the Analysis\n  [*/q]   ");
  return read_key(s) == 'q';
}

}  // namespace

void alloc_work_arrays(AnalysisState& s) {
  const int n = s.param_capacity();
  s.params = dvector(1, n);
  s.derived_params = dvector(1, n);
  s.fit_cov = matrix(0, n, 1, n);
  s.info_cov = matrix(1, n, 1, n);
  s.derived_cov = matrix(1, n, 1, n);
  s.prep_sum_w = dvector(1, s.nprep);
  s.prep_mean_x = dvector(1, s.nprep);
}

void free_work_arrays(AnalysisState& s) {
  const int n = s.param_capacity();
  dvector_free(s.params, 1, n);
  dvector_free(s.derived_params, 1, n);
  matrix_free(s.fit_cov, 0, n, 1, n);
  matrix_free(s.info_cov, 1, n, 1, n);
  matrix_free(s.derived_cov, 1, n, 1, n);
  dvector_free(s.prep_sum_w, 1, s.nprep);
  dvector_free(s.prep_mean_x, 1, s.nprep);
}

int run_program(AnalysisState& s) {
  int status = 0;
  try {
    start_up(s);
    while (!run_analysis(s)) {
    }
  } catch (const RunEnd& end) {
    status = end.status;
  }
  close_all_files(s);
  std::fflush(stdout);
  return status;
}

}  // namespace varnalo
