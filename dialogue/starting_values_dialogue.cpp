#include "dialogue/starting_values_dialogue.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "foundation/output.h"
#include "model/model_family.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

// An edited value of 0 is stored as this (a zero slope or C stalls the fit).
constexpr double kZeroReplacement = 0.0001;

}  // namespace

void read_parameter_value(AnalysisState& s, DRef p, int index) {
  const std::string line = read_answer(s);
  if (line.empty()) return;
  double v = std::strtod(line.c_str(), nullptr);
  // "inf", "nan" and overflowing numbers are not values a fit can start from.
  if (!std::isfinite(v)) v = 0.0;
  p[index] = v == 0.0 ? kZeroReplacement : v;
}

namespace {

// Visits the entries in table order, the estimated C and/or D last.
template <class Intercept, class Slope, class Extra>
void visit_entries(const AnalysisState& s, Intercept intercept, Slope slope, Extra extra) {
  const int k = s.nprep + s.nslopes;
  visit_intercepts_and_slopes(s, intercept, slope);
  for (int slot = 1; slot <= model_form(s).extra_count(); ++slot) extra(k + slot);
}

// The rows of the values table, on the screen or in the report.
template <class Out>
void value_rows(AnalysisState& s, DRef p, const LabelTable& labels, Out out) {
  visit_entries(
      s,
      [&](int i) {
        out(strprintf("  %-3s%13.7lf        %s\n", labels[i].c_str(), p[i],
                      s.prep_names[i].c_str()));
      },
      [&](int e) {
        out(strprintf("  %-3s    %13.7lf    %s\n", labels[e].c_str(), p[e],
                      "Regression Coefficient"));
      },
      [&](int e) { out(strprintf("  %-3s%13.7lf\n", labels[e].c_str(), p[e])); });
}

void screen_table(AnalysisState& s, DRef p, const LabelTable& labels) {
  screen(s, "   #   %-13s\n", "Parameters");
  value_rows(s, p, labels, [&](const std::string& t) { screen_text(s, t); });
  screen(s, "\n");
}

void report_table(AnalysisState& s, DRef p, const LabelTable& labels) {
  report(s, "   #  Initial Values of Parameters\n");
  value_rows(s, p, labels, [&](const std::string& t) { report_text(s, t); });
  if (model_form(s).known_c()) report(s, "  NatC %13.7lf\n", s.fixed_c);
  report(s, "\f");
}

void edit_pass(AnalysisState& s, DRef p, const LabelTable& labels) {
  // Intercepts, slopes and C/D prompts differ only in the padding after the
  // label.
  auto ask = [&](const char* format) {
    return [&, format](int e) {
      screen(s, format, labels[e].c_str());
      read_parameter_value(s, p, e);
    };
  };
  visit_entries(s, ask("  %-3s    "), ask("  %-3s        "), ask("  %-3s   "));
}

}  // namespace

void edit_initial_values(AnalysisState& s, DRef p) {
  LabelTable labels;
  make_param_labels(s, 1, labels);
  screen(s, "Unweighted Regression\n  Edit Initial Values?\n  [*/y] ");
  if (read_key(s) == 'y') {
    screen(s, "\nInitial Values by Unweighted Regression\n");
    screen_table(s, p, labels);
    report_table(s, p, labels);
    do {
      edit_pass(s, p, labels);
      screen(s, "  Edit again? \n  [*/y] ");
    } while (read_key(s) == 'y');
    report_table(s, p, labels);
  }
  screen(s, "\n");
}

}  // namespace varnalo
