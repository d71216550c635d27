// The variance ratio test of two mean chi-squares (Snedecor's F test:
// F0 = (X1/f1) / (X2/f2) against the F distribution with f1, f2 DF), and
// Akaike's Information Criterion AIC = 2 m - 2 log L of a fit.
// Source: Snedecor & Cochran, "Statistical Methods" (variance ratio test);
// Akaike (1974), IEEE Trans. Automatic Control 19, 716-723.
// Accuracy: the F tail probability of inference/probability.cpp (finite
// series, exact up to rounding for integer DF); AIC exact up to rounding.
#include "inference/variance_ratio.h"

#include "foundation/output.h"
#include "inference/probability.h"

namespace varnalo {

namespace {

// Smallest ratio used, so that a zero first chi-square still gives a
// finite ratio (and a tail probability near 1).
constexpr double kSmallestRatio = 1e-50;

}  // namespace

double print_variance_ratio(AnalysisState& s, const char* name1, const char* name2, double f1,
                            double f2, double x1, double x2) {
  screen(s, "Variance Ratio Test\n");
  screen(s, "  H0: ML%s =  ML %s \n", name1, name2);
  report(s, "Variance Ratio Test\n");
  report(s, "  H0: ML %s =  ML %s variance\n", name1, name2);
  double f0 = (f2 / x2) * (x1 / f1);
  if (!(f0 > kSmallestRatio)) f0 = kSmallestRatio;
  double p = 0.0;
  f_prob(f0, static_cast<int>(f1), static_cast<int>(f2), &p);
  both(s, "  F0 = ML %s / ML %s = %-13.7f\n", name1, name2, f0);
  both(s, "  F(%2.0f,%2.0f; %8.7f) = %-13.7f\n", f1, f2, p, f0);
  return p;
}

int variance_ratio_verdict(AnalysisState& s, double p, double level) {
  if (p < level) {
    both(s, "  H0 is rejected at p=%5.3f : variances are not equal.\n", level);
    return 0;
  }
  both(s, "  H0 is not rejected at p=%5.3f : variances may be equal.\n", level);
  return 1;
}

void report_aic(AnalysisState& s) {
  s.aic = (s.npar + s.npar) - (s.max_loglik + s.max_loglik);
  both(s, "Akaike's Information Criterion\n  AIC=%13.7lf    m = %d\n\n", s.aic, s.npar);
}

}  // namespace varnalo
