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
