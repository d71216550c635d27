// The model menus of every analysis: the distribution menu, and the model
// menu with its known-C prompt, drawn from the table of model forms
// (model/model_form.h). Screen only.
// Inputs: answer lines from the console. Outputs: distribution, model and
// fixed_c in the state.
#pragma once

#include "foundation/state.h"

namespace varnalo {

// Distribution and model menus (with the known-C prompt).
void ask_distribution_and_model(AnalysisState& s);

}  // namespace varnalo
