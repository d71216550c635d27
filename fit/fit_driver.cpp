#include "fit/fit_driver.h"

namespace varnalo {
// Placeholder until the fit driver lands.
void fit_model(AnalysisState&) {}
}  // namespace varnalo
