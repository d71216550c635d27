#include "data/listing.h"

namespace varnalo {
void list_data(AnalysisState&) {}
void list_preparation(AnalysisState&, int) {}
void print_configuration(AnalysisState&) {}
}  // namespace varnalo
