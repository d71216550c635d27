#include "fit/edition.h"

#include "fit/fit_driver.h"
#include "fit/simplex.h"

namespace varnalo {

const Edition kVariableMetricEdition = {"Varnalo", "DFP", &fit_model, false, true};
const Edition kSimplexEdition = {"VarnaloNM", "NelderMead", &fit_model_simplex, true, false};

}  // namespace varnalo
