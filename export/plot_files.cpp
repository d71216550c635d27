#include "export/plot_files.h"

namespace varnalo {
// Placeholder until the plot files land.
void write_sigmoid_file(AnalysisState&) {}
void write_linear_file(AnalysisState&) {}
}  // namespace varnalo
