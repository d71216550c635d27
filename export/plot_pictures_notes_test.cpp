// Words of the pictures: numbers with their significant digits, the model in
// words with its formula, the dose axis with its unit, and the ED50 notes in
// doses or log doses.
#include "export/plot_pictures_notes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace varnalo {
namespace {

TEST(PictureNotes, NumbersKeepTheirSignificantDigitsTrailingZerosIncluded) {
  const std::pair<double, const char*> cases[] = {
      {21.0, "21.00"},           {18.32, "18.32"},         {4.84549, "4.845"},
      {9.99996, "10.00"},        {12346.0, "12350"},       {999999.0, "1.000e+06"},
      {2e6, "2.000e+06"},        {0.000123456, "0.0001235"}, {1e-5, "1.000e-05"},
      {-0.52288, "-0.5229"},     {1.7705, "1.770"},        {0.0, "0.000"},
      {NAN, "-"},                {INFINITY, "-"},
  };
  for (const auto& [v, text] : cases) EXPECT_EQ(text, significant_text(v, 4)) << v;
  EXPECT_EQ("21", significant_text(21.0, 2));
}

TEST(PictureNotes, TheTitleSaysTheModelInWordsAndTheFormulaUnderIt) {
  struct Case {
    int distribution, model;
    const char* title;
    const char* formula;
  };
  const Case cases[] = {
      {1, 1, "Probit model",
       "P = F(a + b log10 dose), where F is the standard normal distribution function"},
      {1, 2, "Probit model with natural response rate C",
       "P = C + (1 - C) F(a + b log10 dose), where F is the standard normal distribution function"},
      {2, 3, "Logit model with natural immunity rate D",
       "P = (1 - D) F(a + b log10 dose), where F(z) = 1 / (1 + exp(-z))"},
      {3, 4, "Complementary log-log model with natural response rate C and natural immunity rate D",
       "P = C + (1 - C - D) F(a + b log10 dose), where F(z) = 1 - exp(-exp(z))"},
      {1, 5, "Probit model with known natural preference C",
       "P = C + (1 - C) F(a + b log10 dose), where F is the standard normal distribution function"},
      {2, 6, "Logit model with natural preference C",
       "P = C + (1 - C) F(a + b log10 dose), where F(z) = 1 / (1 + exp(-z))"},
      {2, 7, "Logit model with known natural preference C and natural immunity rate D",
       "P = C + (1 - C)(1 - D) F(a + b log10 dose), where F(z) = 1 / (1 + exp(-z))"},
      {3, 8, "Complementary log-log model with natural preference C and natural immunity rate D",
       "P = C + (1 - C)(1 - D) F(a + b log10 dose), where F(z) = 1 - exp(-exp(z))"},
      {1, 9, "Probit model", ""},
  };
  for (const Case& c : cases) {
    PlotSeries s;
    s.distribution = c.distribution;
    s.model = c.model;
    EXPECT_EQ(c.title, picture_title(s)) << c.model;
    EXPECT_EQ(c.formula, picture_formula(s)) << c.model;
  }
}

TEST(PictureNotes, TheDoseAxisSaysDoseOrLogDoseWithTheUnit) {
  struct Case {
    int dose_scale;
    const char* unit;
    bool linear;
    const char* label;
  };
  const Case cases[] = {
      {1, "", false, "Dose (log scale)"},      {1, "mg/l", false, "Dose (mg/l, log scale)"},
      {1, "", true, "Log10(Dose)"},            {1, "mg/l", true, "Log10(Dose in mg/l)"},
      {2, "", false, "Log10(Dose)"},           {2, "ppm", false, "Log10(Dose in ppm)"},
  };
  for (const Case& c : cases) {
    PlotSeries s;
    s.dose_scale = c.dose_scale;
    s.dose_unit = c.unit;
    EXPECT_EQ(c.label, dose_axis_label(s, c.linear)) << c.dose_scale << c.unit << c.linear;
  }
}

// Fitted preparations with ED50s and limits (log10 doses).
PlotSeries fitted(int dose_scale, const std::string& unit, std::size_t preps) {
  PlotSeries s;
  s.dose_scale = dose_scale;
  s.dose_unit = unit;
  s.slope = 2.0;
  for (std::size_t j = 0; j < preps; ++j) {
    PreparationSeries p;
    p.name = "P" + std::to_string(j + 1);
    p.intercept = -1.0;
    p.observed = {{0.5, 0.3}};
    p.ed50 = std::log10(18.32);
    p.ed50_lower = std::log10(15.96);
    p.ed50_upper = std::log10(21.0);
    s.preps.push_back(p);
  }
  return s;
}

TEST(PictureNotes, Ed50NotesAreDosesWithTheUnitOrLogDosesSoLabelled) {
  struct Case {
    const char* what;
    PlotSeries series;
    std::vector<std::string> notes;
  };
  PlotSeries log_doses = fitted(2, "mg/l", 1);
  log_doses.preps[0].ed50 = 1.7706;
  log_doses.preps[0].ed50_lower = 1.7601;
  log_doses.preps[0].ed50_upper = 1.78;
  PlotSeries bare = fitted(2, "", 1);
  bare.preps[0].ed50_lower = bare.preps[0].ed50_upper = NAN;
  const Case cases[] = {
      {"doses", fitted(1, "", 1),
       {"Bars: ED50 with its 95% Fieller limits", "ED50 of P1: 18.32 (15.96 to 21.00)"}},
      {"doses with a unit", fitted(1, "mg/l", 1),
       {"Bars: ED50 with its 95% Fieller limits", "ED50 of P1: 18.32 mg/l (15.96 to 21.00)"}},
      {"log doses", log_doses,
       {"Bars: Log10(ED50) with its 95% Fieller limits",
        "Log10(ED50) of P1: 1.771 (1.760 to 1.780)"}},
      {"log doses without limits", bare,
       {"Log10(ED50) without a bar: 95% limits not available (g >= 1)", "Log10(ED50) of P1: 1.263"}},
      {"two preparations", fitted(1, "", 2),
       {"Bars: ED50 with its 95% Fieller limits, one above another in the order of the legend",
        "ED50 of P1: 18.32 (15.96 to 21.00)", "ED50 of P2: 18.32 (15.96 to 21.00)"}},
      {"four preparations: no values", fitted(1, "", 4),
       {"Bars: ED50 with its 95% Fieller limits, one above another in the order of the legend"}},
      {"eleven preparations", fitted(1, "", 11),
       {"ED50 marks and their limits left out with more than 10 preparations"}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.notes, sigmoid_notes(c.series)) << c.what;
}

TEST(PictureNotes, PlplotEscapesAreDoubledInPlainText) {
  EXPECT_EQ("A##1 mg/l", plain_text("A#1 mg/l"));
  EXPECT_EQ("####", plain_text("##"));
}

}  // namespace
}  // namespace varnalo
