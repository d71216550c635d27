// Model forms: the eight ways in which a natural response (or preference) C
// and a natural immunity D enter the probability of a response, as one table
// and the questions every stage asks of it.
//
// Each form is one row of the table: its number (the menu's answer and the
// column of the output files), its family (how C and D combine with the
// tolerance probability P0), how C enters (absent, the known proportion
// fixed_c, or estimated), whether D is estimated, and its words (menu line,
// report settings item, reader's name). Everything else follows from the
// row: the estimated rates follow the intercepts and slopes in the
// parameter vector, C before D (so D comes first where it is the only one),
// the number of extra parameters, the response probability and its
// derivatives.
//
// Response probability, by family:
//   All or Nothing:  P = C + (1 - C - D) P0
//   Preference:      P = C + (1 - C)(1 - D) P0
// A rate the form does not use counts as 0 whatever the caller passes; the
// known C of a form that has one is passed by the caller (fixed_c).
// Inputs: a form number 1..kModelFormCount; P0 (and S0 = 1 - P0), C, D.
// Outputs: values; no state, no allocation.
#pragma once

#include "foundation/state.h"

namespace varnalo {

enum class Family { kAllOrNothing, kPreference };

// How C enters a form.
enum class RateUse { kAbsent, kKnown, kEstimated };

// Floor of P and Q = 1 - P, so that callers may take logarithms and divide.
inline constexpr double kProbabilityFloor = 1e-99;

// Where 1 - P has lost its digits by subtraction (Q below this), the
// accurate-tail form of the response probability forms Q from S0 instead.
inline constexpr double kSubtractionDigitsLost = 1e-8;

// Derivatives of the response probability P(P0, C, D). A rate the form does
// not estimate is no parameter: its derivatives are 0.
struct ResponseDerivatives {
  double dP0 = 0.0, dC = 0.0, dD = 0.0;
  double dP0P0 = 0.0, dP0C = 0.0, dP0D = 0.0, dCC = 0.0, dCD = 0.0, dDD = 0.0;
};

struct ModelForm {
  int number;
  Family family;
  RateUse c;
  bool d_estimated;
  // Menu line after "   %d : " (a printf format: "%lf" takes the known C).
  const char* menu_text;
  // Item of the settings line of the report after "%d: " (likewise).
  const char* settings_text;
  // The form in a reader's words, for titles.
  const char* reader_name;
  // Width of the standard-error cell of C's row in the estimates table.
  int c_error_width;

  bool estimates_c() const { return c == RateUse::kEstimated; }
  bool estimates_d() const { return d_estimated; }
  bool known_c() const { return c == RateUse::kKnown; }
  // C enters P (known or estimated).
  bool uses_c() const { return c != RateUse::kAbsent; }
  // Number of estimated rates: the extra parameters after the slopes.
  int extra_count() const { return (estimates_c() ? 1 : 0) + (estimates_d() ? 1 : 0); }
  // Whether C or D enters P at all (the natural-rates report has a row).
  bool has_rates() const { return uses_c() || d_estimated; }
  // Position of C and of D among the extra parameters (1: the first after
  // the slopes, 2: the second); 0 for a rate the form does not estimate.
  int c_slot() const { return estimates_c() ? 1 : 0; }
  int d_slot() const { return estimates_d() ? extra_count() : 0; }
  // The first extra entry holds D: its labels read D, C instead of C, D.
  bool d_first() const { return estimates_d() && !estimates_c(); }
  // C and D are shares of one population, so C + D stays below 1.
  bool rates_share_population() const { return family == Family::kAllOrNothing; }

  // Words of the reports: what C is (by family, and whether it is known)
  // and what D is.
  const char* c_description() const;
  const char* d_description() const { return "Natural Immunity Rate"; }

  // dP/dP0: the share of the population that the tolerance decides.
  double share(double C, double D) const;
  // dP/dD = -d_scale(C) P0.
  double d_scale(double C) const;

  // P and Q = 1 - P from P0, both floored at kProbabilityFloor (Q is formed
  // from P before P is floored).
  void probability(double P0, double C, double D, double* P, double* Q) const;
  // The same, given also S0 = 1 - P0 with full relative accuracy: where Q
  // would lie below kSubtractionDigitsLost it is formed from S0 instead.
  void probability(double P0, double S0, double C, double D, double* P, double* Q) const;
  // The proportion due to the treatment alone of a response proportion P
  // (the reverse of probability; no floors).
  double background_free(double P, double C, double D) const;
  // The D that makes the largest response of the form (at P0 = 1) equal to
  // `highest`, given C: 1 - highest, or (1 - highest) / (1 - C) (0 where
  // that is not a number).
  double immunity_for_ceiling(double highest, double C) const;
  ResponseDerivatives derivatives(double P0, double C, double D) const;

 private:
  double c_used(double C) const { return c == RateUse::kAbsent ? 0.0 : C; }
  double d_used(double D) const { return d_estimated ? D : 0.0; }
};

inline constexpr int kModelFormCount = 8;

// The table, form n at index n - 1.
extern const ModelForm kModelForms[kModelFormCount];

// The form numbered n (1..kModelFormCount).
const ModelForm& model_form(int number);
// The form of the analysis in hand (s.model).
const ModelForm& model_form(const AnalysisState& s);

}  // namespace varnalo
