#include "session/run.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "data/data_files.h"
#include "data/listing.h"
#include "foundation/console.h"
#include "dialogue/menus.h"
#include "foundation/menus.h"
#include "foundation/output.h"
#include "foundation/output_files.h"
#include "foundation/process.h"
#include "export/plot_files.h"
#include "export/plot_pictures.h"
#include "export/plot_series.h"
#include "export/summary_table.h"
#include "fit/edition.h"
#include "inference/covariance.h"
#include "inference/estimates_report.h"
#include "inference/gof_tests.h"
#include "inference/obs_exp.h"
#include "inference/variance_ratio.h"
#include "potency/effective_dose.h"
#include "model/initial_values.h"
#include "potency/natural_rates.h"
#include "session/routine_reports.h"
#include "session/settings_report.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

// Form feed: ends every analysis in the report.
constexpr char kFormFeed = '\f';

// Opens an output file of the working folder for appending; on failure
// writes the given message to the error stream and ends the run.
std::FILE* open_for_append(AnalysisState& s, const char* name, const char* failure_message) {
  std::FILE* f = open_output_file(s.workdir / name);
  if (f == nullptr) {
    write_error(failure_message);
    end_run(1);
  }
  return f;
}

// Closes every output file still open when the run ends. Unless the run is
// ending on a write failure already reported, a file whose last data cannot
// be written is reported too and the status becomes 1.
void close_all_files(AnalysisState& s, bool write_failure_reported, int& status) {
  const struct {
    std::FILE*& file;
    const char* name;
  } files[] = {{s.report_file, kReportFileName},
               {s.table_file, kTableFileName},
               {s.sigmoid_file, kSigmoidFileName},
               {s.linear_file, kLinearFileName}};
  for (const auto& f : files) {
    if (write_failure_reported) {
      discard_output_file(f.file);
      continue;
    }
    try {
      close_output_file(f.file, f.name);
    } catch (const RunEnd& end) {
      status = end.status;
      write_failure_reported = true;
    }
  }
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

// One fit: configuration, work arrays, starting values and maximisation
// with the lines that tell how the routines went, AIC, information matrix,
// observed and expected frequencies, Pearson chi-square.
void fit_sequence(AnalysisState& s) {
  print_configuration(s);
  alloc_work_arrays(s);
  DVector start = dvector(1, s.param_capacity());
  initial_values(s, start);
  edit_initial_values(s, start);
  const FitResult result = s.edition->fit(s, start);
  dvector_free(start, 1, s.param_capacity());
  report_fit(s, result);
  report_aic(s);
  report_inversion(s, build_info_matrix(s));
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

// The plot writers use plain fprintf; each file is flushed and checked
// after its block and again when closed.
void write_plot_files(AnalysisState& s) {
  s.sigmoid_file = open_for_append(s, kSigmoidFileName, "\nCAN'T OPEN 'SIGMOID.TXT'\n");
  // The message keeps the program's historical spelling of the file name.
  s.linear_file = open_for_append(s, kLinearFileName, "\nCAN'T OPEN 'LINAR.TXT'\n");
  // One computation of the series for the text files and the pictures.
  const PlotSeries series = compute_plot_series(s);
  write_sigmoid_file(s.sigmoid_file, series);
  check_output_file(s.sigmoid_file, kSigmoidFileName);
  write_linear_file(s.linear_file, series);
  check_output_file(s.linear_file, kLinearFileName);
  close_output_file(s.sigmoid_file, kSigmoidFileName);
  close_output_file(s.linear_file, kLinearFileName);
  const std::vector<std::string> pictures = write_plot_pictures(s.workdir, series);
  std::string line = "  Pictures:";
  for (const std::string& name : pictures) line += " " + name;
  screen_text(s, line + "\n");
}

// One analysis; returns true when the user ends the run with "q".
bool run_analysis(AnalysisState& s) {
  s.report_file = open_for_append(s, kReportFileName, "\nCAN'T OPEN 'REPORT.TXT'\n");
  s.table_file = open_for_append(s, kTableFileName, "\nCAN'T OPEN 'TABLE.TXT'\n");
  screen(s, "\n*** %s ver.%2.2lf ***\n\n", s.edition->program_name, kVersion);
  load_data(s);
  report(s, "*** Varnalo ver.%2.2lf ***\n\n", kVersion);
  list_data(s);
  ask_distribution_and_model(s);
  report_settings(s);

  s.nslopes = s.nprep;
  if (s.nprep > 1) {
    s.npar = model_form(s).extra_count() + 2 * s.nprep;
    fit_sequence(s);
    keep_goodness_of_fit(s);
    report_estimates(s, 1);
    free_work_arrays(s);
  }
  s.nslopes = 1;
  s.npar = model_form(s).extra_count() + s.nprep + 1;
  fit_sequence(s);
  if (s.nprep == 1) keep_goodness_of_fit(s);

  chi_square_tests(s);
  report_estimates(s, 1);
  report_covariance(s, 1);
  report_estimates(s, 2);
  report_covariance(s, 2);
  potency_stage(s);
  write_summary_table(s);
  check_output_file(s.table_file, kTableFileName);
  free_potency_arrays(s);
  natural_rates_report(s);

  report_text(s, std::string(1, kFormFeed));
  close_output_file(s.report_file, kReportFileName);
  close_output_file(s.table_file, kTableFileName);

  screen(s, "Generate Data for Plotting?\n  [*/y] ");
  if (read_key(s) == 'y') write_plot_files(s);
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
  bool write_failure_reported = false;
  try {
    start_up(s);
    while (!run_analysis(s)) {
    }
  } catch (const RunEnd& end) {
    status = end.status;
    write_failure_reported = end.write_failure;
  } catch (const std::bad_alloc&) {
    // Memory ran out outside the array allocators (which report it
    // themselves): ended like every other fatal condition.
    write_error(kOutOfMemoryMessage);
    status = 1;
  }
  close_all_files(s, write_failure_reported, status);
  std::fflush(stdout);
  return status;
}

}  // namespace varnalo
