#include "foundation/number_cell.h"

#include "foundation/output.h"

namespace varnalo {

namespace {

// More significant digits than a double holds add nothing to a cell.
constexpr int kMostExponentDecimals = 16;

}  // namespace

std::string fixed_cell(double value, int width, int precision, int gap) {
  const std::string fixed = strprintf("%.*f", precision, value);
  const int room = width - gap;
  if (static_cast<int>(fixed.size()) <= room) return strprintf("%*s", width, fixed.c_str());
  for (int decimals = kMostExponentDecimals; decimals >= 0; --decimals) {
    const std::string exponent = strprintf("%.*e", decimals, value);
    if (static_cast<int>(exponent.size()) <= room) return strprintf("%*s", width, exponent.c_str());
  }
  return strprintf("%*s", width, fixed.c_str());
}

}  // namespace varnalo
