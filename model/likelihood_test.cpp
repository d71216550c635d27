// Tests of the objective, its gradient, the saturated log-likelihood and the
// simplex objective.
#include "model/likelihood.h"
#include "model/model_family.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/reference_data.h"

namespace varnalo {
namespace {

using testing::Group;
using testing::StageFixture;

// Sums of a few dozen logarithms of moderate size: rounding only.
constexpr double kSumRounding = 1e-11;
// Central differences with step kStep: truncation ~ kStep^2 * F'''/6 and
// cancellation ~ 1e-16 * |F| / kStep, together below 1e-8 here.
constexpr double kStep = 1e-5;
constexpr double kFiniteDifferenceTolerance = 1e-7;
// Normal models: the analytic gradient uses the exact density while P0 comes
// from Ibbetson's polynomial, whose slope is not exactly the density; the
// two differ by about 1e-9, multiplied by |w| (up to a few hundred here).
constexpr double kNormalFiniteDifferenceTolerance = 1e-6;

double logistic(double z) { return 1.0 / (1.0 + std::exp(-z)); }

// Binomial kernel of the log-likelihood ratio of one group, written as
// r ln(r / nP) + (n - r) ln((n - r) / nQ), with 0 ln 0 = 0.
double half_deviance(double n, double r, double P) {
  double t = 0.0;
  if (r > 0) t += r * std::log(r / (n * P));
  if (n - r > 0) t += (n - r) * std::log((n - r) / (n * (1.0 - P)));
  return t;
}

// Two preparations with a control group (x = -99), an infinite dose
// (x = 99, all responding), a group without responders and fully
// responding groups at finite doses.
const std::vector<std::vector<Group>> kTwoPreparations = {
    {{-99, 20, 0}, {0.2, 20, 3}, {0.5, 20, 9}, {0.8, 20, 15}, {99, 20, 20}},
    {{0.1, 25, 0}, {0.4, 25, 8}, {0.7, 25, 25}, {1.0, 25, 25}},
};

// A point where every non-sentinel group has 0.2 < P0 < 0.99 and C, D > 0.
void set_smooth_point(const AnalysisState& s, DRef p) {
  const int k = s.nprep + s.nslopes;
  p[1] = -1.0;
  p[2] = -0.5;
  if (s.nslopes == 2) {
    p[3] = 2.5;
    p[4] = 3.0;
  } else {
    p[3] = 2.8;
  }
  p[k + 1] = 0.08;
  p[k + 2] = 0.12;
}

TEST(Likelihood, ObjectiveMatchesTheBinomialKernelByHand) {
  StageFixture fx;
  fx.set_groups({{{0.0, 40, 10}, {0.5, 40, 22}, {1.0, 40, 35}}});
  fx.begin_fit(2, 1, 1);
  AnalysisState& s = fx.state();
  DVector p = dvector(1, 4);
  p[1] = -1.2;
  p[2] = 2.6;
  double expected = 0.0;
  for (double x : {0.0, 0.5, 1.0}) {
    const double r = x == 0.0 ? 10 : x == 0.5 ? 22 : 35;
    expected += half_deviance(40, r, logistic(-1.2 + 2.6 * x));
  }
  EXPECT_NEAR(loglik_objective(s, p), expected, kSumRounding);
}

TEST(Likelihood, ObjectiveWithNaturalResponseAndImmunity) {
  StageFixture fx;
  fx.set_groups({{{-99, 30, 3}, {0.3, 30, 12}, {0.9, 30, 24}}});
  fx.begin_fit(3, 4, 1);
  AnalysisState& s = fx.state();
  DVector p = dvector(1, 4);
  p[1] = -0.7;
  p[2] = 1.9;
  p[3] = 0.1;
  p[4] = 0.15;
  auto P = [](double x) {
    const double P0 = x <= -99 ? 0.0 : -std::expm1(-std::exp(-0.7 + 1.9 * x));
    return 0.1 + 0.75 * P0;
  };
  const double expected = half_deviance(30, 3, P(-99)) + half_deviance(30, 12, P(0.3)) +
                          half_deviance(30, 24, P(0.9));
  EXPECT_NEAR(loglik_objective(s, p), expected, kSumRounding);
}

TEST(Likelihood, SaturatedLogLikelihoodWithEmptyAndFullGroups) {
  StageFixture fx;
  fx.set_groups({{{0.0, 10, 4}, {0.5, 8, 0}}, {{0.2, 12, 12}}});
  AnalysisState& s = fx.state();
  const double expected = 4 * std::log(0.4) + 6 * std::log(0.6);  // empty and full groups: 0
  EXPECT_NEAR(saturated_loglik(s), expected, kSumRounding);
}

TEST(Likelihood, ExactFitGivesZero) {
  StageFixture fx;
  const double a = -0.4, b = 1.7;
  std::vector<Group> groups;
  for (double x : {-0.5, 0.0, 0.5, 1.0, 1.5}) groups.push_back({x, 50, 50 * logistic(a + b * x)});
  fx.set_groups({groups});
  fx.begin_fit(2, 1, 1);
  AnalysisState& s = fx.state();
  s.params[1] = a;
  s.params[2] = b;
  EXPECT_NEAR(loglik_objective(s, s.params), 0.0, kSumRounding);
  // Away from the exact point the objective is positive.
  s.params[2] = 1.9;
  EXPECT_GT(loglik_objective(s, s.params), 0.1);
}

TEST(Likelihood, NegativeCIsEvaluatedAtZeroAndWrittenBack) {
  StageFixture fx;
  fx.set_groups(kTwoPreparations);
  fx.begin_fit(2, 2, 1);
  AnalysisState& s = fx.state();
  DVector p = dvector(1, 5), q = dvector(1, 5);
  set_smooth_point(s, p);
  set_smooth_point(s, q);
  p[4] = -0.3;
  q[4] = 0.0;
  EXPECT_EQ(loglik_objective(s, p), loglik_objective(s, q));
  EXPECT_EQ(p[4], 0.0);
  DVector g = dvector(1, 5);
  p[4] = -0.3;
  loglik_gradient(s, p, g);
  EXPECT_EQ(p[4], 0.0);
}

TEST(Likelihood, ObjectiveIsCapped) {
  StageFixture fx;
  fx.set_groups({{{0.0, 1e49, 5e48}, {1.0, 1e49, 1e49}}});
  fx.begin_fit(1, 1, 1);
  AnalysisState& s = fx.state();
  s.params[1] = -30;
  s.params[2] = 0;
  EXPECT_EQ(loglik_objective(s, s.params), 1e50);
}

// Each form's gradient against central differences of its own objective,
// every model and distribution, both slope layouts. The exact form is taken
// at a point with a control under a shallow slope and groups in the tails,
// where the search form's objective and gradient part ways.
TEST(LikelihoodGradient, MatchesFiniteDifferencesForEveryModel) {
  struct Form {
    const char* name;
    double (*objective)(AnalysisState&, DRef);
    void (*gradient)(AnalysisState&, DRef, DRef);
    std::vector<std::vector<Group>> preps;
  };
  const Form forms[] = {
      {"search", loglik_objective, loglik_gradient, kTwoPreparations},
      {"exact", exact_objective, exact_gradient,
       {{{-99, 20, 2}, {0.2, 20, 3}, {1.5, 20, 9}, {3.0, 20, 15}, {99, 20, 19}},
        {{-1.0, 25, 1}, {0.4, 25, 8}, {2.0, 25, 24}}}},
  };
  for (const Form& form : forms)
    for (int nslopes : {2, 1})
      for (int dist = 1; dist <= 3; ++dist)
        for (int model = 1; model <= 8; ++model) {
          StageFixture fx;
          fx.set_groups(form.preps);
          fx.begin_fit(dist, model, nslopes);
          AnalysisState& s = fx.state();
          s.fixed_c = 0.3;
          const int N = s.param_capacity();
          DVector p = dvector(1, N), g = dvector(1, N), t = dvector(1, N);
          set_smooth_point(s, p);
          if (std::string(form.name) == "exact") {
            const double shallow[] = {-2.5, -1.2, 0.4, 1.1};
            for (int i = 1; i <= s.nprep + s.nslopes; ++i) p[i] = shallow[i - 1];
          }
          form.gradient(s, p, g);
          const double tol =
              dist == 1 ? kNormalFiniteDifferenceTolerance : kFiniteDifferenceTolerance;
          for (int e = 1; e <= s.npar; ++e) {
            for (int c = 1; c <= N; ++c) t[c] = p[c];
            t[e] = p[e] + kStep;
            const double up = form.objective(s, t);
            t[e] = p[e] - kStep;
            const double fd = (up - form.objective(s, t)) / (2 * kStep);
            EXPECT_NEAR(g[e], fd, tol * std::max(1.0, std::fabs(fd)))
                << form.name << " dist " << dist << " model " << model << " nslopes " << nslopes
                << " entry " << e;
          }
        }
}

TEST(LikelihoodGradient, RoutesGroupsToTheirInterceptAndSlope) {
  // Only preparation 2 has information: entries of preparation 1 stay 0.
  StageFixture fx;
  fx.set_groups({{{-99, 20, 2}, {-99, 20, 1}}, {{0.2, 20, 5}, {0.6, 20, 12}}});
  fx.begin_fit(2, 2, 2);
  AnalysisState& s = fx.state();
  DVector p = dvector(1, 6), g = dvector(1, 6);
  p[1] = 0.3;
  p[2] = -0.4;
  p[3] = 1.5;
  p[4] = 1.8;
  p[5] = 0.05;
  loglik_gradient(s, p, g);
  EXPECT_EQ(g[1], 0.0);
  EXPECT_EQ(g[3], 0.0);
  EXPECT_NE(g[2], 0.0);
  EXPECT_NE(g[4], 0.0);
  EXPECT_NE(g[5], 0.0) << "control groups inform C";
  // Common slope: preparation 2 feeds entries 2 and 3.
  fx.begin_fit(2, 2, 1);
  DVector q = dvector(1, 5), h = dvector(1, 5);
  q[1] = 0.3;
  q[2] = -0.4;
  q[3] = 1.8;
  q[4] = 0.05;
  loglik_gradient(s, q, h);
  EXPECT_EQ(h[1], 0.0);
  EXPECT_NE(h[3], 0.0);
  // Preparation 2 alone, by hand: dF/da2 = -sum (r - nP)/(P Q) * (1 - C) f.
  double expected = 0.0;
  for (auto [x, r] : {std::pair{0.2, 5.0}, std::pair{0.6, 12.0}}) {
    const double P0 = logistic(-0.4 + 1.8 * x), f = P0 * (1 - P0);
    const double P = 0.05 + 0.95 * P0;
    expected -= (r - 20 * P) / (P * (1 - P)) * 0.95 * f;
  }
  EXPECT_NEAR(h[2], expected, kSumRounding);
}

TEST(SimplexObjective, SentinelDosesGiveExactProportions) {
  // Control group with r/n = C, infinite dose with r/n = C + (1 - C): both
  // contribute exactly 0 when P0 is exactly 0 and 1.
  StageFixture fx;
  fx.set_groups({{{-99, 20, 2}, {0.4, 20, 9}, {99, 20, 20}}});
  fx.begin_fit(2, 2, 1);
  AnalysisState& s = fx.state();
  DVector p = dvector(1, 4);
  p[1] = -0.8;
  p[2] = 1.5;
  p[3] = 0.1;
  p[4] = 0.7;
  const double expected = half_deviance(20, 9, 0.1 + 0.9 * logistic(-0.8 + 1.5 * 0.4));
  EXPECT_NEAR(simplex_objective(s, p), expected, kSumRounding);
  EXPECT_EQ(p[4], 0.7) << "the unused coordinate is not read and not written";
}

// The simplex evaluates a vertex as the nearest point of the parameter
// space, with a penalty for the distance, and leaves the vertex as it is,
// so it can cross a bound and return.
TEST(SimplexObjective, EvaluatesRatesMovedIntoTheSpaceWithoutWritingTheVertex) {
  StageFixture fx;
  fx.set_groups({{{0.1, 20, 4}, {0.5, 20, 10}}});
  AnalysisState& s = fx.state();
  s.fixed_c = 0.25;
  constexpr double kTop = 1.0 - kRateMargin;
  struct Case {
    int model;
    double in3, in4;    // the vertex's entries k+1 and k+2
    double eval3, eval4;  // the point of the space it is evaluated at
  };
  const Case cases[] = {
      {1, -0.2, 0.7, 0.0, 0.0},    {2, -0.2, 0.7, 0.0, 0.0},
      {2, 1.4, 0.0, kTop, 0.0},    {3, 0.1, 0.7, 0.1, 0.0},
      {4, -0.1, -0.2, 0.0, 0.0},   {4, 0.6, 0.6, kTop / 2, kTop / 2},
      {5, -0.3, 0.6, 0.0, 0.0},    {6, 0.05, 0.6, 0.05, 0.0},
      {7, -0.3, 0.6, 0.0, 0.0},    {8, 0.1, -0.4, 0.1, 0.0},
      {8, 0.7, 0.9, 0.7, 0.9},
  };
  for (const Case& c : cases) {
    fx.begin_fit(2, c.model, 1);
    DVector p = dvector(1, 4);
    DVector q = dvector(1, 4);
    p[1] = q[1] = -0.5;
    p[2] = q[2] = 1.0;
    p[3] = c.in3;
    p[4] = c.in4;
    q[3] = c.eval3;
    q[4] = c.eval4;
    // Plus 10 (1 + |F|) per unit of distance outside, which pushes the
    // simplex back.
    const bool c_read = c.model == 2 || c.model == 4 || c.model == 6 || c.model == 8;
    const bool d_read = c.model == 3 || c.model == 7 || c.model == 4 || c.model == 8;
    const double outside = (c_read || d_read ? std::fabs(c.in3 - c.eval3) : 0.0) +
                           (c.model == 4 || c.model == 8 ? std::fabs(c.in4 - c.eval4) : 0.0);
    const double F = loglik_objective(s, q);
    EXPECT_NEAR(simplex_objective(s, p), F + 10.0 * outside * (1.0 + std::fabs(F)),
                kSumRounding * (1.0 + outside * 1e3))
        << "model " << c.model;
    EXPECT_EQ(p[3], c.in3) << "model " << c.model;
    EXPECT_EQ(p[4], c.in4) << "model " << c.model;
  }
}

TEST(SimplexObjective, AgreesWithTheObjectiveAwayFromSentinelDoses) {
  StageFixture fx;
  fx.set_groups({{{0.1, 20, 4}, {0.5, 20, 10}, {0.9, 20, 17}}});
  for (int model = 1; model <= 8; ++model) {
    fx.begin_fit(3, model, 1);
    AnalysisState& s = fx.state();
    DVector p = dvector(1, 4), q = dvector(1, 4);
    p[1] = q[1] = -0.5;
    p[2] = q[2] = 1.2;
    p[3] = q[3] = 0.1;
    p[4] = q[4] = 0.2;
    EXPECT_EQ(simplex_objective(s, p), loglik_objective(s, q)) << "model " << model;
  }
}

// ---- the exact form ---------------------------------------------------------

double normal_tail(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

// Groups in the far tails and at sentinel doses, each with the probability
// the model gives it, written independently with erfc/expm1: the exact form
// keeps every one, where the search form floors them (a responder at
// z = -6.6 would cost ln 1e-52 instead of ln 2e-11).
TEST(ExactObjective, FarTailsAndSentinelDosesHaveTheModelsProbabilities) {
  constexpr double kTailRelative = 1e-12;  // sums of logs of erfc/expm1 values
  struct Case {
    int distribution, model;
    double a, b, C, D;
    std::vector<Group> groups;
    // Model probabilities P and Q = 1 - P at log dose x, each from its own
    // tail.
    std::function<double(double)> P, Q;
  };
  auto logistic_of = [](double z) { return 1.0 / (1.0 + std::exp(-z)); };
  const Case cases[] = {
      // A responder deep in the lower Normal tail.
      {1, 1, -6.6, 0.02, 0.0, 0.0, {{0.0, 35, 1}, {1.0, 30, 0}},
       [](double x) { return normal_tail(-6.6 + 0.02 * x); },
       [](double x) { return normal_tail(6.6 - 0.02 * x); }},
      // A control under a shallow slope: P0 = 0 whatever a - 99 b is.
      {2, 2, -1.0, 0.02, 0.05, 0.0, {{-99, 40, 2}, {0.0, 35, 5}, {1.0, 30, 6}},
       [&](double x) { return x <= -99 ? 0.05 : 0.05 + 0.95 * logistic_of(-1.0 + 0.02 * x); },
       [&](double x) { return x <= -99 ? 0.95 : 0.95 * logistic_of(1.0 - 0.02 * x); }},
      // A non-responder far in the upper Normal tail (1 - P would be 0).
      {1, 1, -1.0, 10.0, 0.0, 0.0, {{0.05, 20, 7}, {0.95, 20, 19}},
       [](double x) { return normal_tail(-1.0 + 10.0 * x); },
       [](double x) { return normal_tail(1.0 - 10.0 * x); }},
      // The complementary log-log lower tail (1 - exp(-exp(z)) would be 0).
      {3, 1, -40.0, 1.0, 0.0, 0.0, {{0.5, 50, 1}, {1.0, 50, 0}},
       [](double x) { return -std::expm1(-std::exp(-40.0 + x)); },
       [](double x) { return std::exp(-std::exp(-40.0 + x)); }},
      // A logistic upper tail with immunity, and an infinite dose (P0 = 1).
      {2, 3, 0.0, 2.0, 0.0, 0.1, {{20.0, 30, 26}, {99, 30, 27}},
       [&](double x) { return 0.9 * (x >= 99 ? 1.0 : logistic_of(2.0 * x)); },
       [&](double x) { return 0.1 + 0.9 * (x >= 99 ? 0.0 : logistic_of(-2.0 * x)); }},
  };
  for (const Case& c : cases) {
    StageFixture fx;
    fx.set_groups({c.groups});
    fx.begin_fit(c.distribution, c.model, 1);
    AnalysisState& s = fx.state();
    DVector p = dvector(1, 4);
    p[1] = c.a;
    p[2] = c.b;
    p[3] = c.model == 3 ? c.D : c.C;
    p[4] = c.D;
    // r ln(r / nP) + m ln(m / nQ), 0 ln 0 = 0.
    double expected = 0.0;
    for (const Group& g : c.groups) {
      if (g.r > 0) expected += g.r * std::log(g.r / (g.n * c.P(g.x)));
      if (g.n - g.r > 0) expected += (g.n - g.r) * std::log((g.n - g.r) / (g.n * c.Q(g.x)));
    }
    EXPECT_NEAR(exact_objective(s, p), expected, kTailRelative * std::fabs(expected))
        << "distribution " << c.distribution << " model " << c.model;
  }
}

// Where no group lies in a far tail or at a sentinel dose the two forms are
// the same numbers, so fits that never meet a tail keep every digit.
TEST(ExactObjective, AgreesBitForBitWithTheSearchFormAwayFromTheTails) {
  StageFixture fx;
  fx.set_groups({{{0.1, 20, 4}, {0.5, 20, 10}, {0.9, 20, 17}}, {{0.3, 25, 5}, {0.8, 25, 20}}});
  for (int distribution = 1; distribution <= 3; ++distribution)
    for (int model = 1; model <= 8; ++model) {
      fx.begin_fit(distribution, model, 1);
      AnalysisState& s = fx.state();
      s.fixed_c = 0.3;
      DVector p = dvector(1, 5), q = dvector(1, 5);
      const double values[] = {-0.5, -0.2, 1.2, 0.1, 0.2};
      for (int i = 1; i <= 5; ++i) p[i] = q[i] = values[i - 1];
      EXPECT_EQ(exact_objective(s, p), loglik_objective(s, q))
          << "distribution " << distribution << " model " << model;
    }
}

TEST(ExactObjective, RatesOutsideTheSpaceGetTheCap) {
  StageFixture fx;
  fx.set_groups({{{0.1, 20, 4}, {0.5, 20, 10}}});
  const struct {
    int model;
    double e3, e4;
  } outside[] = {{2, 1.0, 0.0}, {3, 1.3, 0.0}, {4, 0.6, 0.4}, {7, 4.7, 0.0}, {8, 0.2, 1.0}};
  for (const auto& c : outside) {
    fx.begin_fit(2, c.model, 1);
    DVector p = dvector(1, 4);
    p[1] = -0.5;
    p[2] = 1.0;
    p[3] = c.e3;
    p[4] = c.e4;
    EXPECT_EQ(exact_objective(fx.state(), p), 1e50) << "model " << c.model;
  }
}

// ---- against the committed reference values ------------------------------

// The reference is the exact likelihood; ours differs for the Normal
// distribution by sum (r/P + m/Q) * 1.1e-9 (Ibbetson's absolute error).
constexpr double kIbbetsonError = 1.1e-9;
// Elsewhere: rounding of sums of logs and of the 15-digit reference values.
constexpr double kReferenceRelative = 1e-10;
// Scores at the reference maximum: the reference optimiser stops with
// |score| below 1.5e-12; rounding the estimates to 15 digits moves the score
// by up to about 1e-10 (steep slopes of the beetle data).
constexpr double kScoreTolerance = 1e-9;

TEST(LikelihoodReference, LogLikelihoodAtTheReferenceEstimates) {
  if (!testing::reference_available()) GTEST_SKIP() << "reference values not generated yet";
  const auto& ref = testing::ReferenceValues::get();
  int checked = 0;
  for (const char* data_name : testing::kReferenceDataSets) {
    const std::vector<std::vector<Group>> preps = testing::reference_dataset(data_name);
    for (int dist = 1; dist <= 3; ++dist) {
      for (int model = 1; model <= 8; ++model) {
        const int nprep = static_cast<int>(preps.size());
        const std::vector<int> layouts = nprep > 1 ? std::vector<int>{1, nprep} : std::vector<int>{1};
        for (int nslopes : layouts) {
          const std::string kase = testing::reference_case(data_name, dist, model, nslopes > 1);
          if (!ref.has(kase, "loglik")) continue;
          StageFixture fx;
          fx.set_groups(preps);
          fx.begin_fit(dist, model, nslopes);
          AnalysisState& s = fx.state();
          const int P = s.nprep, k = P + s.nslopes;
          testing::set_reference_params(s, kase);
          // Both are listed for every case (0 where the model has none).
          const double C = ref.at(kase, "C"), D = ref.at(kase, "D");

          const double sat = saturated_loglik(s);
          const double expected_sat = ref.at(kase, "saturated");
          EXPECT_NEAR(sat, expected_sat, kReferenceRelative * std::fabs(expected_sat) + 1e-12)
              << kase;
          const double loglik = sat - loglik_objective(s, s.params);
          const double expected = ref.at(kase, "loglik");
          double tol = kReferenceRelative * std::fabs(expected) + 1e-12;
          if (dist == 1) {
            // First-order bound of the cdf error's effect on the
            // log-likelihood, with P from the exact normal cdf.
            const double Cm = model == 5 || model == 7 ? s.fixed_c : C;
            const double scale = model <= 4 ? 1 - Cm - D : (1 - Cm) * (1 - D);
            for (int i = 1; i <= P; ++i)
              for (int j = 1; j <= s.ngroups[i]; ++j) {
                const double x = s.groups[i][j][1], n = s.groups[i][j][2], r = s.groups[i][j][3];
                const double z = s.params[i] + s.params[nslopes > 1 ? P + i : P + 1] * x;
                const double Pr = Cm + scale * 0.5 * std::erfc(-z / std::sqrt(2.0));
                tol += (r / Pr + (n - r) / (1 - Pr)) * scale * kIbbetsonError;
              }
          }
          EXPECT_NEAR(loglik, expected, tol) << kase;
          if (dist != 1) {
            // The reference point is a maximum: intercept and slope scores
            // vanish (these are never on a boundary).
            DVector g = dvector(1, s.param_capacity());
            loglik_gradient(s, s.params, g);
            for (int e = 1; e <= k; ++e) EXPECT_NEAR(g[e], 0.0, kScoreTolerance) << kase << " entry " << e;
          }
          ++checked;
        }
      }
    }
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace varnalo
