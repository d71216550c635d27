#include "session/results_collector.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "fit/edition.h"
#include "foundation/output.h"
#include "inference/covariance.h"
#include "inference/probability.h"
#include "model/distributions.h"
#include "model/model_family.h"
#include "model/model_form.h"
#include "potency/effective_dose.h"
#include "potency/fieller.h"
#include "session/routine_reports.h"

namespace varnalo {

namespace {

// Smallest variance ratio the test uses, as the test itself does (a zero
// first chi-square still gives a finite ratio).
constexpr double kSmallestRatio = 1e-50;

MaybeNumber finite(double x) { return std::isfinite(x) ? MaybeNumber(x) : std::nullopt; }

bool variance_ok(double v) { return v > 0.0 && std::isfinite(v); }

// An intercept or slope row: error, Wald chi-square and p where the report
// prints them.
ResultEstimate estimate_row(const std::string& label, const char* quantity, int preparation,
                            const std::string& description, double e) {
  ResultEstimate row;
  row.label = label;
  row.quantity = quantity;
  row.preparation = preparation;
  row.description = description;
  row.estimate = e;
  return row;
}

ResultEstimate tested_row(const std::string& label, const char* quantity, int preparation,
                          const std::string& description, double e, double v) {
  ResultEstimate row = estimate_row(label, quantity, preparation, description, e);
  if (!variance_ok(v)) return row;
  const double wald = e * e / v;
  double p = 0.0;
  chi2_prob(wald, 1, &p);
  row.std_error = std::sqrt(v);
  row.wald_chi2 = wald;
  row.p = p;
  return row;
}

ResultEstimate rate_row(const std::string& label, const char* quantity, const char* description,
                        double value, double v) {
  ResultEstimate row = estimate_row(label, quantity, 0, description, value);
  if (variance_ok(v)) row.std_error = std::sqrt(v);
  return row;
}

// The confidence level shown first and last: the 95 per cent level alone, or
// all three.
int first_level(const AnalysisState& s) { return s.show_90_99 ? 1 : kLevel95; }
int last_level(const AnalysisState& s) { return s.show_90_99 ? kConfidenceLevels : kLevel95; }

double confidence(int k) { return 1.0 - kConfidenceAlpha[k]; }

// The rows of an effective-dose or potency table at every confidence level
// shown; no numbers where the report shows the notice instead of rows.
std::vector<ResultLimitRow> limit_rows(AnalysisState& s, bool available, DRef log_values,
                                       DRef variances, const Matrix& lower, const Matrix& upper) {
  std::vector<ResultLimitRow> rows;
  for (int j = 1; j <= s.nprep; ++j) {
    ResultLimitRow row;
    row.preparation = j;
    row.name = s.prep_names[j];
    if (available) {
      // A preparation not estimated has no value (kNotEstimated).
      row.log_value = finite(log_values[j]);
      row.value = finite(std::pow(10.0, log_values[j]));
      row.variance = finite(variances[j]);
      if (variances[j] >= 0.0 && std::isfinite(variances[j]))
        row.std_error = std::sqrt(variances[j]);
    }
    for (int k = first_level(s); k <= last_level(s); ++k) {
      ResultLimits limits;
      limits.confidence = confidence(k);
      const double L = lower[k][j];
      const double U = upper[k][j];
      // A limit is present only inside the sentinels, as the tables show it.
      if (available && L > kMissingLower && std::isfinite(L)) {
        limits.log_lower = L;
        limits.lower = std::pow(10.0, L);
      }
      if (available && U < kMissingUpper && std::isfinite(U)) {
        limits.log_upper = U;
        limits.upper = std::pow(10.0, U);
      }
      row.limits.push_back(limits);
    }
    rows.push_back(row);
  }
  return rows;
}

// Wald limits of a rate, the lower one not below 0; none without a usable
// variance or estimate (shown as "-").
ResultLimits wald_limits(double estimate, double variance, double t, double level) {
  ResultLimits limits;
  limits.confidence = level;
  if (!(variance >= 0.0) || !std::isfinite(variance) || !std::isfinite(estimate)) return limits;
  const double half = t * std::sqrt(variance);
  double lower = estimate - half;
  if (!(lower > 0.0)) lower = 0.0;
  limits.lower = lower;
  limits.upper = estimate + half;
  return limits;
}

// The bias x / (1 - x) of a preference; none where the report shows "-"
// (not a number) or "+" (unbounded, x at or above 1).
MaybeNumber bias(MaybeNumber x) {
  if (!x || !std::isfinite(*x) || *x >= 1.0) return std::nullopt;
  return 1.0 / (1.0 - *x) - 1.0;
}

}  // namespace

void collect_settings(const AnalysisState& s, ResultSettings& settings) {
  const ModelForm& form = model_form(s);
  settings.program = s.edition->program_name;
  settings.algorithm = s.edition->algorithm_name;
  settings.version = kVersion;
  settings.dose_scale = s.dose_scale;
  settings.dose_unit = s.dose_unit;
  settings.variance_method = s.variance_method;
  settings.variance_method_name = kVarianceMethodNames[s.variance_method - 1];
  settings.distribution = s.distribution;
  settings.distribution_name = distribution_name(s.distribution);
  settings.model = s.model;
  settings.model_text = strprintf(form.settings_text, s.fixed_c);
  if (form.known_c()) settings.known_c = s.fixed_c;
  settings.chi2_level = s.chi2_level;
  settings.vr_level = s.vr_level;
  settings.chi_choice = s.chi_choice;
  settings.limits_90_99 = s.show_90_99 != 0;
}

void collect_data(AnalysisState& s, AnalysisResults& r) {
  r.data.clear();
  for (int k = 1; k <= s.nprep; ++k) {
    ResultPreparation prep{s.prep_names[k], {}};
    for (int i = 1; i <= s.ngroups[k]; ++i) {
      DRef row = s.groups[k][i];
      const double x = row[1];
      const double written = row[4];  // the value of the file, left there by the reading
      row[4] = 0.0;
      ResultGroup group;
      const bool control = x <= kZeroDoseLog;
      const bool infinite = x >= kInfiniteDoseLog;
      if (s.dose_scale == 1) {
        group.dose = written;
        if (!control && !infinite) group.log_dose = x;
      } else {
        if (!control) group.log_dose = written;
        group.dose = control ? 0.0 : std::pow(10.0, x);
        if (infinite) group.dose = std::nullopt;
      }
      // Counts at the floor stand for 0.
      group.n = row[2] <= kCountFloor ? 0.0 : row[2];
      group.r = row[3] <= kCountFloor ? 0.0 : row[3];
      prep.groups.push_back(group);
    }
    r.data.push_back(prep);
  }
}

void collect_fit(AnalysisState& s, const FitResult& fit, AnalysisResults& r) {
  ResultFit record;
  record.kind = s.nslopes > 1 ? "separate_slopes" : "common_slope";
  record.slopes = s.nslopes;
  record.parameters = s.npar;
  record.max_loglik = s.max_loglik;
  record.iterations = s.iterations;
  record.aic = s.aic;
  record.lr_chi2 = s.lr_chi2;
  record.pearson_chi2 = s.pearson_chi2;
  record.df = s.df;
  const std::string check = maximum_check_text(fit.check);
  if (!check.empty()) {
    AnalysisState scratch;
    add_note(scratch, "", check);
    record.maximum_check = scratch.notes.front().text;
  }
  for (const std::string& message : solver_messages(fit.runs)) {
    AnalysisState scratch;
    add_note(scratch, "", message);
    record.messages.push_back(scratch.notes.front().text);
  }
  for (int k = 1; k <= s.nprep; ++k) {
    std::vector<double> expected;
    for (int i = 1; i <= s.ngroups[k]; ++i) expected.push_back(s.groups[k][i][4]);
    record.expected.push_back(expected);
  }
  r.fits.push_back(record);
}

void collect_estimates(AnalysisState& s, int form_number, AnalysisResults& r) {
  if (r.fits.empty()) return;
  ResultEstimatesTable table;
  table.form = form_number == 1 ? "fitted" : "location_scale";
  if (form_number == 2 && !location_scale_defined(s, s.params)) return;  // a notice instead
  LabelTable labels;
  make_param_labels(s, form_number, labels);
  const Matrix& V = form_number == 1 ? selected_cov(s) : s.derived_cov;
  DRef e = form_number == 1 ? s.params.view() : s.derived_params.view();
  const ModelForm& form = model_form(s);
  const RateIndices at = rate_indices(s);
  const int c_label = s.nprep + s.nslopes + (form.d_first() ? 2 : 1);
  double C = 0.0, D = 0.0;
  fitted_c_d(s, &C, &D);

  const char* location = form_number == 1 ? "intercept" : "location";
  const char* scale = form_number == 1 ? "slope" : "scale";
  visit_intercepts_and_slopes(
      s,
      [&](int i) {
        table.estimates.push_back(tested_row(labels[i], location, i, s.prep_names[i], e[i], V[i][i]));
      },
      [&](int i) {
        const int prep = s.nslopes > 1 ? i - s.nprep : 0;
        table.estimates.push_back(
            tested_row(labels[i], scale, prep, "RegressionCoefficient", e[i], V[i][i]));
      });
  if (form.known_c()) {
    ResultEstimate row = estimate_row(labels[c_label], "C", 0, form.c_description(), s.fixed_c);
    row.fixed = true;
    table.estimates.push_back(row);
  }
  if (at.c != 0)
    table.estimates.push_back(rate_row(labels[at.c], "C", form.c_description(), C, V[at.c][at.c]));
  if (at.d != 0)
    table.estimates.push_back(rate_row(labels[at.d], "D", form.d_description(), D, V[at.d][at.d]));

  // The matrix as the report shows it: whole, or with "-" (no value) for the
  // parameters the data do not define.
  if (covariance_usable(s, V) || !s.estimability().complete()) {
    const int N = s.npar;
    for (int i = 1; i <= N; ++i) table.labels.push_back(labels[i]);
    table.covariance.assign(N, std::vector<MaybeNumber>(N, 0.0));
    table.correlation.assign(N, std::vector<MaybeNumber>(N, 1.0));
    // The report shows V[c][r] for c <= r below the diagonal and the
    // correlation from V[c][r] for c > r above it.
    for (int row = 1; row <= N; ++row)
      for (int col = 1; col <= N; ++col) {
        const int lo = std::min(row, col), hi = std::max(row, col);
        const bool shown = variance_ok(V[lo][lo]) && variance_ok(V[hi][hi]) &&
                           std::isfinite(V[lo][hi]) && std::isfinite(V[hi][lo]);
        table.covariance[row - 1][col - 1] = shown ? MaybeNumber(V[lo][hi]) : std::nullopt;
        if (row != col)
          table.correlation[row - 1][col - 1] =
              shown ? MaybeNumber(V[hi][lo] / std::sqrt(V[lo][lo] * V[hi][hi])) : std::nullopt;
        else if (!shown)
          table.correlation[row - 1][col - 1] = std::nullopt;
      }
  }
  r.fits.back().tables.push_back(table);
}

void collect_test_table(const AnalysisState& s, TestKind kind, const TestTable& table,
                        const TestVerdict& verdict, double level, AnalysisResults& r) {
  ResultTest test;
  test.kind = kind == TestKind::kPearson ? "pearson" : "likelihood_ratio";
  auto row = [](const char* name, double df, double chi2, bool known, double p) {
    ResultTestRow result{name, df, chi2, std::nullopt, std::nullopt};
    if (known) {
      result.mean_square = chi2 / df;
      result.p = p;
    }
    return result;
  };
  if (s.nprep > 1)
    test.rows.push_back(row("parallelism", table.par_df, table.par_chi2, table.par_known, table.par_p));
  test.rows.push_back(
      row("heterogeneity", table.het_df, table.het_chi2, table.het_known, table.het_p));
  if (s.nprep > 1) {
    const double x = kind == TestKind::kPearson ? s.pearson_chi2 : s.lr_chi2;
    double p = 0.0;
    const bool known = s.df >= 1.0 && chi2_prob(x, static_cast<int>(s.df), &p) == 0;
    test.rows.push_back(row("total", s.df, x, known, p));
  }
  test.level = level;
  test.heterogeneity_significant = verdict.heterogeneity;
  test.parallelism_in_doubt = verdict.parallelism;
  r.tests.tables.push_back(test);
}

void collect_variance_ratio(const TestTable& table, double p, double level,
                            const TestVerdict& verdict, AnalysisResults& r) {
  if (r.tests.tables.empty()) return;
  ResultVarianceRatio ratio;
  double f = (table.het_df / table.het_chi2) * (table.par_chi2 / table.par_df);
  if (!(f > kSmallestRatio)) f = kSmallestRatio;
  ratio.f = f;
  ratio.df1 = table.par_df;
  ratio.df2 = table.het_df;
  ratio.p = p;
  ratio.level = level;
  ratio.rejected = p < level;
  ResultTest& test = r.tests.tables.back();
  test.variance_ratio = ratio;
  test.parallelism_in_doubt = verdict.parallelism;
}

void collect_adopted_test(const AnalysisState& s, const TestVerdict& verdict, AnalysisResults& r) {
  r.tests.adopted = s.chi_choice == 1 ? "pearson" : "likelihood_ratio";
  r.tests.parallelism_in_doubt = s.nprep > 1 && verdict.parallelism;
  r.tests.heterogeneity_significant = verdict.heterogeneity;
  r.tests.het_factor = s.het_factor;
  r.settings.chi_choice = s.chi_choice;
  r.settings.chi2_level = s.chi2_level;
  r.settings.vr_level = s.vr_level;
}

void collect_deviates(const AnalysisState& s, AnalysisResults& r) {
  r.deviates.clear();
  for (int k = 1; k <= kConfidenceLevels; ++k)
    r.deviates.push_back({s.conf_alpha[k], s.conf_deviates[k], finite(s.g_index[k])});
}

namespace {

// The effective doses at one level, of the common slope and, when they are
// shown, of each preparation's own line.
ResultEffectiveDoses effective_doses_at(AnalysisState& s, double level, bool table) {
  compute_effective_doses(s, level);
  ResultEffectiveDoses block;
  block.level = level;
  block.from_table = table;
  block.rows = limit_rows(s, unavailable_reason(s, s.ed_log) == nullptr, s.ed_log, s.ed_var,
                          s.ed_lower, s.ed_upper);
  if (separate_effective_doses_shown(s)) {
    compute_separate_effective_doses(s, level);
    block.has_separate_slopes = true;
    block.separate_slopes = limit_rows(s, separate_unavailable_reason(s) == nullptr,
                                       s.sep_ed_log, s.sep_ed_var, s.sep_ed_lower,
                                       s.sep_ed_upper);
  }
  return block;
}

}  // namespace

void collect_effective_doses(AnalysisState& s, bool table, AnalysisResults& r) {
  r.settings.limits_90_99 = s.show_90_99 != 0;
  if (!table) {
    // The level shown is still in the state; computing it again gives the
    // same values.
    r.effective_doses.push_back(effective_doses_at(s, s.ed_level, false));
    return;
  }
  // The table computed its levels one after another; they are computed
  // again in the same order, which leaves the state as the table left it.
  for (int i = 1; i <= s.ed_table_levels.hi(); ++i)
    r.effective_doses.push_back(effective_doses_at(s, s.ed_table_levels[i], true));
}

void collect_potencies(AnalysisState& s, AnalysisResults& r) {
  r.potencies.push_back({s.rp_reference, s.prep_names[s.rp_reference],
                         limit_rows(s, unavailable_reason(s, s.rp_log) == nullptr, s.rp_log,
                                    s.rp_var, s.rp_lower, s.rp_upper)});
}

void collect_natural_rates(AnalysisState& s, AnalysisResults& r) {
  const ModelForm& form = model_form(s);
  r.natural_rates.clear();
  if (!form.has_rates()) return;
  double C = 0.0, D = 0.0, varC = 0.0, varD = 0.0;
  fitted_c_d(s, &C, &D);
  c_d_variances(s, selected_cov(s), &varC, &varD);

  auto rate = [](const char* quantity, const char* description, MaybeNumber estimate) {
    ResultRate result;
    result.quantity = quantity;
    result.description = description;
    result.estimate = estimate;
    return result;
  };
  ResultRate c_rate = rate("C", form.c_description(), finite(C));
  ResultRate bias_rate =
      rate("C/(1-C)", form.known_c() ? "Fixed Bias" : "Natural Bias", bias(finite(C)));
  ResultRate d_rate = rate("D", form.d_description(), finite(D));
  c_rate.fixed = bias_rate.fixed = form.known_c();
  // The report shows a rate's limits only when every confidence level, shown
  // or not, has them.
  bool c_available = true, d_available = true;
  for (int k = 1; k <= kConfidenceLevels; ++k) {
    const double t = confidence_deviate(s, k);
    const ResultLimits c_limits = wald_limits(C, varC, t, confidence(k));
    const ResultLimits d_limits = wald_limits(D, varD, t, confidence(k));
    c_available = c_available && c_limits.lower.has_value();
    d_available = d_available && d_limits.lower.has_value();
    if (k < first_level(s) || k > last_level(s)) continue;
    c_rate.limits.push_back(c_limits);
    d_rate.limits.push_back(d_limits);
  }
  for (ResultLimits& limits : c_rate.limits) {
    if (!c_available) limits = ResultLimits{limits.confidence, {}, {}, {}, {}};
    bias_rate.limits.push_back({limits.confidence, bias(limits.lower), bias(limits.upper), {}, {}});
  }
  for (ResultLimits& limits : d_rate.limits)
    if (!d_available) limits = ResultLimits{limits.confidence, {}, {}, {}, {}};
  if (form.known_c()) {
    c_rate.limits.clear();
    bias_rate.limits.clear();
  }

  if (form.family == Family::kAllOrNothing) {
    if (form.estimates_c()) r.natural_rates.push_back(c_rate);
  } else if (form.uses_c()) {
    r.natural_rates.push_back(c_rate);
    r.natural_rates.push_back(bias_rate);
  }
  if (form.estimates_d()) r.natural_rates.push_back(d_rate);
}

}  // namespace varnalo
