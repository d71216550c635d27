// The dialogue that shows the starting values of a fit and lets the user
// edit them: "Edit Initial Values?" ("y" to edit), then one prompt per
// fitted entry in table order (Enter keeps a value; 0 is stored as 0.0001,
// and a value that is not a finite number as 0.0001 too), "Edit again?"
// until any other answer. The table of values goes to the screen before the
// first pass, and to the report before and after the editing (with the known
// C of the forms that have one), each report table ending with a form feed.
// Inputs: answer lines from the console, the labels and names of the fit in
// hand. Output: the edited values in place.
#pragma once

#include "foundation/arrays.h"
#include "foundation/state.h"

namespace varnalo {

void edit_initial_values(AnalysisState& s, DRef p);
// One value typed at an edit prompt into p[index] (Enter keeps it).
void read_parameter_value(AnalysisState& s, DRef p, int index);

}  // namespace varnalo
