// The parameter vector: C and D of the model form in hand at their places
// after the intercepts and slopes, the parameter space of the rates, the
// variances of C and D and the parameter labels.
#include "model/model_family.h"

#include "foundation/output.h"

namespace varnalo {

namespace {

// Where a model keeps C and D: the vector index of each one it estimates (0
// for one it does not) and the value C takes when it is not estimated.
struct CdLayout {
  int c_index = 0;
  int d_index = 0;
  double fixed_c = 0.0;
};

CdLayout c_d_layout(const AnalysisState& s) {
  const ModelForm& form = model_form(s);
  const int k = s.nprep + s.nslopes;
  CdLayout at;
  if (form.estimates_c()) at.c_index = k + form.c_slot();
  if (form.estimates_d()) at.d_index = k + form.d_slot();
  if (form.known_c()) at.fixed_c = s.fixed_c;
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

RateIndices rate_indices(const AnalysisState& s) {
  const CdLayout at = c_d_layout(s);
  return {at.c_index, at.d_index};
}

bool rates_in_space(const AnalysisState& s, DRef p) {
  const RateIndices at = rate_indices(s);
  const double C = at.c != 0 ? p[at.c] : 0.0;
  const double D = at.d != 0 ? p[at.d] : 0.0;
  if (!(C >= 0.0 && C < 1.0 && D >= 0.0 && D < 1.0)) return false;
  return !model_form(s).rates_share_population() || C + D < 1.0;
}

bool move_rates_into_space(const AnalysisState& s, DRef p) {
  if (rates_in_space(s, p)) return false;
  const RateIndices at = rate_indices(s);
  auto clamp = [&](int index) {
    if (index == 0) return;
    if (!(p[index] >= 0.0)) p[index] = 0.0;  // also a not-a-number entry
    if (p[index] > kHighestRate) p[index] = kHighestRate;
  };
  clamp(at.c);
  clamp(at.d);
  if (model_form(s).rates_share_population() && at.c != 0 && at.d != 0 &&
      p[at.c] + p[at.d] > kHighestRate) {
    // Both shrunk in proportion, so their ratio is kept.
    const double scale = kHighestRate / (p[at.c] + p[at.d]);
    p[at.c] *= scale;
    p[at.d] *= scale;
  }
  return true;
}

void c_d_variances(const AnalysisState& s, const Matrix& M, double* varC, double* varD) {
  // Entries k+1 and k+2 of the common-slope layout (k = nprep + 1).
  const int c = s.nprep + 2;
  if (model_form(s).d_first()) {
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
  const bool d_first = model_form(s).d_first();
  labels[k + 1].assign(1, d_first ? 'D' : 'C');
  labels[k + 2].assign(1, d_first ? 'C' : 'D');
}

}  // namespace varnalo
