// The JSON document: read back with nlohmann-json, its fields hold the
// record's values, null where the report shows none, and the names of the
// files written beside it.
#include "export/results_json.h"

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>

namespace varnalo {
namespace {

AnalysisResults small_record() {
  AnalysisResults r;
  r.number = 3;
  r.settings.program = "VarnaloNM";
  r.settings.algorithm = "Amoeba";
  r.settings.version = 1.63;
  r.settings.dose_scale = 2;
  r.settings.model = 5;
  r.settings.known_c = 0.25;
  r.settings.chi_choice = 2;
  r.data.push_back({"BEETLE", {{0.0, std::nullopt, 20.0, 1.0}, {49.1, 1.6911, 59.0, 6.0}}});
  ResultFit fit;
  fit.kind = "common_slope";
  fit.max_loglik = -186.2;
  fit.maximum_check = "The maximiser stopped short of the maximum.";
  ResultEstimatesTable table;
  table.form = "fitted";
  ResultEstimate b;
  b.label = "b";
  b.quantity = "slope";
  b.estimate = 34.3;
  table.estimates.push_back(b);  // no error: the report shows "-"
  fit.tables.push_back(table);
  r.fits.push_back(fit);
  ResultLimitRow row;
  row.preparation = 1;
  row.name = "BEETLE";
  row.log_value = 1.77;
  row.value = std::numeric_limits<double>::quiet_NaN();
  row.limits.push_back({0.95, std::nullopt, 60.0, std::nullopt, 1.778});
  r.effective_doses.push_back({0.5, false, {row}, false, {}});
  r.notes.push_back({"maximum_check", "The maximiser stopped short of the maximum."});
  return r;
}

TEST(ResultsJson, ReadsBackWithTheRecordsValues) {
  const std::string text =
      results_json(small_record(), {"ANALYSIS003.JSON", "EDS003.CSV", "ESTIMATES003.CSV"});
  ASSERT_EQ(text.back(), '\n');
  const nlohmann::json doc = nlohmann::json::parse(text);
  EXPECT_EQ(doc["format"], "varnalo-analysis");
  EXPECT_EQ(doc["format_version"], kResultsFormatVersion);
  EXPECT_EQ(doc["analysis"], 3);
  EXPECT_EQ(doc["program"]["name"], "VarnaloNM");
  EXPECT_EQ(doc["settings"]["dose_scale"], "log10_dose");
  EXPECT_TRUE(doc["settings"]["dose_unit"].is_null());
  EXPECT_EQ(doc["settings"]["model"]["known_c"], 0.25);
  EXPECT_EQ(doc["settings"]["test"], "likelihood_ratio");
  // The control group has a dose of 0 and no log dose.
  EXPECT_EQ(doc["data"][0]["groups"][0]["dose"], 0.0);
  EXPECT_TRUE(doc["data"][0]["groups"][0]["log10_dose"].is_null());
  EXPECT_EQ(doc["data"][0]["groups"][1]["log10_dose"], 1.6911);
  const auto& fit = doc["fits"][0];
  EXPECT_EQ(fit["max_log_likelihood"], -186.2);
  EXPECT_EQ(fit["maximum_check"], "The maximiser stopped short of the maximum.");
  const auto& slope = fit["estimates"][0]["parameters"][0];
  EXPECT_EQ(slope["estimate"], 34.3);
  EXPECT_TRUE(slope["std_error"].is_null());
  EXPECT_TRUE(slope["preparation"].is_null());
  EXPECT_TRUE(fit["estimates"][0]["covariance"].is_null());
  const auto& ed = doc["effective_doses"][0]["preparations"][0];
  EXPECT_TRUE(ed["ed"].is_null()) << "not a number is null";
  EXPECT_EQ(ed["log10_ed"], 1.77);
  EXPECT_TRUE(ed["limits"][0]["lower"].is_null());
  EXPECT_EQ(ed["limits"][0]["log10_upper"], 1.778);
  EXPECT_EQ(doc["notes"][0]["kind"], "maximum_check");
  EXPECT_EQ(doc["files"]["json"], "ANALYSIS003.JSON");
  EXPECT_EQ(doc["files"]["effective_doses_csv"], "EDS003.CSV");
  EXPECT_EQ(doc["files"]["plot_data"].size(), 0u);
}

TEST(ResultsJson, KeysKeepTheReportsOrder) {
  const std::string text = results_json(small_record(), {"a", "b", "c"});
  const char* keys[] = {"\"program\"", "\"settings\"", "\"data\"", "\"fits\"", "\"tests\"",
                        "\"deviates\"", "\"effective_doses\"", "\"relative_potencies\"",
                        "\"natural_rates\"", "\"notes\"", "\"files\""};
  std::size_t last = 0;
  for (const char* key : keys) {
    const std::size_t at = text.find(key);
    ASSERT_NE(at, std::string::npos) << key;
    EXPECT_GT(at, last) << key;
    last = at;
  }
}

}  // namespace
}  // namespace varnalo
