// TABLE.TXT summary record: one tab-separated block per analysis.
// Method: direct formatting of the fitted values; ED50 limits by Fieller's
// theorem (potency/fieller.cpp) at the 95 per cent deviate.
// Accuracy: six decimals ("%lf") of the values held by the program.
#include "export/summary_table.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "fit/edition.h"
#include "inference/covariance.h"
#include "model/model_family.h"
#include "model/model_form.h"
#include "potency/effective_dose.h"

namespace varnalo {

namespace {

// The column titles, one per field of a data row (40 in all).
constexpr const char* kColumnTitles =
    "Preparations\t"
    "DoseGroups\t"
    "ED50    \t95%LLimit\t95%ULimit\tLog(ED50)\t95%LLimit\t95%ULimit\t"
    "Rho     \t95%LLimit\t95%ULimit\tLog(Rho) \t95%LLimit\t95%ULimit\t"
    "Formulae\t"
    "a Intercept\tStd.Err. \tb\tStd.Err. \tC\tStd.Err. \tD\tStd.Err. \t"
    "mu=Log(ED50)\tStd.Err. \tM=Log(Rho)\tStd.Err. \tsigma\tStd.Err. \t"
    "L.R.Chi2Hetero\tPearsonChi2Hetero\tDFHetero\t"
    "L.R.Chi2Parallel\tPearsonChi2Parallel\tDFParallel\t"
    "HeterogeneityFactor\tt at 2.5%\tAIC\tNumber of Parameters\tMaximum Log Likelihood\t";

double antilog(double x) { return std::pow(10.0, x); }

// Writes "%lf\t" fields. A value that is not a finite number (a slope of 0
// makes the ED50 columns, sigma and their errors infinite or undefined; a
// negative variance has no square root) is written as "-", so that the
// spreadsheet never receives "inf" or "nan" and the row keeps its fields.
// Where the data leave quantities of the fit undefined (a preparation's
// verdict), their values are NaN and their cells are left empty.
void cells(std::FILE* f, std::initializer_list<double> values, bool empty_nan) {
  for (double v : values) {
    if (std::isfinite(v))
      std::fprintf(f, "%lf\t", v);
    else if (empty_nan && std::isnan(v))
      std::fprintf(f, "\t");
    else
      std::fprintf(f, "-\t");
  }
}

}  // namespace

void write_summary_table(AnalysisState& s) {
  std::FILE* f = s.table_file;
  if (f == nullptr) return;
  const int P = s.nprep;
  Matrix& V = selected_cov(s);
  const double b = s.params[P + 1];
  const double t95 = s.conf_deviates[kLevel95];

  double C = 0.0, D = 0.0, varC = 0.0, varD = 0.0;
  fitted_c_d(s, &C, &D);
  c_d_variances(s, V, &varC, &varD);
  // A parameter the model does not estimate has standard error 0 (a fixed C
  // of models 5 and 7 included).
  const ModelForm& form = model_form(s);
  const double se_c = form.estimates_c() ? std::sqrt(varC) : 0.0;
  const double se_d = form.estimates_d() ? std::sqrt(varD) : 0.0;
  const double se_b = std::sqrt(V[P + 1][P + 1]);

  std::fprintf(f, "Distribution\tModel\tAlgorithm\tMethod\n");
  std::fprintf(f, "%d\t%d\t%s\t%d\n\n", s.distribution, s.model, s.edition->algorithm_name,
               s.variance_method);
  std::fprintf(f, "%s\n", kColumnTitles);
  const bool marked = !s.common_estimability.complete();
  auto cells = [&](std::initializer_list<double> values) { varnalo::cells(f, values, marked); };

  for (int j = 1; j <= P; ++j) {
    const double m50 = log_effective_dose(s, j, kEd50Level);
    double var50 = 0.0, u50 = 0.0, l50 = 0.0;
    if (s.common_estimability.estimated(j))
      log_dose_limits(s, j, m50, t95, &var50, &u50, &l50);
    else
      var50 = u50 = l50 = kNotEstimated;
    const double M = s.rp_log[j];
    const double RL = s.rp_lower[kLevel95][j];
    const double RU = s.rp_upper[kLevel95][j];

    std::fprintf(f, "%s\t", s.prep_names[j].c_str());
    std::fprintf(f, "%d\t", s.ngroups[j]);
    cells({antilog(m50), antilog(l50), antilog(u50), m50, l50, u50});
    cells({antilog(M), antilog(RL), antilog(RU), M, RL, RU});
    if (std::isfinite(s.params[j]) && std::isfinite(b))
      std::fprintf(f, "Y=%-7.4lf +%7.4lfX\t", s.params[j], b);
    else
      std::fprintf(f, "-\t");
    cells({s.params[j], std::sqrt(V[j][j]), b, se_b, C, se_c, D, se_d});
    cells({m50, std::sqrt(var50), M, std::sqrt(s.rp_var[j]), 1.0 / b, se_b / b / b});
    cells({s.sep_lr_chi2, s.sep_pearson_chi2, s.sep_df});
    cells({s.lr_chi2 - s.sep_lr_chi2, s.pearson_chi2 - s.sep_pearson_chi2, s.df - s.sep_df});
    cells({s.het_factor, t95, s.aic, static_cast<double>(s.npar), s.max_loglik});
    std::fprintf(f, "\n");
  }
  std::fprintf(f, "\n");
}

}  // namespace varnalo
