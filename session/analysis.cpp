#include "session/analysis.h"

#include <cstdio>
#include <string>
#include <vector>

#include "data/data_files.h"
#include "data/listing.h"
#include "export/plot_files.h"
#include "export/plot_pictures.h"
#include "export/plot_series.h"
#include "export/results_files.h"
#include "export/summary_table.h"
#include "fit/edition.h"
#include "foundation/output.h"
#include "foundation/output_files.h"
#include "foundation/process.h"
#include "inference/covariance.h"
#include "inference/estimability.h"
#include "inference/estimates_report.h"
#include "inference/gof_tests.h"
#include "inference/obs_exp.h"
#include "inference/variance_ratio.h"
#include "model/initial_values.h"
#include "model/model_form.h"
#include "potency/effective_dose.h"
#include "potency/natural_rates.h"
#include "potency/relative_potency.h"
#include "session/estimability_report.h"
#include "session/results_collector.h"
#include "session/routine_reports.h"
#include "session/settings_report.h"

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

// One fit: configuration, work arrays, starting values and maximisation
// with the lines that tell how the routines went, AIC, information matrix,
// observed and expected frequencies, Pearson chi-square.
void fit_sequence(AnalysisState& s, Answers& answers, AnalysisResults& results) {
  print_configuration(s);
  alloc_work_arrays(s);
  DVector start = dvector(1, s.param_capacity());
  initial_values(s, start);
  answers.starting_values(start);
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
  // What the data leave undefined in this fit: its variances become "-".
  (s.nslopes > 1 ? s.separate_estimability : s.common_estimability) = assess_estimability(s);
  mark_not_estimated(s);
  print_obs_exp(s, answers);
  s.df = static_cast<double>(s.total_groups - s.npar);
  compute_pearson(s);
  collect_fit(s, result, results);
}

// The separate-slopes fit's estimates and covariances, for the effective
// doses of each preparation's own line should parallelism be rejected.
void keep_separate_fit(AnalysisState& s) {
  s.sep_params = s.params;
  s.sep_cov = selected_cov(s);
  s.sep_sum_w = s.prep_sum_w;
  s.sep_mean_x = s.prep_mean_x;
}

void release_separate_fit(AnalysisState& s) {
  s.sep_params.release();
  s.sep_cov.release();
  s.sep_sum_w.release();
  s.sep_mean_x.release();
}

void keep_goodness_of_fit(AnalysisState& s) {
  s.sep_lr_chi2 = s.lr_chi2;
  s.sep_pearson_chi2 = s.pearson_chi2;
  s.sep_df = s.df;
}

// The data files the answers name, read into the GroupTable; none ends the
// run with status 1.
void load_data(AnalysisState& s, Answers& answers) {
  const std::vector<std::string> names = answers.data_files();
  if (names.empty()) end_run(1);
  s.nprep = static_cast<int>(names.size());
  for (int k = 1; k <= s.nprep; ++k) s.prep_names[k] = names[static_cast<std::size_t>(k - 1)];
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
  // The dose as written in the file rides in the column of the expected
  // responders (filled by the first fit) through the conversion and the
  // sort, for the record of the data.
  for (int k = 1; k <= s.nprep; ++k)
    for (int i = 1; i <= s.ngroups[k]; ++i) s.groups[k][i][4] = s.groups[k][i][1];
  for (int k = 1; k <= s.nprep; ++k) to_log_dose(s, k);
  for (int k = 1; k <= s.nprep; ++k) sort_groups(s, k);
}

// The distribution and model of the analysis, and its settings in the
// report.
void choose_model(AnalysisState& s, Answers& answers, AnalysisResults& results) {
  s.distribution = answers.distribution(s.distribution);
  const ModelChoice choice = answers.model({s.model, s.fixed_c});
  s.model = choice.model;
  s.fixed_c = choice.fixed_c;
  report_settings(s);
  collect_settings(s, results.settings);
}

// One test table with its level, and the variance ratio test of
// parallelism with its own level where it is needed.
TestVerdict test_table(AnalysisState& s, Answers& answers, TestKind kind,
                       AnalysisResults* results) {
  const TestTable table = print_test_table(s, kind);
  s.chi2_level = answers.significance_level(SignificanceOf::kChiSquareTests, s.chi2_level);
  TestVerdict verdict = judge_test_table(s, table, s.chi2_level);
  if (results) collect_test_table(s, kind, table, verdict, s.chi2_level, *results);
  if (needs_variance_ratio(s, verdict)) {
    const double p = print_parallelism_ratio(s, table);
    s.vr_level = answers.significance_level(SignificanceOf::kVarianceRatio, s.vr_level);
    judge_parallelism_ratio(s, p, s.vr_level, &verdict);
    if (results) collect_variance_ratio(table, p, s.vr_level, verdict, *results);
  }
  end_test_table(s);
  return verdict;
}

// The estimates and matrix reports in the fitted and the location/scale
// form.
void estimates_reports(AnalysisState& s, Pauses& pauses, AnalysisResults& results) {
  for (int form = 1; form <= 2; ++form) {
    report_estimates(s, form, pauses);
    report_covariance(s, form, pauses);
    collect_estimates(s, form, results);
  }
}

// The plot writers use plain fprintf; each file is flushed and checked
// after its block and again when closed.
void write_plot_files(AnalysisState& s, AnalysisResults& results) {
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
  const WrittenPictures pictures = write_plot_pictures(s.workdir, series);
  screen_text(s, pictures_screen_text(pictures));
  results.plot_files = true;
  results.pictures = pictures.names;
}

}  // namespace

void chi_square_tests(AnalysisState& s, Answers& answers, AnalysisResults* results) {
  if (warn_no_degrees_of_freedom(s)) answers.pause();
  const TestVerdict pearson = test_table(s, answers, TestKind::kPearson, results);
  const TestVerdict likelihood_ratio =
      test_table(s, answers, TestKind::kLikelihoodRatio, results);
  s.chi_choice = answers.chi_square_choice(s.chi_choice);
  adopt_test(s, pearson, likelihood_ratio);
  if (results) collect_adopted_test(s, s.chi_choice == 1 ? pearson : likelihood_ratio, *results);
  answers.pause();
}

void effective_dose_dialogue(AnalysisState& s, Answers& answers, AnalysisResults* results) {
  begin_potency_stage(s);
  if (results) collect_deviates(s, *results);
  s.show_90_99 = answers.limits_90_99() ? 1 : 0;
  s.ed_level = kDefaultEdLevel;
  for (;;) {
    const EffectiveDoseRequest request = answers.effective_doses(s.ed_level);
    if (request.kind == EffectiveDoseRequest::Kind::kDone) break;
    s.ed_table_mode = request.kind == EffectiveDoseRequest::Kind::kTable ? 1 : 0;
    if (request.kind == EffectiveDoseRequest::Kind::kLevel) s.ed_level = request.level;
    show_effective_doses(s, answers);
    if (results) collect_effective_doses(s, s.ed_table_mode != 0, *results);
  }
}

void relative_potency_dialogue(AnalysisState& s, Answers& answers, AnalysisResults* results) {
  begin_relative_potencies(s);
  if (s.nprep == 1) return;
  while (const std::optional<int> reference = answers.reference(s.rp_reference)) {
    s.rp_reference = *reference;
    show_relative_potencies(s, answers);
    if (results) collect_potencies(s, *results);
  }
}

bool run_analysis(AnalysisState& s, Answers& answers) {
  s.notes.clear();
  s.parallelism_rejected = false;
  release_separate_fit(s);
  s.separate_estimability = {};
  s.common_estimability = {};
  AnalysisResults results;
  s.report_file = open_for_append(s, kReportFileName, "\nCAN'T OPEN 'REPORT.TXT'\n");
  s.table_file = open_for_append(s, kTableFileName, "\nCAN'T OPEN 'TABLE.TXT'\n");
  screen(s, "\n*** %s ver.%2.2lf ***\n\n", s.edition->program_name, kVersion);
  load_data(s, answers);
  collect_data(s, results);
  report(s, "*** Varnalo ver.%2.2lf ***\n\n", kVersion);
  list_data(s, answers);
  choose_model(s, answers, results);

  const int extras = model_form(s).extra_count();
  s.nslopes = s.nprep;
  if (s.nprep > 1) {
    s.npar = extras + 2 * s.nprep;
    fit_sequence(s, answers, results);
    keep_goodness_of_fit(s);
    report_estimates(s, 1, answers);
    collect_estimates(s, 1, results);
    keep_separate_fit(s);
    free_work_arrays(s);
  }
  s.nslopes = 1;
  s.npar = extras + s.nprep + 1;
  fit_sequence(s, answers, results);
  if (s.nprep == 1) keep_goodness_of_fit(s);
  report_estimability(s);

  chi_square_tests(s, answers, &results);
  estimates_reports(s, answers, results);
  effective_dose_dialogue(s, answers, &results);
  relative_potency_dialogue(s, answers, &results);
  write_summary_table(s);
  check_output_file(s.table_file, kTableFileName);
  free_potency_arrays(s);
  natural_rates_report(s, answers);
  collect_natural_rates(s, results);

  report_text(s, std::string(1, kFormFeed));
  close_output_file(s.report_file, kReportFileName);
  close_output_file(s.table_file, kTableFileName);

  if (answers.plot_files()) write_plot_files(s, results);
  results.notes = s.notes;
  screen_text(s, results_screen_text(write_result_files(s.workdir, results)));
  screen(s, "\n");

  free_work_arrays(s);
  release_separate_fit(s);
  ivector_free(s.ngroups, 1, s.nprep);
  d3tensor_free(s.groups, 1, s.nprep, 0, s.maxgroups, 1, 4);

  return answers.end_of_run();
}

void alloc_work_arrays(AnalysisState& s) {
  const int n = s.param_capacity();
  s.kernel.reset();
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
  s.kernel.reset();
  dvector_free(s.params, 1, n);
  dvector_free(s.derived_params, 1, n);
  matrix_free(s.fit_cov, 0, n, 1, n);
  matrix_free(s.info_cov, 1, n, 1, n);
  matrix_free(s.derived_cov, 1, n, 1, n);
  dvector_free(s.prep_sum_w, 1, s.nprep);
  dvector_free(s.prep_mean_x, 1, s.nprep);
}

}  // namespace varnalo
