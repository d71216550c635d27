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

#include <cmath>

#include "fit/gaussj.h"
#include "model/likelihood.h"
#include "model/model_family.h"
#include "model/model_form.h"

namespace varnalo {

namespace {


}  // namespace

InversionSummary build_info_matrix(AnalysisState& s) {
  const int P = s.nprep;
  const int K = s.param_capacity();
  const RateIndices at = rate_indices(s);
  Matrix& I = s.info_cov;
  for (int i = 1; i <= K; ++i)
    for (int j = 1; j <= K; ++j) I[i][j] = 0.0;

  double C = 0.0, D = 0.0;
  fitted_c_d(s, &C, &D);
  const ModelForm& form = model_form(s);

  for (int j = 1; j <= P; ++j) {
    double Sw = 0, Sx = 0, Sxx = 0, SC = 0, SCx = 0, SCC = 0, SD = 0, SDx = 0, SDD = 0, SCD = 0;
    const int slope = s.nslopes < 2 ? P + 1 : P + j;
    const double a = s.params[j];
    const double b = s.params[slope];
    for (int k = 1; k <= s.ngroups[j]; ++k) {
      DRef g = s.groups[j][k];
      const double x = g[1];
      const double n = g[2];
      // The exact probabilities of the likelihood: both tails keep their
      // relative accuracy, so a group far out in a tail adds the little
      // information it holds (a floored P would add n f^2 / floor).
      GroupProbabilities pr = exact_group_probabilities(s, x, a, b, C, D);
      // A zero or infinite dose has f = 0: it carries no information on a
      // and b. The density at its floor keeps the C and D terms, which are
      // formed by dividing by f, finite.
      if (pr.f < kProbabilityFloor) pr.f = kProbabilityFloor;
      const double P0 = pr.P0, f = pr.f, Pm = pr.P, Qm = pr.Q;
      // dP/dP0, and the derivatives of P in C and D divided by f.
      const ResponseDerivatives dP = form.derivatives(P0, C, D);
      const double w0 = dP.dP0;
      const double gC = dP.dC / f;
      const double gD = dP.dD / f;
      const double w = w0 * w0 * f * f * n / Pm / Qm;
      Sw += w;
      Sx += w * x;
      Sxx += w * x * x;
      if (form.extra_count() == 0) continue;
      SC += w * gC / w0;
      SCx += w * gC * x / w0;
      SCC += w * gC * gC / w0 / w0;
      SD += w * gD / w0;
      SDx += w * gD * x / w0;
      SDD += w * gD * gD / w0 / w0;
      SCD += w * gD * gC / w0 / w0;
    }
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
  return gaussj(I, s.npar);
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
