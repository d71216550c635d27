// Parameter estimates with standard errors and Wald chi-squares, and the
// matrix of variances, covariances and correlations, in the fitted form
// (1: a, b, C, D) and the location/scale form (2: m = -a/b, s = 1/b, C, D).
// Method: Wald test W = e^2 / var(e) with the chi-square (1 DF) tail; the
// correlation of two estimates is cov / sqrt(var var). Source: Wald (1943),
// Trans. Amer. Math. Soc. 54, 426-482; Finney, "Probit Analysis" (3rd ed.,
// 1971), chapter 4. Accuracy: the 1 DF tail comes from the normal
// distribution function (about 1e-9 absolute); the rest is exact up to
// rounding given the covariance matrix.
#include "inference/estimates_report.h"

#include <algorithm>
#include <cmath>

#include "foundation/number_cell.h"
#include "foundation/output.h"
#include "inference/covariance.h"
#include "inference/probability.h"
#include "model/model_family.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

// Columns of the covariance matrix shown side by side.
constexpr int kBlockColumns = 5;
// Width of the standard-error cell of a rate's row.
constexpr int kErrorWidth = 12;

// The notice that replaces the location/scale form where it cannot be
// formed.
constexpr const char* kNoLocationScale =
    "  The location/scale form (m = -a/b, s = 1/b) is not available for this fit (zero "
    "slope).\n";

// A cell whose own leading blank is all that parts it from the cell on its
// left keeps that blank when a wide value takes the exponent form.
constexpr int kAbutting = 1;

// The padding of the three-column label parts it from the cell that
// follows, unless the label fills all three columns.
int gap_after_label(const std::string& label) { return label.size() >= 3 ? kAbutting : 0; }

// An estimate cell: thirteen columns, seven decimals. A slope's estimate
// stands four blanks to the right; the others follow the label directly.
std::string estimate_cell(double e, const std::string& label, bool slope = false) {
  return fixed_cell(e, 13, 7, slope ? 0 : gap_after_label(label));
}

bool variance_ok(double v) { return v > 0.0 && std::isfinite(v); }

// One intercept or slope row; the error cells show "-" when the variance is
// unusable. Returns false in that case.
bool print_tested_row(AnalysisState& s, bool slope, const std::string& label, double e, double v,
                      const std::string& description) {
  if (!variance_ok(v)) {
    if (slope)
      both(s, "  %-3s    %s%12s%14s %7s  %s\n", label.c_str(),
           estimate_cell(e, label, true).c_str(), "-", "-", "-", description.c_str());
    else
      both(s, "  %-3s%s    %12s%14s %7s  %s\n", label.c_str(), estimate_cell(e, label).c_str(), "-",
           "-", "-", description.c_str());
    return false;
  }
  const double se = std::sqrt(v);
  const double wald = e * e / v;
  double p = 0.0;
  chi2_prob(wald, 1, &p);
  // A slope's error cell follows its estimate directly; an intercept's
  // stands four blanks to the right of it.
  const std::string se_cell = fixed_cell(se, 12, 7, slope ? kAbutting : 0);
  const std::string wald_cell = fixed_cell(wald, 14, 7, kAbutting);
  if (slope)
    both(s, "  %-3s    %s%s%s %7.4lf  %s\n", label.c_str(), estimate_cell(e, label, true).c_str(),
         se_cell.c_str(), wald_cell.c_str(), p, description.c_str());
  else
    both(s, "  %-3s%s    %s%s %7.4lf  %s\n", label.c_str(), estimate_cell(e, label).c_str(),
         se_cell.c_str(), wald_cell.c_str(), p, description.c_str());
  return true;
}

// An extra-parameter row (no Wald test), its error cell `width` wide.
bool print_extra_row(AnalysisState& s, int width, const std::string& label, double value,
                     double v, const char* description) {
  if (!variance_ok(v)) {
    both(s, "  %-3s%s    %*s %21s  %s\n", label.c_str(), estimate_cell(value, label).c_str(), width,
         "-", "", description);
    return false;
  }
  both(s, "  %-3s%s    %s %21s  %s\n", label.c_str(), estimate_cell(value, label).c_str(),
       fixed_cell(std::sqrt(v), width, 7).c_str(), "", description);
  return true;
}

void print_fixed_row(AnalysisState& s, const std::string& label, double value,
                     const char* description) {
  both(s, "  %-3s%s     %34s %s\n", label.c_str(), estimate_cell(value, label).c_str(), "",
       description);
}

// The form-2 reports when the slope is zero: the notice and the usual pause.
void location_scale_unavailable(AnalysisState& s, Pauses& pauses) {
  both(s, "%s", kNoLocationScale);
  add_note(s, "no_location_scale", kNoLocationScale);
  pauses.pause();
  report(s, "\n");
}

}  // namespace

void report_estimates(AnalysisState& s, int form, Pauses& pauses) {
  LabelTable labels;
  make_param_labels(s, form, labels);
  Matrix& V = selected_cov(s);
  if (form == 1) {
    print_estimates(s, s.params, V, labels, pauses);
    return;
  }
  if (!location_scale_defined(s, s.params)) {
    location_scale_unavailable(s, pauses);
    return;
  }
  derive_location_scale(s, s.params, s.derived_params, V, s.derived_cov);
  print_estimates(s, s.derived_params, s.derived_cov, labels, pauses);
}

void report_covariance(AnalysisState& s, int form, Pauses& pauses) {
  LabelTable labels;
  make_param_labels(s, form, labels);
  Matrix& V = selected_cov(s);
  if (form == 1) {
    print_cov_matrix(s, V, labels, pauses);
    return;
  }
  if (!location_scale_defined(s, s.params)) {
    location_scale_unavailable(s, pauses);
    return;
  }
  derive_location_scale(s, s.params, s.derived_params, V, s.derived_cov);
  print_cov_matrix(s, s.derived_cov, labels, pauses);
}

void print_estimates(AnalysisState& s, DRef e, const Matrix& V, const LabelTable& labels,
                     Pauses& pauses) {
  const ModelForm& form = model_form(s);
  const RateIndices at = rate_indices(s);
  // The label C stands after D where D is the first extra entry.
  const int c_label = s.nprep + s.nslopes + (form.d_first() ? 2 : 1);
  double C = 0.0, D = 0.0;
  fitted_c_d(s, &C, &D);

  both(s, "Parameter Estimates\n");
  both(s, "  #  %13s    %13s%13s%5s     %s\n", "Parameter", "Std. Error", "Wald's Chi2", "p",
       "Description");
  bool all_ok = true;
  auto intercept = [&](int i) {
    all_ok &= print_tested_row(s, false, labels[i], e[i], V[i][i], s.prep_names[i]);
  };
  auto slope = [&](int i) {
    all_ok &= print_tested_row(s, true, labels[i], e[i], V[i][i], "RegressionCoefficient");
  };
  visit_intercepts_and_slopes(s, intercept, slope);

  if (form.known_c()) print_fixed_row(s, labels[c_label], s.fixed_c, form.c_description());
  if (at.c != 0)
    all_ok &= print_extra_row(s, form.c_error_width, labels[at.c], C, V[at.c][at.c],
                              form.c_description());
  if (at.d != 0)
    all_ok &= print_extra_row(s, kErrorWidth, labels[at.d], D, V[at.d][at.d],
                              form.d_description());
  // Parameters the data do not define have a line of their own (the
  // preparation's verdict); the notice is for variances lost otherwise.
  if (!all_ok && s.estimability().complete()) {
    both(s, "%s", kNoStandardErrors);
    add_note(s, "no_standard_errors", kNoStandardErrors);
  }
  pauses.pause();
  report(s, "\n");
}

void print_cov_matrix(AnalysisState& s, const Matrix& V, const LabelTable& labels,
                      Pauses& pauses) {
  const int N = s.npar;
  both(s, "Matrix of Variances, Covariances, and (Correlations)\n");
  // Entries of parameters the data do not define show "-"; a matrix
  // unusable for any other reason gets the notice.
  const bool marked = !s.estimability().complete();
  if (!marked && !covariance_usable(s, V)) {
    // Correlations need finite, positive variances; one notice instead.
    both(s, "%s", kNoStandardErrors);
    pauses.pause();
    report(s, "\n");
    return;
  }
  const int nblocks = (N - 1) / kBlockColumns + 1;
  for (int t = 1; t <= nblocks; ++t) {
    const int first = kBlockColumns * (t - 1) + 1;
    const int last = std::min(kBlockColumns * t, N);
    std::string line = strprintf(" %6s", "");
    for (int col = first; col <= last; ++col) line += strprintf("%6s%7s", labels[col].c_str(), "");
    line += "\n";
    both(s, "%s", line.c_str());
    for (int r = 1; r <= N; ++r) {
      line = strprintf("  %-3s", labels[r].c_str());
      for (int col = first; col <= last; ++col) {
        const bool shown = !marked || (variance_ok(V[r][r]) && variance_ok(V[col][col]) &&
                                       std::isfinite(V[col][r]));
        if (col <= r) {
          // The first cell follows the label; the others follow a blank.
          const int gap = col == first ? gap_after_label(labels[r]) : 0;
          line += shown ? fixed_cell(V[col][r], 12, 6, gap) + " " : strprintf("%12s ", "-");
        } else {
          line += shown ? " (" + fixed_cell(V[col][r] / std::sqrt(V[r][r] * V[col][col]), 10, 6) + ")"
                        : strprintf(" (%10s)", "-");
        }
      }
      line += "\n";
      both(s, "%s", line.c_str());
    }
    pauses.pause();
  }
  report(s, "\n");
}

}  // namespace varnalo
