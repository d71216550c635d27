// Relative potency of parallel lines with Fieller limits.
// Method: log relative potency M = (a_j - a_S) / b of two parallel
// dose-response lines; its delta-method variance and Fieller limits (general
// form with Var(a_j - a_S) and Cov(a_j - a_S, b), or the form about the
// weighted mean log doses with independent intercepts). Source: Finney,
// "Probit Analysis" (3rd ed., 1971), chapter 5.
// Accuracy: closed forms, exact up to rounding given the covariance matrix.
#include "potency/relative_potency.h"

#include <string>

#include "foundation/output.h"
#include "inference/asy_tables.h"
#include "inference/covariance.h"
#include "potency/effective_dose.h"
#include "potency/fieller.h"

namespace varnalo {

namespace {


// The notice that takes the place of the rows of a relative-potency table.
constexpr const char* kNoPotencies =
    "  Relative potencies are not available for this fit (%s).\n";

// Every table keeps its heading; when the potencies cannot be formed (zero
// slope, or estimates that are not finite) one notice stands in place of its
// rows, and the pauses between the levels stay as they are.
void show_potencies(AnalysisState& s, Pauses& pauses) {
  const char* reason = unavailable_reason(s, s.rp_log);
  print_asy_var_head(s, "Log(Rho)");
  if (reason) {
    both(s, kNoPotencies, reason);
    add_note(s, "no_relative_potencies", strprintf(kNoPotencies, reason));
  } else {
    print_asy_var_rows(s, s.rp_log, s.rp_var);
  }
  screen(s, "\n");
  report(s, "\n");
  both(s, "Relative Potency Estimates (Rho)\n");
  show_limit_levels(s, pauses, [&](int k) {
    print_limits_head(s, k, s.conf_alpha, "Rho ", "Log(Rho)", "Limits");
    if (reason)
      both(s, kNoPotencies, reason);
    else
      print_limits_rows(s, k, s.rp_log, s.rp_lower, s.rp_upper);
  });
}

}  // namespace

void compute_relative_potencies(AnalysisState& s, int reference) {
  const int P = s.nprep;
  const int S = reference;
  Matrix& V = selected_cov(s);
  const double b = s.params[P + 1];
  for (int k = 1; k <= kConfidenceLevels; ++k) {
    const double t = s.conf_deviates[k];
    for (int j = 1; j <= P; ++j) {
      const bool estimated =
          s.common_estimability.estimated(j) && s.common_estimability.estimated(S);
      const double M = estimated ? (s.params[j] - s.params[S]) / b : kNotEstimated;
      s.rp_log[j] = M;
      if (!estimated) {
        s.rp_var[j] = s.rp_upper[k][j] = s.rp_lower[k][j] = kNotEstimated;
        continue;
      }
      if (s.variance_method == 1) {
        fieller_general(M, b, V[S][S] + V[j][j] - 2.0 * V[j][S], V[P + 1][P + 1],
                        V[P + 1][j] - V[P + 1][S], t, &s.rp_var[j], &s.rp_upper[k][j],
                        &s.rp_lower[k][j]);
      } else {
        // The intercepts about their own mean log doses are independent.
        fieller_finney(M, b, s.het_factor * (1.0 / s.prep_sum_w[j] + 1.0 / s.prep_sum_w[S]),
                       V[P + 1][P + 1], (s.prep_mean_x[S] - s.prep_mean_x[j]) - M, t,
                       &s.rp_var[j], &s.rp_upper[k][j], &s.rp_lower[k][j]);
      }
    }
  }
}

void begin_relative_potencies(AnalysisState& s) {
  const int P = s.nprep;
  if (P == 1) {
    // A preparation against itself; nothing when it is not estimated.
    const double value = s.common_estimability.estimated(1) ? 0.0 : kNotEstimated;
    s.rp_log[1] = value;
    s.rp_var[1] = value;
    for (int k = 1; k <= kConfidenceLevels; ++k) s.rp_upper[k][1] = s.rp_lower[k][1] = value;
    return;
  }
  // Against preparation 1 from the start, so that the summary record has
  // real values also when the user leaves at once.
  compute_relative_potencies(s, 1);
  s.rp_reference = 1;
}

void show_relative_potencies(AnalysisState& s, Pauses& pauses) {
  compute_relative_potencies(s, s.rp_reference);
  show_potencies(s, pauses);
}

}  // namespace varnalo
