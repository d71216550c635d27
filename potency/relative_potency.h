// Relative potency of every preparation against a chosen reference.
//
// With a common slope b the log10 relative potency of preparation j against
// reference S is M_j = (a_j - a_S) / b, and Rho_j = 10^M_j. For each
// reference S the session is given (rp_reference), the stage prints the
// delta-method variances of M_j and the potencies with Fieller limits
// (screen and report). Results stay in rp_log, rp_var, rp_lower, rp_upper
// for the TABLE.TXT record; they hold the potencies against preparation 1
// from the start, so the record has real values even when no reference was
// given. With one preparation there are no references and the results are
// all 0.
// When the slope is 0 or the potencies are not finite, each table keeps its
// heading and shows one notice line in place of its rows.
#pragma once

#include "foundation/pauses.h"
#include "foundation/state.h"

namespace varnalo {

// The potencies against preparation 1 (all 0 with one preparation);
// rp_reference = 1.
void begin_relative_potencies(AnalysisState& s);
// The potencies against rp_reference, computed and shown.
void show_relative_potencies(AnalysisState& s, Pauses& pauses);

// Fills rp_log, rp_var and the limits at the three confidence levels for
// reference preparation `reference`, with the deviates in conf_deviates.
void compute_relative_potencies(AnalysisState& s, int reference);

}  // namespace varnalo
