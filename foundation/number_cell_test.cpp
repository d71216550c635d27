#include "foundation/number_cell.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace varnalo {
namespace {

TEST(FixedCell, KeepsFittingValuesAndFallsBackToExponentWithinTheWidth) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    int width, precision, gap;
    std::string cell;
  } cases[] = {
      // Values that fit: the fixed form, byte for byte.
      {68.0090765, 14, 7, 1, "    68.0090765"},
      {-2.8874633, 13, 7, 1, "   -2.8874633"},
      {0.0, 12, 6, 0, "    0.000000"},
      {-0.25, 8, 5, 0, "-0.25000"},                 // exactly the width, no gap needed
      {99999.9133045, 14, 7, 1, " 99999.9133045"},  // exactly width - gap
      {inf, 12, 7, 1, "         inf"},
      // Too wide by the gap only: a Wald chi-square of 100,000 or more.
      {210888.9133045, 14, 7, 1, " 2.1088891e+05"},
      {-210888.9133045, 14, 7, 1, " -2.108889e+05"},
      {210888.9133045, 14, 7, 0, "210888.9133045"},  // behind a literal separator it fits
      // Far too wide, both signs, and an exponent of three digits.
      {3.2090815492734442e59, 12, 7, 1, " 3.20908e+59"},
      {-3.2090815492734442e59, 12, 7, 1, " -3.2091e+59"},
      {2.2e250, 13, 7, 1, " 2.20000e+250"},
      {-1.5e-300, 13, 7, 1, "   -0.0000000"},     // tiny values fit as zeros
      {123.456789, 8, 6, 0, "1.23e+02"},
      {-123.456789, 8, 5, 0, "-1.2e+02"},
      // No exponent form fits four columns: the fixed form as it is.
      {123456.0, 4, 0, 0, "123456"},
  };
  for (const auto& c : cases) {
    const std::string cell = fixed_cell(c.value, c.width, c.precision, c.gap);
    EXPECT_EQ(cell, c.cell) << c.value << " in " << c.width;
    // Whatever the value, a cell never takes fewer columns than its width.
    EXPECT_GE(cell.size(), static_cast<std::size_t>(c.width)) << c.value;
  }
}

TEST(FixedCell, ExponentFormRoundTripsToTheValueItShows) {
  // The exponent form keeps as many digits as the room allows.
  const std::string cell = fixed_cell(-32090.815492734441, 12, 7, 1);
  EXPECT_EQ(cell, " -3.2091e+04");
  EXPECT_NEAR(std::stod(cell), -32090.8, 0.5);
}

}  // namespace
}  // namespace varnalo
