// What one run of a numerical routine did, in the manner of a solver
// summary: why it stopped, and how much work it took. The routines print
// nothing; the session turns a record into the lines of the report.
//
// A run has converged when it stopped on one of its convergence tests. A
// line search that finds no decrease stops a run where it stands: that end
// point is not verified (it may lie short of the minimum), and the check of
// the maximum is told so.
#pragma once

namespace varnalo {

enum class SolverStop {
  kStepTolerance,      // converged: the relative step fell below the tolerance
  kGradientTolerance,  // converged: the scaled gradient fell below the tolerance
  kValueTolerance,     // converged: the simplex's values agree to the fractional tolerance
  kWithinNoise,        // converged: the simplex's values agree within the objective's rounding
  kLineSearchFailed,   // no decrease along the search direction: end point unverified
  kIterationLimit,     // the iteration limit was reached
  kEvaluationLimit,    // the evaluation limit was reached
};

struct SolverSummary {
  SolverStop stop = SolverStop::kStepTolerance;
  int iterations = 0;
  // Objective evaluations (the simplex: as its limit counts them) and
  // gradient evaluations.
  int evaluations = 0;
  int gradient_evaluations = 0;
  // The run restarted the simplex from the best vertex of an earlier run.
  bool restart = false;

  bool converged() const {
    return stop == SolverStop::kStepTolerance || stop == SolverStop::kGradientTolerance ||
           stop == SolverStop::kValueTolerance || stop == SolverStop::kWithinNoise;
  }
};

}  // namespace varnalo
