#include "model/initial_values.h"

namespace varnalo {
// Placeholder until the starting values land.
void initial_values(AnalysisState&, DRef) {}
void edit_initial_values(AnalysisState&, DRef) {}
void read_parameter_value(AnalysisState&, DRef, int) {}
}  // namespace varnalo
