#include "potency/natural_rates.h"

namespace varnalo {
// Placeholder until the natural rates land.
void natural_rates_report(AnalysisState&) {}
}  // namespace varnalo
