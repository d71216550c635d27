#include "fit/edition.h"

#include "fit/fit_driver.h"
#include "fit/simplex.h"

namespace varnalo {

const Edition kVariableMetricEdition = {
    "Varnalo", "DFP", "a variable-metric (Davidon-Fletcher-Powell) maximiser", &fit_model, false,
    true};
const Edition kSimplexEdition = {"VarnaloNM", "NelderMead", "the Nelder-Mead downhill simplex",
                                 &fit_model_simplex, true, false};

}  // namespace varnalo
