// Verdicts on what a fit estimates.
// Method: counts of distinct doses; the ridge test (a steeper curve and a
// moved intercept compared on the exact likelihood, preparation by
// preparation); the expected information of each preparation's entries
// (its level and the rank of the intercept-slope block). The tests and
// their thresholds are described in inference/estimability.h. Source: the
// existence of maximum likelihood estimates under complete and
// quasi-complete separation, Albert & Anderson, Biometrika 71 (1984) 1-10.
// Accuracy: the thresholds are far from anything a well-behaved fit gives;
// the verdicts do not depend on rounding.
#include "inference/estimability.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "fit/edition.h"
#include "inference/covariance.h"
#include "model/arrow_matrix.h"
#include "model/likelihood.h"
#include "model/likelihood_kernel.h"
#include "model/model_family.h"
#include "model/model_form.h"

namespace varnalo {

namespace {

// True when `after` is a clearly worse objective than `before`.
bool clearly_worse(double before, double after) {
  return after > before + kRidgeTolerance * std::max(before, 1.0);
}

// Whether preparation j's share of the objective drops (or stays) when
// `change` is applied to a copy of the fitted params.
template <typename Change>
bool stays_or_rises(AnalysisState& s, LikelihoodKernel& kernel, DRef work, int j,
                    double before, Change change) {
  const int N = s.param_capacity();
  for (int i = 1; i <= N; ++i) work[i] = s.params[i];
  change(work);
  // Its own share alone, in O(its groups): the others do not move.
  PreparationTerms terms;
  return !clearly_worse(before, kernel.preparation_terms(j, work, terms, true));
}

// Finite doses of preparation j, in order, without repeats.
std::vector<double> finite_doses(AnalysisState& s, int j) {
  std::vector<double> doses;
  for (int g = 1; g <= s.ngroups[j]; ++g) {
    const double x = s.groups[j][g][1];
    if (x > kZeroDoseLog && x < kInfiniteDoseLog && s.groups[j][g][2] > kCountFloor)
      doses.push_back(x);
  }
  std::sort(doses.begin(), doses.end());
  doses.erase(std::unique(doses.begin(), doses.end()), doses.end());
  return doses;
}

// The one finite dose of preparation j at which responses are partial
// (neither none nor all of the subjects), when there is exactly one: where
// quasi-complete separation puts its step.
std::optional<double> partial_dose(AnalysisState& s, int j) {
  std::optional<double> found;
  for (int g = 1; g <= s.ngroups[j]; ++g) {
    DRef row = s.groups[j][g];
    if (!(row[1] > kZeroDoseLog && row[1] < kInfiniteDoseLog)) continue;
    const bool none = row[3] <= kCountFloor;
    const bool all = row[3] >= row[2];
    if (none || all) continue;
    if (found && *found != row[1]) return std::nullopt;
    found = row[1];
  }
  return found;
}

// The log doses about which preparation j's own curve is made steeper: its
// centre (nullopt; complete separation puts the step between two doses,
// where the centre runs to) and up to kMaxPivots of its doses (quasi-complete
// separation puts the step at one of them), evenly chosen.
std::vector<std::optional<double>> pivots(AnalysisState& s, int j) {
  std::vector<std::optional<double>> out{std::nullopt};
  const std::vector<double> doses = finite_doses(s, j);
  const std::size_t count = std::min<std::size_t>(doses.size(), kMaxPivots);
  for (std::size_t q = 0; q < count; ++q) {
    const std::size_t pick = count == doses.size() ? q : q * (doses.size() - 1) / (count - 1);
    out.emplace_back(doses[pick]);
  }
  if (const std::optional<double> x0 = partial_dose(s, j)) out.emplace_back(x0);
  return out;
}

}  // namespace

int distinct_doses(AnalysisState& s, int j) {
  return static_cast<int>(finite_doses(s, j).size());
}

FitEstimability assess_estimability(AnalysisState& s) {
  const int P = s.nprep;
  const bool separate = s.nslopes > 1;
  FitEstimability verdict;
  verdict.prep.assign(static_cast<std::size_t>(P) + 1, Estimable::kYes);
  auto set = [&](int j, Estimable e) {
    Estimable& v = verdict.prep[static_cast<std::size_t>(j)];
    if (v == Estimable::kYes) v = e;
  };

  // Doses.
  int with_two_doses = 0;
  for (int j = 1; j <= P; ++j) {
    const int doses = distinct_doses(s, j);
    if (doses >= 2) ++with_two_doses;
    if (doses < (separate ? 2 : 1)) set(j, Estimable::kTooFewDoses);
  }
  if (with_two_doses == 0)
    for (int j = 1; j <= P; ++j) set(j, Estimable::kTooFewDoses);

  // Responding controls under a model whose controls never respond.
  if (!model_form(s).uses_c())
    for (int j = 1; j <= P; ++j)
      for (int g = 1; g <= s.ngroups[j]; ++g)
        if (s.groups[j][g][1] <= kZeroDoseLog && s.groups[j][g][3] > kCountFloor)
          set(j, Estimable::kControlsUnexplained);

  // The ridge test.
  LikelihoodKernel& kernel = fit_kernel(s);
  const int N = s.param_capacity();
  DVector work = dvector(1, N);
  std::vector<double> base;
  kernel.values_by_preparation(s.params, base);
  double total = 0.0;
  for (int j = 1; j <= P; ++j) total += base[static_cast<std::size_t>(j)];
  if (!separate) {
    // Every curve twice as steep about its centre (linear predictor 0), and
    // about each preparation's own pivot (its one partial dose, if any).
    for (const bool at_partial : {false, true}) {
      for (int i = 1; i <= N; ++i) work[i] = s.params[i];
      const double b = s.params[P + 1];
      for (int j = 1; j <= P; ++j) {
        const std::optional<double> x0 = at_partial ? partial_dose(s, j) : std::nullopt;
        work[j] = x0 ? s.params[j] - b * *x0 : 2.0 * s.params[j];
      }
      work[P + 1] = 2.0 * b;
      std::vector<double> shares;
      kernel.values_by_preparation(work, shares);
      double steeper = 0.0;
      for (int j = 1; j <= P; ++j) steeper += shares[static_cast<std::size_t>(j)];
      if (!clearly_worse(total, steeper))
        for (int j = 1; j <= P; ++j) set(j, Estimable::kNoFiniteMaximum);
    }
  }
  for (int j = 1; j <= P; ++j) {
    PreparationTerms terms;
    const double before = kernel.preparation_terms(j, s.params, terms, true);
    bool steeper = false;
    if (separate)
      for (const std::optional<double> x0 : pivots(s, j)) {
        // The curve twice as steep about x0 (about its centre without one).
        steeper = steeper || stays_or_rises(s, kernel, work, j, before, [&](DRef x) {
                    const double a = x[j], b = x[P + j];
                    x[j] = x0 ? a - b * *x0 : 2.0 * a;
                    x[P + j] = 2.0 * b;
                  });
      }
    const bool moved_up = stays_or_rises(s, kernel, work, j, before,
                                         [&](DRef x) { x[j] += kInterceptMove; });
    const bool moved_down = stays_or_rises(s, kernel, work, j, before,
                                           [&](DRef x) { x[j] -= kInterceptMove; });
    if (steeper || moved_up || moved_down) set(j, Estimable::kNoFiniteMaximum);
  }
  dvector_free(work, 1, N);

  // The information of each preparation's entries.
  std::vector<InformationSums> sums;
  kernel.information_sums(s.params, sums);
  for (int j = 1; j <= P; ++j) {
    double subjects = 0.0;
    for (int g = 1; g <= s.ngroups[j]; ++g)
      if (s.groups[j][g][2] > kCountFloor) subjects += s.groups[j][g][2];
    const InformationSums& t = sums[static_cast<std::size_t>(j)];
    if (!(t.Sw > kInformationFloor * subjects)) set(j, Estimable::kNoFiniteMaximum);
    if (separate && !(t.Sw * t.Sxx - t.Sx * t.Sx > kRankFloor * t.Sw * t.Sxx))
      set(j, Estimable::kNoFiniteMaximum);
  }
  return verdict;
}

void mark_not_estimated(AnalysisState& s) {
  const FitEstimability& verdict = s.estimability();
  if (verdict.complete()) return;
  const int P = s.nprep;
  const int N = s.param_capacity();
  const bool separate = s.nslopes > 1;
  std::vector<bool> lost(static_cast<std::size_t>(N) + 1, false);
  bool everything = false;
  for (int j = 1; j <= P; ++j) {
    if (verdict.estimated(j)) continue;
    lost[static_cast<std::size_t>(j)] = true;
    if (separate) lost[static_cast<std::size_t>(P + j)] = true;
    everything = everything || verdict.of(j) == Estimable::kControlsUnexplained;
  }
  if (!separate && verdict.none()) lost[static_cast<std::size_t>(P + 1)] = true;
  const RateIndices at = rate_indices(s);
  if (at.c != 0) lost[static_cast<std::size_t>(at.c)] = true;
  if (at.d != 0) lost[static_cast<std::size_t>(at.d)] = true;
  if (everything) std::fill(lost.begin(), lost.end(), true);
  // The variances of the rest come from their own information: the whole
  // matrix is singular (or nearly so) where a curve has become a step.
  invert_information_without(s, lost);
  // The maximiser's covariances are those of the observed information
  // (where the edition has them at all); the maximiser's own metric of a
  // fit that ran up a ridge means nothing.
  bool observed = false;
  if (!s.edition || !s.edition->fit_cov_from_info) {
    LikelihoodKernel& kernel = fit_kernel(s);
    DVector g = dvector(1, N);
    ArrowMatrix hessian(kernel.layout());
    observed = kernel.value_gradient_hessian(s.params, g, hessian) < kObjectiveCap;
    dvector_free(g, 1, N);
    if (observed) {
      hessian.to_dense(s.fit_cov, s.npar);
      invert_without(s.fit_cov, s.npar, lost);
    }
  }
  if (!observed)
    for (int i = 1; i <= N; ++i)
      for (int k = 1; k <= N; ++k) s.fit_cov[i][k] = s.info_cov[i][k];
}

}  // namespace varnalo
