// The tidy CSV tables: header and fields, numbers in full, empty fields for
// values not shown, quoting, one row per preparation and ED level.
#include "export/results_csv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace varnalo {
namespace {

ResultLimitRow ed_row(int preparation, const std::string& name, double log_ed) {
  ResultLimitRow row;
  row.preparation = preparation;
  row.name = name;
  row.log_value = log_ed;
  row.value = std::pow(10.0, log_ed);
  row.std_error = 0.25;
  row.limits.push_back({0.95, 0.5, std::nullopt, std::log10(0.5), std::nullopt});
  return row;
}

TEST(ResultsCsv, FieldsAreQuotedOnlyWhenTheyMustBe) {
  const struct {
    const char* text;
    const char* field;
  } cases[] = {{"ROTENONE", "ROTENONE"},       {"a b", "a b"},
               {"x,y", "\"x,y\""},             {"say \"hi\"", "\"say \"\"hi\"\"\""},
               {"two\nlines", "\"two\nlines\""}, {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(csv_text(c.text), c.field) << c.text;
}

TEST(ResultsCsv, NumbersAreWrittenInFullAndNoneAsAnEmptyField) {
  const struct {
    MaybeNumber value;
    const char* text;
  } cases[] = {{0.1, "0.1"},
               {4.845490000000001, "4.845490000000001"},
               {-120.0516414, "-120.0516414"},
               {1e-300, "1e-300"},
               {0.0, "0"},
               {std::nullopt, ""},
               {std::numeric_limits<double>::quiet_NaN(), ""},
               {std::numeric_limits<double>::infinity(), ""}};
  for (const auto& c : cases) EXPECT_EQ(csv_number(c.value), c.text);
}

TEST(ResultsCsv, EffectiveDosesOneRowPerPreparationAndLevel) {
  AnalysisResults r;
  r.number = 7;
  r.effective_doses.push_back({0.5, false, {ed_row(1, "A,1", 0.0), ed_row(2, "B", 1.0)}, false, {}});
  // The table of EDs repeats ED50: its rows are not written twice. A row
  // with no limits at all keeps every field.
  ResultLimitRow bare = ed_row(2, "B", 0.5);
  bare.limits[0] = {0.95, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
  bare.std_error = std::nullopt;
  r.effective_doses.push_back({0.1, true, {ed_row(1, "A,1", -1.0), bare}, false, {}});
  r.effective_doses.push_back({0.5, true, {ed_row(1, "A,1", 0.0), ed_row(2, "B", 1.0)}, false, {}});
  const std::string text = effective_doses_csv(r);
  EXPECT_EQ(text,
            "analysis,preparation_number,preparation,ed_level,ed,log10_ed,log10_std_error,"
            "lower_90,upper_90,log10_lower_90,log10_upper_90,"
            "lower_95,upper_95,log10_lower_95,log10_upper_95,"
            "lower_99,upper_99,log10_lower_99,log10_upper_99\n"
            "7,1,\"A,1\",0.5,1,0,0.25,,,,,0.5,,-0.3010299956639812,,,,,\n"
            "7,2,B,0.5,10,1,0.25,,,,,0.5,,-0.3010299956639812,,,,,\n"
            "7,1,\"A,1\",0.1,0.1,-1,0.25,,,,,0.5,,-0.3010299956639812,,,,,\n"
            "7,2,B,0.1,3.1622776601683795,0.5,,,,,,,,,,,,,\n");
}

TEST(ResultsCsv, EstimatesOneRowPerFitFormAndParameter) {
  AnalysisResults r;
  r.number = 1;
  r.data.push_back({"ROTENONE", {}});
  ResultFit fit;
  fit.kind = "common_slope";
  ResultEstimatesTable table;
  table.form = "fitted";
  ResultEstimate a;
  a.label = "a1";
  a.quantity = "intercept";
  a.preparation = 1;
  a.description = "ROTENONE";
  a.estimate = -2.5;
  a.std_error = 0.5;
  a.wald_chi2 = 25.0;
  a.p = 5.7e-7;
  ResultEstimate c;
  c.label = "C";
  c.quantity = "C";
  c.description = "Natural Preference (Fixed)";
  c.estimate = 0.2;
  c.fixed = true;
  table.estimates = {a, c};
  fit.tables.push_back(table);
  r.fits.push_back(fit);
  EXPECT_EQ(estimates_csv(r),
            "analysis,fit,form,parameter,quantity,preparation_number,preparation,description,"
            "estimate,fixed,std_error,wald_chi2,p\n"
            "1,common_slope,fitted,a1,intercept,1,ROTENONE,ROTENONE,-2.5,FALSE,0.5,25,5.7e-07\n"
            "1,common_slope,fitted,C,C,,,Natural Preference (Fixed),0.2,TRUE,,,\n");
}

}  // namespace
}  // namespace varnalo
