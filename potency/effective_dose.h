// The potency stage: deviates and g, the 90/99 question, the effective-dose
// dialogue with Fieller limits; then relative potency and the summary record.
#pragma once

#include "driver/arrays.h"
#include "driver/state.h"

namespace varnalo {

void potency_stage(AnalysisState& s);
// deviates[1..3] for the two-tailed probabilities alpha[1..3].
void compute_deviates(const AnalysisState& s, DRef alpha, DRef deviates);
void effective_dose_dialogue(AnalysisState& s);
void print_limits_rows(AnalysisState& s, int k, DRef log_estimates, const Matrix& lower,
                       const Matrix& upper);

}  // namespace varnalo
