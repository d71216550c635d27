#include "potency/relative_potency.h"

namespace varnalo {
// Placeholder until relative potency lands.
void relative_potency_dialogue(AnalysisState&) {}
}  // namespace varnalo
