// The parameter vector of a fit: where the intercepts, slopes, C and D of
// the model form in hand (model/model_form.h) sit, C and D of a trial or
// fitted vector, the parameter space of the rates, the variances of C and D
// and the parameter labels.
// Inputs: model, fixed_c, nprep, nslopes from the state; trial vectors.
// Outputs through pointers or the label table.
#pragma once

#include <string>
#include <vector>

#include "foundation/arrays.h"
#include "foundation/state.h"
#include "model/model_form.h"

namespace varnalo {

// Labels of the parameter vector, entry i naming index i (entry 0 unused).
using LabelTable = std::vector<std::string>;

// C and D of a trial vector; moves a negative active C or D entry to 0.
void current_c_d(const AnalysisState& s, DRef p, double* C, double* D);

// C and D of the fitted vector s.params (unchanged).
void fitted_c_d(const AnalysisState& s, double* C, double* D);

// Whether the rates of a trial vector lie in the parameter space of the
// model: every estimated C and D in [0, 1), and C + D < 1 where both are
// shares of one population (the All or Nothing family).
bool rates_in_space(const AnalysisState& s, DRef p);

// Moves the rates of p into the space, at least kRateMargin inside the
// upper limits (a start typed in by the user, say); a vector inside is left
// as it is. Returns whether anything moved.
bool move_rates_into_space(const AnalysisState& s, DRef p);
inline constexpr double kRateMargin = 1e-9;
// The largest C, D or C + D a point moved into the space takes.
inline constexpr double kHighestRate = 1.0 - kRateMargin;

// Vector indices of the estimated C and D (0 for one the model does not
// estimate).
struct RateIndices {
  int c = 0;
  int d = 0;
};
RateIndices rate_indices(const AnalysisState& s);

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
