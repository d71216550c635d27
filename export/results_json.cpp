#include "export/results_json.h"

#include <nlohmann/json.hpp>

namespace varnalo {

namespace {

using Json = nlohmann::ordered_json;

Json number(const MaybeNumber& x) { return x ? Json(*x) : Json(nullptr); }

Json text_or_null(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

Json limits_json(const std::vector<ResultLimits>& all, bool log_scale) {
  Json list = Json::array();
  for (const ResultLimits& l : all) {
    Json item = {{"confidence", l.confidence}, {"lower", number(l.lower)}, {"upper", number(l.upper)}};
    if (log_scale) {
      item["log10_lower"] = number(l.log_lower);
      item["log10_upper"] = number(l.log_upper);
    }
    list.push_back(item);
  }
  return list;
}

Json limit_rows_json(const std::vector<ResultLimitRow>& rows, const char* value,
                     const char* log_value) {
  Json list = Json::array();
  for (const ResultLimitRow& row : rows) {
    list.push_back({{"preparation", row.preparation},
                    {"name", row.name},
                    {value, number(row.value)},
                    {log_value, number(row.log_value)},
                    {"log10_variance", number(row.variance)},
                    {"log10_std_error", number(row.std_error)},
                    {"limits", limits_json(row.limits, true)}});
  }
  return list;
}

Json estimates_table_json(const ResultEstimatesTable& table) {
  Json parameters = Json::array();
  for (const ResultEstimate& e : table.estimates) {
    parameters.push_back({{"label", e.label},
                          {"quantity", e.quantity},
                          {"preparation", e.preparation > 0 ? Json(e.preparation) : Json(nullptr)},
                          {"description", e.description},
                          {"estimate", e.estimate},
                          {"fixed", e.fixed},
                          {"std_error", number(e.std_error)},
                          {"wald_chi2", number(e.wald_chi2)},
                          {"p", number(e.p)}});
  }
  auto numbers = [](const std::vector<std::vector<MaybeNumber>>& rows) {
    Json out = Json::array();
    for (const auto& row : rows) {
      Json cells = Json::array();
      for (const MaybeNumber& x : row) cells.push_back(number(x));
      out.push_back(cells);
    }
    return out;
  };
  Json covariance = nullptr;
  if (!table.labels.empty())
    covariance = {{"labels", table.labels},
                  {"matrix", numbers(table.covariance)},
                  {"correlation", numbers(table.correlation)}};
  return {{"form", table.form}, {"parameters", parameters}, {"covariance", covariance}};
}

Json fit_json(const ResultFit& fit) {
  Json tables = Json::array();
  for (const ResultEstimatesTable& table : fit.tables) tables.push_back(estimates_table_json(table));
  return {{"kind", fit.kind},
          {"slopes", fit.slopes},
          {"parameters", fit.parameters},
          {"max_log_likelihood", fit.max_loglik},
          {"iterations", fit.iterations},
          {"aic", fit.aic},
          {"lr_chi2", fit.lr_chi2},
          {"pearson_chi2", fit.pearson_chi2},
          {"df", fit.df},
          {"maximum_check", fit.maximum_check ? Json(*fit.maximum_check) : Json(nullptr)},
          {"maximiser_messages", fit.messages},
          {"expected_responders", fit.expected},
          {"estimates", tables}};
}

Json tests_json(const ResultTests& tests) {
  Json tables = Json::array();
  for (const ResultTest& t : tests.tables) {
    Json rows = Json::array();
    for (const ResultTestRow& row : t.rows)
      rows.push_back({{"name", row.name},
                      {"df", row.df},
                      {"chi2", row.chi2},
                      {"mean_square", number(row.mean_square)},
                      {"p", number(row.p)}});
    Json ratio = nullptr;
    if (t.variance_ratio)
      ratio = {{"f", t.variance_ratio->f},
               {"df1", t.variance_ratio->df1},
               {"df2", t.variance_ratio->df2},
               {"p", t.variance_ratio->p},
               {"level", t.variance_ratio->level},
               {"equal_variances_rejected", t.variance_ratio->rejected}};
    tables.push_back({{"kind", t.kind},
                      {"rows", rows},
                      {"level", t.level},
                      {"heterogeneity_significant", t.heterogeneity_significant},
                      {"parallelism_in_doubt", t.parallelism_in_doubt},
                      {"variance_ratio", ratio}});
  }
  return {{"tables", tables},
          {"adopted", tests.adopted},
          {"heterogeneity_significant", tests.heterogeneity_significant},
          {"parallelism_in_doubt", tests.parallelism_in_doubt},
          {"heterogeneity_factor", tests.het_factor}};
}

}  // namespace

std::string results_json(const AnalysisResults& r, const ResultFileNames& files) {
  const ResultSettings& set = r.settings;
  Json doc;
  doc["format"] = "varnalo-analysis";
  doc["format_version"] = kResultsFormatVersion;
  doc["analysis"] = r.number;
  doc["program"] = {{"name", set.program}, {"version", set.version}, {"algorithm", set.algorithm}};
  doc["settings"] = {
      {"dose_scale", set.dose_scale == 2 ? "log10_dose" : "dose"},
      {"dose_unit", text_or_null(set.dose_unit)},
      {"distribution", {{"number", set.distribution}, {"name", set.distribution_name}}},
      {"model", {{"number", set.model}, {"text", set.model_text}, {"known_c", number(set.known_c)}}},
      {"variance_method", {{"number", set.variance_method}, {"name", set.variance_method_name}}},
      {"significance_level", set.chi2_level},
      {"variance_ratio_level", set.vr_level},
      {"test", set.chi_choice == 1 ? "pearson" : "likelihood_ratio"},
      {"limits_90_99", set.limits_90_99}};

  Json data = Json::array();
  for (std::size_t k = 0; k < r.data.size(); ++k) {
    Json groups = Json::array();
    for (const ResultGroup& g : r.data[k].groups)
      groups.push_back(
          {{"dose", number(g.dose)}, {"log10_dose", number(g.log_dose)}, {"n", g.n}, {"r", g.r}});
    data.push_back({{"preparation", k + 1}, {"name", r.data[k].name}, {"groups", groups}});
  }
  doc["data"] = data;

  Json fits = Json::array();
  for (const ResultFit& fit : r.fits) fits.push_back(fit_json(fit));
  doc["fits"] = fits;
  doc["tests"] = tests_json(r.tests);

  Json deviates = Json::array();
  for (const ResultDeviate& d : r.deviates)
    deviates.push_back({{"alpha", d.alpha}, {"deviate", d.deviate}, {"g", number(d.g)}});
  doc["deviates"] = deviates;

  Json eds = Json::array();
  for (const ResultEffectiveDoses& block : r.effective_doses) {
    Json entry = {{"level", block.level},
                  {"table", block.from_table},
                  {"preparations", limit_rows_json(block.rows, "ed", "log10_ed")}};
    // Only where the report shows the separate-slopes tables.
    if (block.has_separate_slopes)
      entry["separate_slopes"] = limit_rows_json(block.separate_slopes, "ed", "log10_ed");
    eds.push_back(entry);
  }
  doc["effective_doses"] = eds;

  Json potencies = Json::array();
  for (const ResultPotencies& block : r.potencies)
    potencies.push_back({{"reference", block.reference},
                         {"reference_name", block.reference_name},
                         {"preparations", limit_rows_json(block.rows, "rho", "log10_rho")}});
  doc["relative_potencies"] = potencies;

  Json rates = Json::array();
  for (const ResultRate& rate : r.natural_rates)
    rates.push_back({{"quantity", rate.quantity},
                     {"description", rate.description},
                     {"estimate", number(rate.estimate)},
                     {"fixed", rate.fixed},
                     {"limits", limits_json(rate.limits, false)}});
  doc["natural_rates"] = rates;

  Json notes = Json::array();
  for (const Note& note : r.notes) notes.push_back({{"kind", note.kind}, {"text", note.text}});
  doc["notes"] = notes;

  Json plot_data = Json::array();
  if (r.plot_files) plot_data = {"SIGMOID.TXT", "LINEAR.TXT"};
  doc["files"] = {{"report", "REPORT.TXT"},
                  {"table", "TABLE.TXT"},
                  {"plot_data", plot_data},
                  {"pictures", r.pictures},
                  {"json", files.json},
                  {"effective_doses_csv", files.effective_doses},
                  {"estimates_csv", files.estimates}};
  // Not-a-number cannot be written in JSON: such a value (none is expected:
  // the record holds no value where the report shows none) becomes null.
  return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace varnalo
