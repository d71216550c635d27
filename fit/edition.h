// What differs between the two programs built from this source tree: their
// names and their fit step.
//
// The fit step prints its heading, maximises from the given start (entries
// 1..nprep+nslopes+2), checks the maximum, and leaves params, max_loglik,
// lr_chi2, iterations (and, for the variable-metric fit, fit_cov) in the
// state; it returns the records of its routines and prints nothing else.
#pragma once

#include "fit/fit_result.h"
#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

struct Edition {
  // Name in the banner and in the screen heading of every analysis.
  const char* program_name;
  // Algorithm name written to TABLE.TXT and the plot files.
  const char* algorithm_name;
  // The maximiser in words, for the usage of --help.
  const char* maximiser;
  FitResult (*fit)(AnalysisState& s, DRef start);
  // True when the fit leaves no covariance matrix: the inverse information
  // matrix is then copied into fit_cov after every fit.
  bool fit_cov_from_info;
  // True when a blank line closes the fit's block after the maximiser's
  // messages whether or not the check of the maximum said anything (the
  // simplex's heading carries its own blank line).
  bool blank_line_after_fit;
};

extern const Edition kVariableMetricEdition;  // Varnalo
extern const Edition kSimplexEdition;         // VarnaloNM

}  // namespace varnalo
