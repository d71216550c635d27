#include "potency/effective_dose.h"

namespace varnalo {
// Placeholder until the potency stage lands.
void potency_stage(AnalysisState&) {}
void compute_deviates(const AnalysisState&, DRef, DRef) {}
void effective_dose_dialogue(AnalysisState&) {}
void print_limits_rows(AnalysisState&, int, DRef, const Matrix&, const Matrix&) {}
}  // namespace varnalo
