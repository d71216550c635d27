#include "fit/simplex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>


namespace varnalo {
namespace {

// The simplex stops when best and worst values agree to 1e-12 relative; for
// a quadratic with minimum value 3 the point is then within about
// sqrt(3e-12 / curvature) ~ 2e-6 of the minimiser.
constexpr double kQuadraticPointTol = 1e-5;
constexpr double kTolerance = 1e-12;

// A simplex of ndim + 1 vertices with the given rows, and their values.
struct Simplex {
  Matrix rows;
  DVector y;
  Simplex(int ndim, std::initializer_list<std::initializer_list<double>> vertices,
          const ObjectiveFn& f)
      : rows(matrix(1, ndim + 1, 1, ndim)), y(dvector(1, ndim + 1)) {
    int i = 0;
    for (const auto& v : vertices) {
      ++i;
      int j = 0;
      for (double c : v) rows[i][++j] = c;
      y[i] = f(rows[i]);
    }
  }
};

TEST(Amoeba, FindsTheMinimumOfAQuadratic) {
  ObjectiveFn f = [](DRef x) {
    return 3.0 + (x[1] - 1) * (x[1] - 1) + 2 * (x[2] + 0.5) * (x[2] + 0.5);
  };
  Simplex sx(2, {{0.2, 0.3}, {0.22, 0.3}, {0.2, 0.33}}, f);
  const SolverSummary run = Amoeba(sx.rows, sx.y, 2, kTolerance, f);
  EXPECT_EQ(run.stop, SolverStop::kValueTolerance);
  EXPECT_NEAR(sx.rows[1][1], 1.0, kQuadraticPointTol);
  EXPECT_NEAR(sx.rows[1][2], -0.5, kQuadraticPointTol);
  EXPECT_EQ(sx.y[1], f(sx.rows[1]));
  // Row 1 is the best vertex.
  EXPECT_LE(sx.y[1], sx.y[2]);
  EXPECT_LE(sx.y[1], sx.y[3]);
  EXPECT_GT(run.evaluations, 0);
  EXPECT_LT(run.evaluations, 10000);
  EXPECT_GT(run.iterations, 0);
}

// Why a run stopped: the evaluation limit on an objective without a minimum
// (the best vertex kept in row 1), a first run or a restart alike; the
// fractional tolerance; and for a restart, values that agree within the
// objective's rounding.
TEST(Amoeba, TheRecordSaysWhyTheRunStopped) {
  const ObjectiveFn downhill = [](DRef x) { return -x[1] - x[2]; };
  const ObjectiveFn bowl = [](DRef x) { return 2.0 + x[1] * x[1] + x[2] * x[2]; };
  struct Case {
    const char* what;
    const ObjectiveFn& f;
    AmoebaEnd end;
    SolverStop stop;
    bool at_limit;
  };
  const Case cases[] = {
      {"limit", downhill, {}, SolverStop::kEvaluationLimit, true},
      {"restart at the limit", downhill, {0.0, true}, SolverStop::kEvaluationLimit, true},
      {"restart within the noise", bowl, {1.0, true}, SolverStop::kWithinNoise, false},
      {"tolerance", bowl, {1.0, false}, SolverStop::kValueTolerance, false},
  };
  for (const Case& c : cases) {
    Simplex sx(2, {{0, 0}, {1, 0}, {0, 1}}, c.f);
    const SolverSummary run = Amoeba(sx.rows, sx.y, 2, kTolerance, c.f, c.end);
    EXPECT_EQ(run.stop, c.stop) << c.what;
    EXPECT_EQ(run.converged(), c.stop != SolverStop::kEvaluationLimit) << c.what;
    EXPECT_EQ(run.restart, c.end.restart) << c.what;
    EXPECT_EQ(run.evaluations >= 10000, c.at_limit) << c.what;
    EXPECT_FALSE(sx.y[1] > sx.y[2]) << c.what;
    EXPECT_FALSE(sx.y[1] > sx.y[3]) << c.what;
  }
}

TEST(Amoeba, StopsAtOnceOnAFlatObjectiveAndTiesGoToTheLaterVertex) {
  for (double level : {0.0, 5.0}) {
    ObjectiveFn f = [level](DRef) { return level; };
    Simplex sx(2, {{1, 2}, {3, 4}, {5, 6}}, f);
    const SolverSummary run = Amoeba(sx.rows, sx.y, 2, kTolerance, f);
    EXPECT_EQ(run.evaluations, 0) << level;
    EXPECT_EQ(run.stop, SolverStop::kValueTolerance) << level;
    // All three are equally good: the last one met becomes row 1, and the
    // old row 1 takes its place.
    EXPECT_EQ(sx.rows[1][1], 5.0) << level;
    EXPECT_EQ(sx.rows[1][2], 6.0) << level;
    EXPECT_EQ(sx.rows[3][1], 1.0) << level;
    EXPECT_EQ(sx.rows[3][2], 2.0) << level;
    EXPECT_EQ(sx.y[1], level);
  }
}

TEST(Amoeba, ACoordinateSharedByEveryVertexNeverMoves) {
  // Every vertex has coordinate 2 equal to 0, as when a starting value is 0
  // and 0 * 1.1 = 0: reflections, expansions, contractions and shrinks
  // keep it at 0 although the minimum lies at 1.
  ObjectiveFn f = [](DRef x) { return 1.0 + (x[1] - 2) * (x[1] - 2) + (x[2] - 1) * (x[2] - 1); };
  Simplex sx(2, {{0.5, 0}, {0.55, 0}, {0.5, 0}}, f);
  Amoeba(sx.rows, sx.y, 2, kTolerance, f);
  EXPECT_EQ(sx.rows[1][2], 0.0);
  EXPECT_NEAR(sx.rows[1][1], 2.0, kQuadraticPointTol);
}

TEST(SimplexTrial, MovesTheWorstVertexThroughTheOppositeFace) {
  ObjectiveFn f = [](DRef x) { return -(x[1] + x[2]); };
  Simplex sx(2, {{0, 0}, {1, 0}, {0, 1}}, f);
  DVector sums = dvector(1, 2);
  sums[1] = 1;
  sums[2] = 1;

  // Contraction halfway to the centroid of the face (0.5, 0.5): (0.25, 0.25),
  // better than the worst vertex, so it replaces it.
  double t = simplex_trial(sx.rows, sx.y, sums, 2, f, 1, 0.5);
  EXPECT_EQ(t, -0.5);
  EXPECT_EQ(sx.rows[1][1], 0.25);
  EXPECT_EQ(sx.rows[1][2], 0.25);
  EXPECT_EQ(sx.y[1], -0.5);
  EXPECT_EQ(sums[1], 1.25);
  EXPECT_EQ(sums[2], 1.25);

  // Reflection of vertex 2 (1, 0) through the centroid (0.125, 0.625) of the
  // face {(0.25, 0.25), (0, 1)}: (-0.75, 1.25) with value -0.5, worse than
  // vertex 2's -1, so nothing changes.
  t = simplex_trial(sx.rows, sx.y, sums, 2, f, 2, -1.0);
  EXPECT_EQ(t, -0.5);
  EXPECT_EQ(sx.rows[2][1], 1.0);
  EXPECT_EQ(sx.rows[2][2], 0.0);
  EXPECT_EQ(sx.y[2], -1.0);
  EXPECT_EQ(sums[1], 1.25);
  EXPECT_EQ(sums[2], 1.25);
}

TEST(SimplexTrial, ExpansionDoublesTheDistanceFromTheFace) {
  // The expansion follows a reflection that has already replaced the worst
  // vertex: factor 2 puts the trial point on the vertex's side of the face,
  // twice as far from the face centroid.
  ObjectiveFn f = [](DRef x) { return x[1] + x[2]; };
  Simplex sx(2, {{1, 1}, {2, 1}, {1, 2}}, f);
  DVector sums = dvector(1, 2);
  sums[1] = 4;
  sums[2] = 4;
  const double t = simplex_trial(sx.rows, sx.y, sums, 2, f, 1, 2.0);
  // Face centroid (1.5, 1.5); 1.5 + 2 * (1 - 1.5) = 0.5.
  EXPECT_EQ(t, 1.0);
  EXPECT_EQ(sx.rows[1][1], 0.5);
  EXPECT_EQ(sx.rows[1][2], 0.5);
  EXPECT_EQ(sx.y[1], 1.0);
  EXPECT_EQ(sums[1], 3.5);
  EXPECT_EQ(sums[2], 3.5);
}

}  // namespace
}  // namespace varnalo
