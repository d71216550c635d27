// Model family: the eight model forms, the parameter-vector layout, the
// response probability with natural response C and immunity D, its reverse
// mapping, the variances of C and D, and the parameter labels.
//
// Response probability (Abbott's formula and its extension to immunity):
//   All or Nothing (models 1-4):  P = C + (1 - C - D) P0
//   Preference     (models 5-8):  P = C + (1 - C)(1 - D) P0
// with P0 the tolerance-distribution value. Exact arithmetic apart from the
// 1e-99 floors of P and Q = 1 - P.
#include "model/model_family.h"

#include "foundation/output.h"

namespace varnalo {

namespace {

// Floor of P and Q, so that callers may take logarithms and divide.
constexpr double kProbabilityFloor = 1e-99;


bool is_all_or_nothing(int model) { return model >= 2 && model <= 4; }
bool is_preference(int model) { return model >= 5 && model <= 8; }

// Where a model keeps C and D: the vector index of each one it estimates (0
// for one it does not) and the value C takes when it is not estimated.
struct CdLayout {
  int c_index = 0;
  int d_index = 0;
  double fixed_c = 0.0;
};

CdLayout c_d_layout(const AnalysisState& s) {
  const int k = s.nprep + s.nslopes;
  CdLayout at;
  switch (s.model) {
    case 2:
    case 6:
      at.c_index = k + 1;
      break;
    case 3:
      at.d_index = k + 1;
      break;
    case 4:
    case 8:
      at.c_index = k + 1;
      at.d_index = k + 2;
      break;
    case 5:
      at.fixed_c = s.fixed_c;
      break;
    case 7:
      at.fixed_c = s.fixed_c;
      at.d_index = k + 1;
      break;
    default:
      break;
  }
  return at;
}

// C and D of a model, each estimated one read through entry(index).
template <typename Entry>
void read_c_d(const AnalysisState& s, Entry entry, double* C, double* D) {
  const CdLayout at = c_d_layout(s);
  *C = at.c_index != 0 ? entry(at.c_index) : at.fixed_c;
  *D = at.d_index != 0 ? entry(at.d_index) : 0.0;
}

}  // namespace

void current_c_d(const AnalysisState& s, DRef p, double* C, double* D) {
  // The trial point itself is moved onto the boundary C >= 0, D >= 0.
  read_c_d(s, [&](int index) {
    if (p[index] < 0.0) p[index] = 0.0;
    return p[index];
  }, C, D);
}

void fitted_c_d(const AnalysisState& s, double* C, double* D) {
  read_c_d(s, [&](int index) { return s.params[index]; }, C, D);
}

void response_probability(int model, double P0, double* P, double* Q, double C, double D) {
  double p = P0;
  if (is_all_or_nothing(model)) {
    p = C + (1.0 - C - D) * P0;
  } else if (is_preference(model)) {
    p = C + (1.0 - C) * (1.0 - D) * P0;
  }
  double q = 1.0 - p;
  if (p <= kProbabilityFloor) p = kProbabilityFloor;
  if (q <= kProbabilityFloor) q = kProbabilityFloor;
  *P = p;
  *Q = q;
}

void response_probability(int model, double P0, double S0, double* P, double* Q, double C,
                          double D) {
  response_probability(model, P0, P, Q, C, D);
  if (!(*Q < kSubtractionDigitsLost)) return;
  double q = S0;
  if (is_all_or_nothing(model)) {
    q = D + (1.0 - C - D) * S0;
  } else if (is_preference(model)) {
    q = (1.0 - C) * (D + (1.0 - D) * S0);
  }
  *Q = q <= kProbabilityFloor ? kProbabilityFloor : q;
}

RateIndices rate_indices(const AnalysisState& s) {
  const CdLayout at = c_d_layout(s);
  return {at.c_index, at.d_index};
}

bool rates_in_space(const AnalysisState& s, DRef p) {
  const RateIndices at = rate_indices(s);
  const double C = at.c != 0 ? p[at.c] : 0.0;
  const double D = at.d != 0 ? p[at.d] : 0.0;
  if (!(C >= 0.0 && C < 1.0 && D >= 0.0 && D < 1.0)) return false;
  return !is_all_or_nothing(s.model) || C + D < 1.0;
}

bool move_rates_into_space(const AnalysisState& s, DRef p) {
  if (rates_in_space(s, p)) return false;
  const RateIndices at = rate_indices(s);
  constexpr double kTop = 1.0 - kRateMargin;
  auto clamp = [&](int index) {
    if (index == 0) return;
    if (!(p[index] >= 0.0)) p[index] = 0.0;  // also a not-a-number entry
    if (p[index] > kTop) p[index] = kTop;
  };
  clamp(at.c);
  clamp(at.d);
  if (is_all_or_nothing(s.model) && at.c != 0 && at.d != 0 && p[at.c] + p[at.d] > kTop) {
    // Both shrunk in proportion, so their ratio is kept.
    const double scale = kTop / (p[at.c] + p[at.d]);
    p[at.c] *= scale;
    p[at.d] *= scale;
  }
  return true;
}

void background_free_proportion(int model, double P, double* P0, double C, double D) {
  if (model <= 4) {
    *P0 = (P - C) / (1.0 - C - D);
  } else {
    *P0 = (P - C) / (1.0 - C) / (1.0 - D);
  }
}

void c_d_variances(const AnalysisState& s, const Matrix& M, double* varC, double* varD) {
  // Entries k+1 and k+2 of the common-slope layout (k = nprep + 1).
  const int c = s.nprep + 2;
  if (s.model == 3 || s.model == 7) {
    *varC = 0.0;
    *varD = M[c][c];
  } else {
    *varC = M[c][c];
    *varD = M[c + 1][c + 1];
  }
}

void make_param_labels(const AnalysisState& s, int form, LabelTable& labels) {
  const int P = s.nprep;
  const int k = P + s.nslopes;
  labels.assign(static_cast<std::size_t>(k + 3), std::string());
  const char intercept = form == 2 ? 'm' : 'a';
  const char slope = form == 2 ? 's' : 'b';
  for (int i = 1; i <= P; ++i) labels[i] = strprintf("%c%d", intercept, i);
  if (s.nslopes > 1) {
    for (int i = 1; i <= s.nslopes; ++i) labels[P + i] = strprintf("%c%d", slope, i);
  } else if (s.nslopes == 1) {
    labels[P + 1].assign(1, slope);
  }
  // Entry k+1 holds D (not C) in the models that estimate D alone.
  const bool d_first = s.model == 3 || s.model == 7;
  labels[k + 1].assign(1, d_first ? 'D' : 'C');
  labels[k + 2].assign(1, d_first ? 'C' : 'D');
}

}  // namespace varnalo
