// Relative potency of every preparation against a chosen reference.
//
// With a common slope b the log10 relative potency of preparation j against
// reference S is M_j = (a_j - a_S) / b, and Rho_j = 10^M_j. The dialogue
// lets the user pick S, then prints the delta-method variances of M_j and
// the potencies with Fieller limits (screen and report), until "q".
// Results stay in rp_log, rp_var, rp_lower, rp_upper for the TABLE.TXT
// record; they hold the potencies against preparation 1 from the start of
// the stage, so the record has real values even when nothing was asked.
// With one preparation there is no dialogue and the results are all 0.
// When the slope is 0 or the potencies are not finite, each table keeps its
// heading and shows one notice line in place of its rows.
#pragma once

#include "foundation/state.h"

namespace varnalo {

void relative_potency_dialogue(AnalysisState& s);

// Fills rp_log, rp_var and the limits at the three confidence levels for
// reference preparation `reference`, with the deviates in conf_deviates.
void compute_relative_potencies(AnalysisState& s, int reference);

}  // namespace varnalo
