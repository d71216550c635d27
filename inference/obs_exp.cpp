#include "inference/obs_exp.h"

namespace varnalo {
// Placeholder until the frequencies land.
void print_obs_exp(AnalysisState&) {}
void print_obs_exp_prep(AnalysisState&, int) {}
}  // namespace varnalo
