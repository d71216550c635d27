// Titles and notes of the pictures.
// Method: fixed sentences filled in from the plotted series; the model forms
// in words from one table keyed by model number; numbers with printf's %e
// and %f conversions.
// Accuracy: doses (and log doses) with four significant digits, trailing
// zeros kept; C and D with four decimals, proportions at dose 0 with three.
#include "export/plot_pictures_notes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "export/plot_pictures_layout.h"
#include "foundation/output.h"

namespace varnalo {

namespace {

// Notes naming preparations list at most this many of them.
constexpr std::size_t kNamesInNote = 3;
// Significant digits of the doses in the notes: the ED50 and its limits
// alike.
constexpr int kDoseDigits = 4;
// Powers of ten whose numbers are written in plain decimals.
constexpr int kLowestPlainExponent = -4;
constexpr int kHighestPlainExponent = 5;

std::string number_text(double v, const char* format) {
  return std::isfinite(v) ? strprintf(format, v) : "-";
}

std::string names_list(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size() && i < kNamesInNote; ++i)
    out += (i > 0 ? ", " : "") + names[i];
  if (names.size() > kNamesInNote) out += strprintf(" and %zu more", names.size() - kNamesInNote);
  return out;
}

// The model forms in words for a reader of a paper, keyed by model number:
// what the title says after the distribution's model name, and the
// probability of a response in the formula under it.
struct ModelWording {
  const char* rates;
  const char* formula;
};
constexpr ModelWording kModelWording[] = {
    {"", ""},  // no model 0
    {"", "P = F(a + b log10 dose)"},
    {" with natural response rate C", "P = C + (1 - C) F(a + b log10 dose)"},
    {" with natural immunity rate D", "P = (1 - D) F(a + b log10 dose)"},
    {" with natural response rate C and natural immunity rate D",
     "P = C + (1 - C - D) F(a + b log10 dose)"},
    {" with known natural preference C", "P = C + (1 - C) F(a + b log10 dose)"},
    {" with natural preference C", "P = C + (1 - C) F(a + b log10 dose)"},
    {" with known natural preference C and natural immunity rate D",
     "P = C + (1 - C)(1 - D) F(a + b log10 dose)"},
    {" with natural preference C and natural immunity rate D",
     "P = C + (1 - C)(1 - D) F(a + b log10 dose)"},
};
constexpr int kModelForms = static_cast<int>(std::size(kModelWording)) - 1;

// The distributions: the model's name and what F is.
struct DistributionWording {
  const char* model;
  const char* function;
};
constexpr DistributionWording kDistributionWording[] = {
    {"Probit model", "where F is the standard normal distribution function"},
    {"Logit model", "where F(z) = 1 / (1 + exp(-z))"},
    {"Complementary log-log model", "where F(z) = 1 - exp(-exp(z))"},
};

const DistributionWording& distribution_wording(int distribution) {
  return kDistributionWording[distribution == 2 ? 1 : distribution == 3 ? 2 : 0];
}

const ModelWording& model_wording(int model) {
  return kModelWording[model >= 1 && model <= kModelForms ? model : 0];
}

// A log dose as the data give doses: the dose, or the log dose itself.
std::string dose_text(const PlotSeries& series, double log_dose) {
  return significant_text(series.dose_scale == 1 ? std::pow(10.0, log_dose) : log_dose,
                          kDoseDigits);
}

// C and D of the models that have them, in words.
std::string c_d_note(const PlotSeries& series) {
  const std::string C = number_text(series.C, "%.4f");
  const std::string D = number_text(series.D, "%.4f");
  switch (series.model) {
    case 2: return "Natural response C = " + C;
    case 3: return "Natural immunity D = " + D;
    case 4: return "Natural response C = " + C + ", natural immunity D = " + D;
    case 5: return "Natural preference C = " + C + " (fixed)";
    case 6: return "Natural preference C = " + C;
    case 7: return "Natural preference C = " + C + " (fixed), natural immunity D = " + D;
    case 8: return "Natural preference C = " + C + ", natural immunity D = " + D;
    default: return "";
  }
}

// Why no preparation has a curve or line.
std::string no_fit_reason(const PlotSeries& series) {
  for (const PreparationSeries& prep : series.preps)
    if (!prep.estimated) return "the data define no estimates";
  return series.slope == 0.0 ? "zero slope" : "estimates not finite";
}

// The note for preparations without a curve (or line).
std::string missing_fit_note(const PlotSeries& series, bool linear) {
  std::vector<std::string> names;
  for (const PreparationSeries& prep : series.preps)
    if (!has_fit(series, prep)) names.push_back(prep.name);
  if (names.empty()) return "";
  const char* what = linear ? "No fitted line" : "No fitted curve";
  if (names.size() == series.preps.size())
    return std::string(what) + " (" + no_fit_reason(series) + "): observed points only";
  return std::string(what) + " for " + names_list(names);
}

std::string zero_dose_note(const PlotSeries& series, bool linear) {
  std::size_t count = 0;
  std::string listed;
  for (const PreparationSeries& prep : series.preps) {
    for (double p : prep.zero_dose_proportions)
      listed += (count++ > 0 ? ", " : "") + prep.name + " " + number_text(p, "%.3f");
  }
  if (count == 0) return "";
  if (linear)
    return strprintf("Not shown: %zu control group%s at dose 0", count, count > 1 ? "s" : "");
  if (count <= kNamesInNote) return "Dose 0 cannot stand on a log axis. Observed at dose 0: " + listed;
  return strprintf("Dose 0 cannot stand on a log axis: %zu control groups not shown", count);
}

std::string infinite_dose_note(const PlotSeries& series) {
  int count = 0;
  for (const PreparationSeries& prep : series.preps) count += prep.infinite_dose_groups;
  if (count == 0) return "";
  return strprintf("Not shown: %d group%s at an infinite dose", count, count > 1 ? "s" : "");
}

}  // namespace

bool has_fit(const PlotSeries& series, const PreparationSeries& prep) {
  return std::isfinite(prep.intercept) && std::isfinite(series.slope) && series.slope != 0.0;
}

std::string plain_text(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '#') out += '#';
  }
  return out;
}

const char* linear_scale_name(int distribution) {
  switch (distribution) {
    case 2: return "Logit";
    case 3: return "Complementary log-log";
    default: return "Probit (normal equivalent deviate)";
  }
}

std::string picture_title(const PlotSeries& series) {
  return std::string(distribution_wording(series.distribution).model) +
         model_wording(series.model).rates;
}

std::string picture_formula(const PlotSeries& series) {
  const char* formula = model_wording(series.model).formula;
  if (*formula == '\0') return "";
  return std::string(formula) + ", " + distribution_wording(series.distribution).function;
}

std::string dose_axis_label(const PlotSeries& series, bool linear) {
  const std::string& unit = series.dose_unit;
  if (linear || series.dose_scale != 1)
    return unit.empty() ? "Log10(Dose)" : "Log10(Dose in " + unit + ")";
  return unit.empty() ? "Dose (log scale)" : "Dose (" + unit + ", log scale)";
}

std::string significant_text(double v, int digits) {
  if (!std::isfinite(v)) return "-";
  // Rounded to the digits first, so that 9.9996 counts as 10.00.
  const std::string exponent_form = strprintf("%.*e", digits - 1, v);
  const int exponent = std::atoi(exponent_form.c_str() + exponent_form.find('e') + 1);
  if (v != 0.0 && (exponent < kLowestPlainExponent || exponent > kHighestPlainExponent))
    return exponent_form;
  const double rounded = std::strtod(exponent_form.c_str(), nullptr);
  return strprintf("%.*f", std::max(0, digits - 1 - exponent), rounded);
}

std::vector<std::string> sigmoid_notes(const PlotSeries& series) {
  std::vector<std::string> notes;
  bool bars = false, bare = false;
  for (const PreparationSeries& prep : series.preps) {
    if (!std::isfinite(prep.ed50) || !has_fit(series, prep)) continue;
    if (std::isfinite(prep.ed50_lower)) bars = true;
    else bare = true;
  }
  if (series.preps.size() > kMaxDetailedPreparations) {
    if (bars || bare)
      notes.push_back(strprintf("ED50 marks and their limits left out with more than %zu "
                                "preparations", kMaxDetailedPreparations));
  } else {
    const std::string ed50 = series.dose_scale == 1 ? "ED50" : "Log10(ED50)";
    if (bars)
      notes.push_back("Bars: " + ed50 + " with its 95% Fieller limits" +
                      (series.preps.size() > 1 ? ", one above another in the order of the legend"
                                               : ""));
    if (bare) notes.push_back(ed50 + " without a bar: 95% limits not available (g >= 1)");
    const std::string unit =
        series.dose_scale == 1 && !series.dose_unit.empty() ? " " + series.dose_unit : "";
    if (series.preps.size() <= kNamesInNote) {
      for (const PreparationSeries& prep : series.preps) {
        if (!std::isfinite(prep.ed50) || !has_fit(series, prep)) continue;
        std::string line = ed50 + " of " + prep.name + ": " + dose_text(series, prep.ed50) + unit;
        if (std::isfinite(prep.ed50_lower))
          line += " (" + dose_text(series, prep.ed50_lower) + " to " +
                  dose_text(series, prep.ed50_upper) + ")";
        notes.push_back(line);
      }
    }
  }
  notes.push_back(c_d_note(series));
  notes.push_back(missing_fit_note(series, false));
  notes.push_back(zero_dose_note(series, false));
  notes.push_back(infinite_dose_note(series));
  std::erase(notes, std::string());
  return notes;
}

std::vector<std::string> linear_notes(const PlotSeries& series) {
  std::vector<std::string> notes;
  bool bands = false, no_band = false;
  std::size_t hidden = 0;
  for (const PreparationSeries& prep : series.preps) {
    if (!prep.lower_band.empty() && !prep.upper_band.empty()) bands = true;
    else if (has_fit(series, prep)) no_band = true;
    const std::size_t shown_on_axis =
        prep.observed.size() - static_cast<std::size_t>(prep.infinite_dose_groups);
    if (shown_on_axis > prep.linear_observed.size()) hidden += shown_on_axis - prep.linear_observed.size();
  }
  if (series.preps.size() > kMaxDetailedPreparations) {
    if (bands)
      notes.push_back(strprintf("95%% confidence bands left out with more than %zu preparations",
                                kMaxDetailedPreparations));
  } else {
    if (bands) notes.push_back("Shaded: 95% confidence band of the log dose (Fieller limits)");
    if (no_band) notes.push_back("No confidence band: 95% Fieller limits not available (g >= 1)");
  }
  const std::string cd = c_d_note(series);
  if (!cd.empty()) notes.push_back("Observed points corrected for C and D. " + cd);
  if (hidden > 0)
    notes.push_back(strprintf("Not shown: %zu observed point%s off this scale (%s)", hidden,
                              hidden > 1 ? "s" : "",
                              cd.empty() ? "proportion 0 or 1"
                                         : "corrected proportion at or beyond 0 or 1"));
  notes.push_back(missing_fit_note(series, true));
  notes.push_back(zero_dose_note(series, true));
  notes.push_back(infinite_dose_note(series));
  std::erase(notes, std::string());
  return notes;
}

}  // namespace varnalo
