// Model family and parameter vector: the eight model forms (natural response
// C, natural immunity D, preference), the layout of the parameter vector,
// response probabilities and their reverse mapping, the variances of C and D
// and the parameter labels.
// Inputs: model, fixed_c, nprep, nslopes from the state; trial vectors.
// Outputs through pointers or the label table.
#pragma once

#include <string>
#include <vector>

#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

// Labels of the parameter vector, entry i naming index i (entry 0 unused).
using LabelTable = std::vector<std::string>;

// C and D of a trial vector; moves a negative active C or D entry to 0.
void current_c_d(const AnalysisState& s, DRef p, double* C, double* D);

// C and D of the fitted vector s.params (unchanged).
void fitted_c_d(const AnalysisState& s, double* C, double* D);

// Response probability P (and Q = 1 - P) of a group whose tolerance
// probability is P0; both floored at 1e-99.
void response_probability(int model, double P0, double* P, double* Q, double C, double D);

// The same, given also S0 = 1 - P0 computed with full relative accuracy
// (tolerance_upper_tail): where 1 - P has lost its digits by subtraction
// (Q below kSubtractionDigitsLost) it is formed from S0 instead; elsewhere
// the results are those above. Callers may compute S0 only when the first
// form gives a Q below that.
inline constexpr double kSubtractionDigitsLost = 1e-8;
void response_probability(int model, double P0, double S0, double* P, double* Q, double C,
                          double D);

// Whether the rates of a trial vector lie in the parameter space of the
// model: every estimated C and D in [0, 1), and C + D < 1 where both enter
// P = C + (1 - C - D) P0 (models 2 to 4).
bool rates_in_space(const AnalysisState& s, DRef p);

// Moves the rates of p into the space, at least kRateMargin inside the
// upper limits (a start typed in by the user, say); a vector inside is left
// as it is. Returns whether anything moved.
bool move_rates_into_space(const AnalysisState& s, DRef p);
inline constexpr double kRateMargin = 1e-9;

// Vector indices of the estimated C and D (0 for one the model does not
// estimate).
struct RateIndices {
  int c = 0;
  int d = 0;
};
RateIndices rate_indices(const AnalysisState& s);

// Reverse mapping: proportion due to the treatment alone (no floors).
void background_free_proportion(int model, double P, double* P0, double C, double D);

// Variances of C and D from the diagonal of M (common-slope layout).
void c_d_variances(const AnalysisState& s, const Matrix& M, double* varC, double* varD);

// Visits the intercept and slope entries in the order the tables list them:
// each intercept followed by its own slope (separate slopes), or every
// intercept and then the common slope.
template <class Intercept, class Slope>
void visit_intercepts_and_slopes(const AnalysisState& s, Intercept intercept, Slope slope) {
  const int P = s.nprep;
  if (s.nslopes > 1) {
    for (int i = 1; i <= P; ++i) {
      intercept(i);
      slope(P + i);
    }
  } else {
    for (int i = 1; i <= P; ++i) intercept(i);
    slope(P + 1);
  }
}

// Fills labels[0..nprep+nslopes+2] for form 1 (a, b, C, D) or form 2
// (m, s, C, D).
void make_param_labels(const AnalysisState& s, int form, LabelTable& labels);

}  // namespace varnalo
