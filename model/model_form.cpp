// The table of model forms and the response probability of each family.
//
// Method: Abbott's formula for a natural response C, P = C + (1 - C) P0,
// and its extensions to a natural immunity D: an immune share that never
// responds beside the natural responders (All or Nothing), or an immune
// share of the subjects without a natural preference (Preference) (Finney,
// "Probit Analysis", 3rd ed., 1971, ch. 7). The derivatives are those of
// these polynomials in P0, C and D.
// Accuracy: exact arithmetic apart from the floors of P and Q; the
// accurate-tail form keeps the relative accuracy of S0 in Q.
#include "model/model_form.h"

#include <cmath>

#include "foundation/arrays.h"

namespace varnalo {

const ModelForm kModelForms[kModelFormCount] = {
    {1, Family::kAllOrNothing, RateUse::kAbsent, false,
     "All or Nothing (a: Intercept, b: Regression Coefficient), C=D=0", "All / Nothing (a, b)",
     "All or Nothing (a, b)", 12},
    {2, Family::kAllOrNothing, RateUse::kEstimated, false,
     "All or Nothing (a, b, C: Natural Response Rate), D=0",
     "All / Nothing (a, b, C:Natural Response Rate)", "All or Nothing (a, b, C)", 12},
    {3, Family::kAllOrNothing, RateUse::kAbsent, true,
     "All or Nothing (a, b, D: Natural Immunity Rate), C=0",
     "All / Nothing (a, b, D:Natural Immunity Rate)", "All or Nothing (a, b, D)", 12},
    {4, Family::kAllOrNothing, RateUse::kEstimated, true, "All or Nothing (a, b, C, D)",
     "All / Nothing (a, b, C:Natural Response Rate, D:Natural Immunity Rate)",
     "All or Nothing (a, b, C, D)", 12},
    {5, Family::kPreference, RateUse::kKnown, false, "Preference     (a, b), C=%lf, D=0",
     "Preference (a, b), C = %lf (Natural Preference is Fixed)", "Preference (a, b), C fixed", 12},
    {6, Family::kPreference, RateUse::kEstimated, false,
     "Preference     (a, b, C: Natural Preference to Treatment Side),D=0",
     "Preference (a, b, C:Natural Preference)", "Preference (a, b, C)", 13},
    {7, Family::kPreference, RateUse::kKnown, true,
     "Preference     (a, b, D: Natural Immunity Rate), C=%lf",
     "Preference (a, b, D:Natural Immunity Rate), C = %lf (Preference is Fixed)",
     "Preference (a, b, D), C fixed", 12},
    {8, Family::kPreference, RateUse::kEstimated, true, "Preference     (a, b, C, D)",
     "Preference (a, b, C:Natural Preference, D:Natural Immunity Rate)", "Preference (a, b, C, D)",
     12},
};

const ModelForm& model_form(int number) {
  check_index(number, 1, kModelFormCount);
  return kModelForms[number - 1];
}

const ModelForm& model_form(const AnalysisState& s) { return model_form(s.model); }

const char* ModelForm::c_description() const {
  if (family == Family::kAllOrNothing) return "Natural Response Rate";
  return known_c() ? "Fixed Preference" : "Natural Preference";
}

double ModelForm::share(double C, double D) const {
  const double c_rate = c_used(C);
  const double d_rate = d_used(D);
  if (family == Family::kAllOrNothing) return 1.0 - c_rate - d_rate;
  return (1.0 - c_rate) * (1.0 - d_rate);
}

double ModelForm::d_scale(double C) const {
  return family == Family::kAllOrNothing ? 1.0 : 1.0 - c_used(C);
}

void ModelForm::probability(double P0, double C, double D, double* P, double* Q) const {
  const double c_rate = c_used(C);
  const double d_rate = d_used(D);
  double p = family == Family::kAllOrNothing ? c_rate + (1.0 - c_rate - d_rate) * P0
                                             : c_rate + (1.0 - c_rate) * (1.0 - d_rate) * P0;
  double q = 1.0 - p;
  if (p <= kProbabilityFloor) p = kProbabilityFloor;
  if (q <= kProbabilityFloor) q = kProbabilityFloor;
  *P = p;
  *Q = q;
}

void ModelForm::probability(double P0, double S0, double C, double D, double* P,
                            double* Q) const {
  probability(P0, C, D, P, Q);
  if (!(*Q < kSubtractionDigitsLost)) return;
  const double c_rate = c_used(C);
  const double d_rate = d_used(D);
  const double q = family == Family::kAllOrNothing ? d_rate + (1.0 - c_rate - d_rate) * S0
                                                   : (1.0 - c_rate) * (d_rate + (1.0 - d_rate) * S0);
  *Q = q <= kProbabilityFloor ? kProbabilityFloor : q;
}

double ModelForm::background_free(double P, double C, double D) const {
  const double c_rate = c_used(C);
  const double d_rate = d_used(D);
  if (family == Family::kAllOrNothing) return (P - c_rate) / (1.0 - c_rate - d_rate);
  return (P - c_rate) / (1.0 - c_rate) / (1.0 - d_rate);
}

double ModelForm::immunity_for_ceiling(double highest, double C) const {
  if (family == Family::kAllOrNothing) return 1.0 - highest;
  // Every proportion 1 with C 1 leaves 0/0: no immunity then.
  const double d = (1.0 - highest) / (1.0 - c_used(C));
  return std::isfinite(d) ? d : 0.0;
}

ResponseDerivatives ModelForm::derivatives(double P0, double C, double D) const {
  ResponseDerivatives r;
  r.dP0 = share(C, D);
  const bool all_or_nothing = family == Family::kAllOrNothing;
  if (estimates_c()) {
    r.dC = all_or_nothing ? 1.0 - P0 : 1.0 - (1.0 - d_used(D)) * P0;
    r.dP0C = all_or_nothing ? -1.0 : -(1.0 - d_used(D));
  }
  if (estimates_d()) {
    r.dD = -d_scale(C) * P0;
    r.dP0D = -d_scale(C);
  }
  if (estimates_c() && estimates_d() && !all_or_nothing) r.dCD = P0;
  return r;
}

}  // namespace varnalo
