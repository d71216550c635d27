// Headings and rows of the asymptotic-variance tables and the heading of the
// confidence-limit tables, shared by the effective-dose and potency stages.
#include "inference/asy_tables.h"

#include <cmath>

#include "foundation/number_cell.h"
#include "foundation/output.h"
#include "inference/estimates_report.h"
#include "model/model_family.h"

namespace varnalo {

namespace {

// A cell of the variance table: thirteen columns, seven decimals, its
// leading blank kept since the cells abut.
std::string cell(double x) { return fixed_cell(x, 13, 7, 1); }

}  // namespace

void print_asy_var_head(AnalysisState& s, const char* name) {
  both(s, "Asymptotic Variance for %s\n", name);
  both(s, " #  %13s%13s%13s  %s\n", name, "Variance", "Std.Error", "Preparation");
}

void print_asy_var_rows(AnalysisState& s, DRef e, DRef v) {
  LabelTable labels;
  make_param_labels(s, 2, labels);
  bool all_ok = true;
  for (int i = 1; i <= s.nprep; ++i) {
    // The label's padding parts it from the estimate unless it fills its
    // three columns.
    const std::string estimate = fixed_cell(e[i], 13, 7, labels[i].size() >= 3 ? 1 : 0);
    if (std::isnan(e[i]) && !s.common_estimability.complete()) {
      // Not estimated (see the line on the preparation's data).
      both(s, " %-3s%13s%13s%13s  %s\n", labels[i].c_str(), "-", "-", "-",
           s.prep_names[i].c_str());
    } else if (v[i] >= 0.0 && std::isfinite(v[i])) {
      both(s, " %-3s%s%s%s  %s\n", labels[i].c_str(), estimate.c_str(), cell(v[i]).c_str(),
           cell(std::sqrt(v[i])).c_str(), s.prep_names[i].c_str());
    } else if (std::isfinite(v[i])) {
      // A negative variance has no standard error.
      both(s, " %-3s%s%s%13s  %s\n", labels[i].c_str(), estimate.c_str(), cell(v[i]).c_str(), "-",
           s.prep_names[i].c_str());
      all_ok = false;
    } else {
      both(s, " %-3s%s%13s%13s  %s\n", labels[i].c_str(), estimate.c_str(), "-", "-",
           s.prep_names[i].c_str());
      all_ok = false;
    }
  }
  if (!all_ok) both(s, "%s", kNoStandardErrors);
}

void print_limits_head(AnalysisState& s, int k, DRef alpha, const char* name, const char* tname,
                       const char* word) {
  const double pct = (1.0 - alpha[k]) * 100.0;
  both(s, " #  %8s (%2.0f%% %s)%27s (%2.0f%% %s)  %s\n", name, pct, word, tname, pct, word,
       "Preparation");
}

}  // namespace varnalo
