// Tidy tables of one analysis as CSV, for R's read.csv, pandas and
// spreadsheets: one header line of unique column names, then one row per
// observation, fields separated by commas with none after the last, text
// quoted only where it holds a comma, a quote or a line end (RFC 4180).
// Numbers are written in full (the shortest text that reads back as the same
// double); a value the report shows as "-" or "+" is an empty field.
//
// effective_doses_csv: one row per preparation and ED level shown (a level
// shown twice, as ED50 and in the table of EDs, once), with the limits at
// 90, 95 and 99 per cent (90 and 99 empty unless they were shown).
// estimates_csv: one row per fit, form and parameter of every estimates
// table the report prints.
// Input: the results record. Output: the file's text.
#pragma once

#include <string>

#include "export/analysis_results.h"

namespace varnalo {

std::string effective_doses_csv(const AnalysisResults& r);
std::string estimates_csv(const AnalysisResults& r);

// A CSV field: the text, quoted when it must be.
std::string csv_text(const std::string& text);
// A number in full, or "" for none.
std::string csv_number(const MaybeNumber& x);

}  // namespace varnalo
