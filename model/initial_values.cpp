// Starting values for the maximisers.
//
// Method: unweighted least-squares regression of the linearised observed
// proportions Y = F^-1(P0) on the log dose (the graphical / "empirical
// probit" start of Finney, "Probit Analysis", ch. 3), with P0 the observed
// proportion freed of the starting natural response C0 and immunity D0 and
// clamped to [0.001, 0.999]. Slopes are inflated by 1.2 because the
// unweighted line through clamped extreme proportions is usually too flat.
// C0 and D0 come from the lowest and highest observed proportions.
// Accuracy: a rough start only; the maximiser refines it.
//
// Degenerate data (one dose per preparation, all responses equal, no
// non-zero dose) would divide by zero; finite substitutes are used instead
// so that the maximiser always starts from finite numbers.
#include "model/initial_values.h"

#include <cmath>

#include "model/distributions.h"
#include "model/model_family.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

constexpr double kProportionLow = 0.001;
constexpr double kProportionHigh = 0.999;
// Relative log doses are not taken below this: a zero dose enters the
// regression 3 log10 units below the lowest non-zero dose.
constexpr double kRelativeDoseFloor = -3.0;
constexpr double kSlopeInflation = 1.2;
constexpr double kLowestDoseStart = 1e50;
// Slope used when the doses of the regression do not vary.
constexpr double kFallbackSlope = 1.0;
// A sum of squares below this fraction of the raw sum of squares is
// rounding noise of equal doses, not spread.
constexpr double kSpreadTolerance = 1e-12;

// q / d, or `fallback` when the quotient is not a finite number.
double safe_ratio(double q, double d, double fallback) {
  const double v = q / d;
  return std::isfinite(v) ? v : fallback;
}

// True when Sxx measures real spread of the doses.
bool has_spread(double sxx, double sum_x2) {
  return sxx > kSpreadTolerance * sum_x2 && std::isfinite(sxx);
}

}  // namespace

void initial_values(AnalysisState& s, DRef p) {
  const int P = s.nprep;
  const int k = P + s.nslopes;

  double pmax = 0.0;
  double pmin = 1.0;
  for (int i = 1; i <= P; ++i) {
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      DRef g = s.groups[i][j];
      const double prop = g[3] / g[2];
      if (prop > pmax) pmax = prop;
      if (prop < pmin) pmin = prop;
    }
  }

  // C from the lowest proportion (or the known C); D from the highest, as
  // the immunity that makes it the ceiling of the curve.
  const ModelForm& form = model_form(s);
  const double C0 = form.estimates_c() ? pmin : form.known_c() ? s.fixed_c : 0.0;
  const double D0 = form.estimates_d() ? form.immunity_for_ceiling(pmax, C0) : 0.0;
  p[k + 1] = 0.0;
  p[k + 2] = 0.0;
  if (form.estimates_c()) p[k + form.c_slot()] = C0;
  if (form.estimates_d()) p[k + form.d_slot()] = D0;
  regression_lines(s, p, C0, D0);
}

void regression_lines(AnalysisState& s, DRef p, double C0, double D0) {
  const int P = s.nprep;
  const ModelForm& form = model_form(s);
  double xmin = kLowestDoseStart;
  for (int i = 1; i <= P; ++i)
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      const double x = s.groups[i][j][1];
      if (x > kZeroDoseLog && x < xmin) xmin = x;
    }

  // With no non-zero dose the regression is centred so that the zero dose
  // still sits 3 units below the reference, and intercepts stay finite.
  const double xref = xmin < kLowestDoseStart ? xmin : kZeroDoseLog - kRelativeDoseFloor;

  double pooled_sxy = 0.0;
  double pooled_sxx = 0.0;
  double pooled_sx2 = 0.0;
  // Per-preparation sums: x, y, x^2, xy.
  DVector sum_x = dvector(1, P);
  DVector sum_y = dvector(1, P);
  DVector sum_x2 = dvector(1, P);
  DVector sum_xy = dvector(1, P);
  for (int i = 1; i <= P; ++i) {
    sum_x[i] = sum_y[i] = sum_x2[i] = sum_xy[i] = 0.0;
    for (int j = 1; j <= s.ngroups[i]; ++j) {
      DRef g = s.groups[i][j];
      double X = g[1] - xmin;
      if (X <= kRelativeDoseFloor) X = kRelativeDoseFloor;
      double P0 = form.background_free(g[3] / g[2], C0, D0);
      // 1 - C0 - D0 = 0 (all proportions equal) leaves no treatment share.
      if (!std::isfinite(P0)) P0 = 0.0;
      if (P0 <= kProportionLow) {
        P0 = kProportionLow;
      } else if (P0 > kProportionHigh) {
        P0 = kProportionHigh;
      }
      double Y = 0.0;
      tolerance_inverse(s.distribution, P0, &Y);
      sum_x[i] += X;
      sum_y[i] += Y;
      sum_x2[i] += X * X;
      sum_xy[i] += X * Y;
    }
  }

  auto intercept = [&](int i, double b) {
    const double ni = s.ngroups[i];
    if (ni <= 0) return 0.0;
    return (sum_y[i] - b * sum_x[i]) / ni - b * xref;
  };

  if (s.nslopes > 1) {
    for (int i = 1; i <= P; ++i) {
      const double ni = s.ngroups[i];
      double b = kFallbackSlope;
      if (ni > 0) {
        const double sxx = sum_x2[i] - sum_x[i] * sum_x[i] / ni;
        const double sxy = sum_xy[i] - sum_x[i] * sum_y[i] / ni;
        if (has_spread(sxx, sum_x2[i])) b = safe_ratio(kSlopeInflation * sxy, sxx, kFallbackSlope);
      }
      p[P + i] = b;
      p[i] = intercept(i, b);
    }
  } else {
    for (int i = 1; i <= P; ++i) {
      const double ni = s.ngroups[i];
      if (ni <= 0) continue;
      pooled_sxx += sum_x2[i] - sum_x[i] * sum_x[i] / ni;
      pooled_sxy += sum_xy[i] - sum_x[i] * sum_y[i] / ni;
      pooled_sx2 += sum_x2[i];
    }
    double b = kFallbackSlope;
    if (has_spread(pooled_sxx, pooled_sx2))
      b = safe_ratio(kSlopeInflation * pooled_sxy, pooled_sxx, kFallbackSlope);
    p[P + 1] = b;
    for (int i = 1; i <= P; ++i) p[i] = intercept(i, b);
  }

  dvector_free(sum_x, 1, P);
  dvector_free(sum_y, 1, P);
  dvector_free(sum_x2, 1, P);
  dvector_free(sum_xy, 1, P);
}

}  // namespace varnalo
