#include "fit/fit_result.h"

#include "foundation/output.h"

namespace varnalo {

void report_maximum_loglik(AnalysisState& s) {
  both(s, "The Maximum Log-Likelihood\n  ^L =%13.7lf    Iterations : %d\n\n", s.max_loglik,
       s.iterations);
}

}  // namespace varnalo
