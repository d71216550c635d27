#include "export/results_csv.h"

#include <charconv>
#include <cmath>
#include <set>
#include <utility>

namespace varnalo {

namespace {

// The confidence levels in the order of the columns, as column suffixes.
constexpr struct {
  double confidence;
  const char* suffix;
} kLimitColumns[] = {{0.90, "90"}, {0.95, "95"}, {0.99, "99"}};

// Levels that print alike ("%.2f") are one level.
constexpr double kSameLevel = 5e-9;

std::string join(std::initializer_list<std::string> fields) {
  std::string line;
  bool first = true;
  for (const std::string& field : fields) {
    if (!first) line += ',';
    line += field;
    first = false;
  }
  return line;
}

const ResultLimits* limits_at(const ResultLimitRow& row, double confidence) {
  for (const ResultLimits& l : row.limits)
    if (std::fabs(l.confidence - confidence) < kSameLevel) return &l;
  return nullptr;
}

}  // namespace

std::string csv_text(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string csv_number(const MaybeNumber& x) {
  if (!x || !std::isfinite(*x)) return "";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, *x);
  return std::string(buffer, result.ptr);
}

std::string effective_doses_csv(const AnalysisResults& r) {
  std::string text =
      "analysis,preparation_number,preparation,ed_level,ed,log10_ed,log10_std_error";
  for (const auto& column : kLimitColumns)
    for (const char* name : {"lower_", "upper_", "log10_lower_", "log10_upper_"})
      text += std::string(",") + name + column.suffix;
  text += "\n";
  std::set<std::pair<long, int>> written;  // (level in 1e-8, preparation)
  for (const ResultEffectiveDoses& block : r.effective_doses) {
    for (const ResultLimitRow& row : block.rows) {
      const long level_key = std::lround(block.level / kSameLevel);
      if (!written.insert({level_key, row.preparation}).second) continue;
      std::string line = join({std::to_string(r.number), std::to_string(row.preparation),
                               csv_text(row.name), csv_number(block.level),
                               csv_number(row.value), csv_number(row.log_value),
                               csv_number(row.std_error)});
      for (const auto& column : kLimitColumns) {
        const ResultLimits* l = limits_at(row, column.confidence);
        line += ',';
        if (l)
          line += join({csv_number(l->lower), csv_number(l->upper), csv_number(l->log_lower),
                        csv_number(l->log_upper)});
        else
          line += ",,,";
      }
      text += line + "\n";
    }
  }
  return text;
}

std::string estimates_csv(const AnalysisResults& r) {
  std::string text =
      "analysis,fit,form,parameter,quantity,preparation_number,preparation,description,"
      "estimate,fixed,std_error,wald_chi2,p\n";
  for (const ResultFit& fit : r.fits)
    for (const ResultEstimatesTable& table : fit.tables)
      for (const ResultEstimate& e : table.estimates) {
        const bool of_preparation = e.preparation > 0;
        const std::string name =
            of_preparation ? r.data[static_cast<std::size_t>(e.preparation - 1)].name : "";
        text += join({std::to_string(r.number), fit.kind, table.form, csv_text(e.label),
                      e.quantity, of_preparation ? std::to_string(e.preparation) : "",
                      csv_text(name), csv_text(e.description), csv_number(e.estimate),
                      e.fixed ? "TRUE" : "FALSE", csv_number(e.std_error),
                      csv_number(e.wald_chi2), csv_number(e.p)}) +
                "\n";
      }
  return text;
}

}  // namespace varnalo
