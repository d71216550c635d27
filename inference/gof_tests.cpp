// Goodness of fit: the Pearson chi-square of every fit, the Pearson and
// likelihood-ratio test tables split into parallelism, heterogeneity and
// total (Finney, "Probit Analysis", 3rd ed., ch. 4 and 5), the choice of the
// governing test and the heterogeneity factor h = chi-square / DF that
// multiplies every variance when heterogeneity is significant.
// Method: Pearson X^2 = sum (r - E)^2 / (E (1 - E/n)) over the groups, the
// likelihood-ratio statistic 2 (saturated - fitted log-likelihood), and
// parallelism as the difference between the common-slope and the
// separate-slope fits. Accuracy: sums exact up to rounding; p values those
// of the chi-square tail of inference/probability.cpp (exact series up to
// 10 DF; above, Wilson-Hilferty within 0.5 per cent for tails from 0.02 and
// the exact incomplete gamma function below).
#include "inference/gof_tests.h"

#include "foundation/number_cell.h"
#include "foundation/output.h"
#include "inference/covariance.h"
#include "inference/probability.h"
#include "inference/variance_ratio.h"

namespace varnalo {

namespace {

// One table row. Rows with less than one degree of freedom have no mean
// square and no probability; their cells show "-" (and a negative count of
// degrees of freedom "-" too) and false is returned.
// clip caps the probability at 1 (the series can exceed it by rounding).
bool print_row(AnalysisState& s, const char* name, double df, double chi2, double* p, bool clip) {
  int status = 999;
  if (df >= 1.0) status = chi2_prob(chi2, static_cast<int>(df), p);
  if (status != 0) {
    // More parameters than groups (a preparation with a single dose) leave
    // no degrees of freedom at all: a negative count is shown as "-".
    if (df < 0.0)
      both(s, "  %-15s %3s %s %13s %13s\n", name, "-", fixed_cell(chi2, 13, 7).c_str(), "-", "-");
    else
      both(s, "  %-15s %3.0f %s %13s %13s\n", name, df, fixed_cell(chi2, 13, 7).c_str(), "-", "-");
    return false;
  }
  if (clip && *p > 1.0) *p = 1.0;
  both(s, "  %-15s %3.0f %s %s %s\n", name, df, fixed_cell(chi2, 13, 7).c_str(),
       fixed_cell(chi2 / df, 13, 7).c_str(), fixed_cell(*p, 13, 7).c_str());
  return true;
}

}  // namespace

void compute_pearson(AnalysisState& s) {
  double sum = 0.0;
  for (int j = 1; j <= s.nprep; ++j)
    for (int k = 1; k <= s.ngroups[j]; ++k) {
      DRef g = s.groups[j][k];
      const double n = g[2];
      // A zero count is held at the count floor; here it is the 0 it stands
      // for. Kept at the floor, a group with no responders whose expected
      // count sits at the probability floor (n 1e-99) would add
      // 1e-100 / (n 1e-99) = 1 / (10 n) instead of nothing.
      const double r = g[3] <= kCountFloor ? 0.0 : g[3];
      const double E = g[4];
      if (E > 0.0 && E < n) sum += (r - E) * (r - E) / E / (1.0 - E / n);
    }
  s.pearson_chi2 = sum;
}

bool warn_no_degrees_of_freedom(AnalysisState& s) {
  if (s.sep_df != 0.0) return false;
  screen(s, "CAUTION!! DF= 0 (zero)  Change the model or use more dose groups.\n");
  return true;
}

TestTable print_test_table(AnalysisState& s, TestKind kind) {
  const bool pearson = kind == TestKind::kPearson;
  if (pearson) {
    both(s, "Pearson Chi-square Test on Sum of Squares\n");
    both(s, "  %19s%10s%14s%14s\n", "DF", "SS", "MS", "p");
  } else {
    both(s, "Likelihood Ratio Chi-square Test\n");
    both(s, "  %19s%10s%14s%14s\n", "DF", "LR", "MLR", "p");
  }
  const double x = pearson ? s.pearson_chi2 : s.lr_chi2;
  TestTable t;
  t.het_chi2 = pearson ? s.sep_pearson_chi2 : s.sep_lr_chi2;
  t.het_df = s.sep_df;
  if (s.nprep > 1) {
    t.par_chi2 = x - t.het_chi2;
    t.par_df = s.df - t.het_df;
    t.par_known = print_row(s, "Parallelism ", t.par_df, t.par_chi2, &t.par_p, false);
  }
  t.het_known = print_row(s, "Heterogeneity", t.het_df, t.het_chi2, &t.het_p, true);
  if (s.nprep > 1) {
    double pt = 0.0;
    print_row(s, "Total        ", s.df, x, &pt, false);
  }
  return t;
}

TestVerdict judge_test_table(const AnalysisState& s, const TestTable& t, double level) {
  // Without a degree of freedom left there is nothing to judge heterogeneity
  // with: it counts as not significant.
  TestVerdict v;
  v.heterogeneity = t.het_known && t.het_p < level;
  v.parallelism = s.nprep > 1 && t.par_known && t.par_p < level && !v.heterogeneity;
  return v;
}

bool needs_variance_ratio(const AnalysisState& s, const TestVerdict& v) {
  return s.nprep > 1 && v.heterogeneity;
}

double print_parallelism_ratio(AnalysisState& s, const TestTable& t) {
  both(s, "\n");
  return print_variance_ratio(s, "parallelism", "heterogeneity", t.par_df, t.het_df, t.par_chi2,
                              t.het_chi2);
}

void judge_parallelism_ratio(AnalysisState& s, double p, double level, TestVerdict* v) {
  v->parallelism = variance_ratio_verdict(s, p, level) ? false : true;
}

void end_test_table(AnalysisState& s) { both(s, "\n"); }

void adopt_test(AnalysisState& s, const TestVerdict& pearson, const TestVerdict& lr) {
  bool het_flag, par_flag;
  double het_chi2;
  if (s.chi_choice == 1) {
    het_chi2 = s.sep_pearson_chi2;
    report(s, "* Chi-square Test on SS (Pearson Test) is adopted.\n");
    het_flag = pearson.heterogeneity;
    par_flag = pearson.parallelism;
  } else {
    het_chi2 = s.sep_lr_chi2;
    report(s, "* Likelihood Ratio Test is adopted.\n");
    het_flag = lr.heterogeneity;
    par_flag = lr.parallelism;
  }
  s.parallelism_rejected = s.nprep > 1 && par_flag;
  if (s.nprep > 1) {
    if (par_flag)
      both(s, "* Problems may exist in parallelism.Anyway the following will be completed\n");
    else
      both(s, "* No problems in parallelism.\n");
  }
  if (!het_flag) {
    s.het_factor = 1.0;
    both(s, "* Since heterogeneity is small (p>%6.3f), a normal deviate is used.\n", s.chi2_level);
  } else {
    // A significant heterogeneity implies sep_df >= 1, so the division is safe.
    s.het_factor = het_chi2 / s.sep_df;
    both(s, "* Since heterogeneity is large (p<%6.3f), a t-deviate (%2.0f DF) is used.\n",
         s.chi2_level, s.sep_df);
    both(s, "  All variances and covariances have been multiplied by the heterogeneity\n");
    both(s, "  factor, h =%13.7f\n", s.het_factor);
  }
  scale_by_het_factor(s);
  report(s, "\n");
}

}  // namespace varnalo
