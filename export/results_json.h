// The results of one analysis as a JSON document (nlohmann-json), for other
// programs: the settings, the data as analysed, both fits with their
// estimates, standard errors, Wald tests and covariance matrices, the
// goodness-of-fit tests, the deviates, the effective doses, the relative
// potencies, the natural rates and the notes. The field list is in the
// README ("Results for other programs").
// Numbers are written in full (the shortest text that reads back as the same
// double); a value the report shows as "-" or "+" is null. Keys keep the
// order of the report.
// Input: the results record and the names of the files written beside it.
// Output: the document's text, ending with a line end.
#pragma once

#include <string>

#include "export/analysis_results.h"

namespace varnalo {

// The version of the document's layout, written as "format_version"; it
// grows when a field changes meaning or goes (added fields keep it).
inline constexpr int kResultsFormatVersion = 1;

struct ResultFileNames {
  std::string json, effective_doses, estimates;
};

std::string results_json(const AnalysisResults& r, const ResultFileNames& files);

}  // namespace varnalo
