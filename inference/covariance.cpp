// Variance-covariance matrices of the fitted parameters.
//
// Method: the expected (Fisher) information of the binomial likelihood,
// I(u, v) = sum over groups of n (dPm/du)(dPm/dv) / (Pm Qm), inverted by
// Gauss-Jordan elimination (Finney, "Probit Analysis", 3rd ed., ch. 4 and
// appendix; McCullagh & Nelder, "Generalized Linear Models", 2nd ed., 4.4).
// The location/scale form m = -a/b, s = 1/b gets its covariance by the
// first-order delta method. Accuracy: exact up to rounding for the given
// estimates; the delta method is a first-order approximation by design.
#include "inference/covariance.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "fit/gaussj.h"
#include "model/likelihood.h"
#include "model/model_family.h"

namespace varnalo {

namespace {

// The expected information at params into info_cov (leading npar x npar
// block), with prep_sum_w and prep_mean_x.
void fill_information(AnalysisState& s) {
  const int P = s.nprep;
  const int K = s.param_capacity();
  const RateIndices at = rate_indices(s);
  Matrix& I = s.info_cov;
  for (int i = 1; i <= K; ++i)
    for (int j = 1; j <= K; ++j) I[i][j] = 0.0;

  std::vector<InformationSums> sums;
  fit_kernel(s).information_sums(s.params, sums);
  for (int j = 1; j <= P; ++j) {
    const int slope = s.nslopes < 2 ? P + 1 : P + j;
    const auto& [Sw, Sx, Sxx, SC, SCx, SCC, SD, SDx, SDD, SCD] = sums[static_cast<std::size_t>(j)];
    I[j][j] = Sw;
    s.prep_sum_w[j] = Sw;
    s.prep_mean_x[j] = Sx / Sw;
    I[slope][j] = I[j][slope] = Sx;
    I[slope][slope] += Sxx;
    // Entries of an estimated C or D (index e) with the intercept, the slope
    // and itself.
    auto add_extra = [&](int e, double with_intercept, double with_slope, double with_itself) {
      I[e][j] = I[j][e] = with_intercept;
      I[e][e] += with_itself;
      I[e][slope] += with_slope;
      I[slope][e] = I[e][slope];
    };
    if (at.c != 0) add_extra(at.c, SC, SCx, SCC);
    if (at.d != 0) add_extra(at.d, SD, SDx, SDD);
    if (at.c != 0 && at.d != 0) {
      I[at.d][at.c] += SCD;
      I[at.c][at.d] = I[at.d][at.c];
    }
  }
}

}  // namespace

InversionSummary build_info_matrix(AnalysisState& s) {
  fill_information(s);
  return gaussj(s.info_cov, s.npar);
}

InversionSummary invert_without(Matrix& M, int n, const std::vector<bool>& lost) {
  std::vector<int> kept;
  for (int i = 1; i <= n; ++i)
    if (!lost[static_cast<std::size_t>(i)]) kept.push_back(i);
  const int m = static_cast<int>(kept.size());
  auto at = [&](int u) { return kept[static_cast<std::size_t>(u - 1)]; };
  InversionSummary inversion;
  Matrix sub = matrix(1, std::max(m, 1), 1, std::max(m, 1));
  for (int u = 1; u <= m; ++u)
    for (int v = 1; v <= m; ++v) sub[u][v] = M[at(u)][at(v)];
  if (m > 0) inversion = gaussj(sub, m);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) M[i][j] = nan;
  for (int u = 1; u <= m; ++u)
    for (int v = 1; v <= m; ++v) M[at(u)][at(v)] = sub[u][v];
  matrix_free(sub, 1, std::max(m, 1), 1, std::max(m, 1));
  return inversion;
}

InversionSummary invert_information_without(AnalysisState& s, const std::vector<bool>& lost) {
  fill_information(s);
  return invert_without(s.info_cov, s.npar, lost);
}

Matrix& selected_cov(AnalysisState& s) { return s.variance_method == 1 ? s.fit_cov : s.info_cov; }

void scale_by_het_factor(AnalysisState& s) {
  const int K = s.param_capacity();
  for (int i = 1; i <= K; ++i)
    for (int j = 1; j <= K; ++j) {
      s.info_cov[i][j] *= s.het_factor;
      s.fit_cov[i][j] *= s.het_factor;
    }
}

bool covariance_usable(const AnalysisState& s, const Matrix& V) {
  for (int i = 1; i <= s.npar; ++i) {
    if (!(V[i][i] > 0.0) || !std::isfinite(V[i][i])) return false;
    for (int j = 1; j <= s.npar; ++j)
      if (!std::isfinite(V[i][j])) return false;
  }
  return true;
}

bool location_scale_defined(const AnalysisState& s, DRef p) {
  const int last = s.nslopes < 2 ? s.nprep + 1 : s.nprep + s.nslopes;
  for (int i = s.nprep + 1; i <= last; ++i)
    if (p[i] == 0.0 || !std::isfinite(p[i])) return false;
  return true;
}

void derive_location_scale(const AnalysisState& s, DRef in, DRef out, const Matrix& V, Matrix& U) {
  const int P = s.nprep;
  const int K = s.param_capacity();
  const int c = P + s.nslopes + 1;
  const int d = c + 1;
  for (int i = 1; i <= K; ++i)
    for (int j = 1; j <= K; ++j) U[i][j] = 0.0;

  if (s.nslopes < 2) {
    const int sl = P + 1;
    const double b = in[sl];
    out[sl] = 1.0 / b;
    for (int i = 1; i <= P; ++i) out[i] = -in[i] / b;
    for (int i = 1; i <= P; ++i) {
      const double mi = out[i];
      for (int j = i; j <= P; ++j) {
        const double mj = out[j];
        U[j][i] = U[i][j] = (mj * (V[sl][sl] * mi + V[i][sl]) + mi * V[j][sl] + V[i][j]) / b / b;
      }
    }
    for (int i = 1; i <= P; ++i) {
      const double mi = out[i];
      U[sl][i] = U[i][sl] = (V[sl][sl] * mi + V[i][sl]) / b / b / b;
      U[c][i] = U[i][c] = -(V[sl][c] * mi + V[i][c]) / b;
      U[d][i] = U[i][d] = -(V[sl][d] * mi + V[i][d]) / b;
    }
    U[sl][sl] = V[sl][sl] / b / b / b / b;
    U[c][sl] = U[sl][c] = -V[sl][c] / b / b;
    U[d][sl] = U[sl][d] = -V[sl][d] / b / b;
  } else {
    for (int i = 1; i <= P; ++i) {
      const double bi = in[P + i];
      out[P + i] = 1.0 / bi;
      out[i] = -in[i] / bi;
    }
    for (int i = 1; i <= P; ++i) {
      const double bi = in[P + i];
      const double mi = out[i];
      for (int j = 1; j <= P; ++j) {
        const double bj = in[P + j];
        const double mj = out[j];
        U[j][i] = U[i][j] =
            (mj * (V[P + i][P + j] * mi + V[i][P + j]) + mi * V[j][P + i] + V[i][j]) / bi / bj;
        U[P + j][P + i] = U[P + i][P + j] = V[P + i][P + j] / bi / bi / bj / bj;
        U[P + j][i] = U[i][P + j] = (V[P + i][P + j] * mi + V[i][P + j]) / bi / bj / bj;
      }
    }
    for (int i = 1; i <= P; ++i) {
      const double bi = in[P + i];
      const double mi = out[i];
      U[c][i] = U[i][c] = -(mi * V[P + i][c] + V[i][c]) / bi;
      U[d][i] = U[i][d] = -(V[P + i][d] * mi + V[i][d]) / bi;
      U[c][P + i] = U[P + i][c] = -V[P + i][c] / bi / bi;
      U[d][P + i] = U[P + i][d] = -V[P + i][d] / bi / bi;
    }
  }
  out[c] = in[c];
  out[d] = in[d];
  U[c][c] = V[c][c];
  U[d][d] = V[d][d];
  U[d][c] = U[c][d] = V[c][d];
}

}  // namespace varnalo
