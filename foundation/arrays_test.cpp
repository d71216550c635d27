#include "foundation/arrays.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/process.h"
#include "support/harness.h"

namespace varnalo {
namespace {

TEST(Arrays, VectorsCoverExactlyTheirBounds) {
  DVector v = dvector(1, 1);
  v[1] = 2.5;
  EXPECT_EQ(v[1], 2.5);
  IVector w = ivector(-2, 3);
  for (int i = -2; i <= 3; ++i) w[i] = i * 10;
  EXPECT_EQ(w[-2], -20);
  EXPECT_EQ(w[3], 30);
  ivector_free(w, -2, 3);
  EXPECT_FALSE(w.allocated());
}

TEST(Arrays, MatrixRowsLieOneAfterAnother) {
  Matrix m = matrix(0, 3, 1, 3);
  ASSERT_EQ(m.size(), 12u);
  for (int i = 0; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) m[i][j] = i * 3 + (j - 1);
  const double* run = m.data();
  for (int k = 0; k < 12; ++k) EXPECT_EQ(run[k], k) << "element " << k << " of the block";
}

TEST(Arrays, TensorRecordsAndHandleExchange) {
  D3Tensor t = d3tensor(0, 1, 0, 1, 0, 4);
  for (int i = 0; i <= 1; ++i)
    for (int j = 0; j <= 1; ++j)
      for (int k = 0; k <= 4; ++k) t[i][j][k] = 100 * i + 10 * j + k;
  EXPECT_EQ(t[1][1][4], 114);
  t.exchange_records(1, 0);
  EXPECT_EQ(t[1][0][3], 113);
  EXPECT_EQ(t[1][1][3], 103);
  EXPECT_EQ(t[0][1][2], 12) << "other rows keep their records";
}

TEST(Arrays, AllocationsStartCleared) {
  DVector v = dvector(1, 5);
  Matrix m = matrix(1, 2, 1, 2);
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(v[i], 0.0);
  EXPECT_EQ(m[2][2], 0.0);
}

#ifdef VARNALO_BOUNDS_CHECK
TEST(ArraysDeathTest, DebugBuildsCatchIndicesOutsideTheBounds) {
  DVector v = dvector(1, 3);
  Matrix m = matrix(1, 2, 1, 2);
  D3Tensor t = d3tensor(1, 1, 0, 2, 1, 4);
  EXPECT_DEATH(v[0] = 1, "index 0 outside the allocated range 1..3");
  EXPECT_DEATH(v[4] = 1, "index 4 outside");
  EXPECT_DEATH(m[1][3] = 1, "index 3 outside the allocated range 1..2");
  EXPECT_DEATH(m[3][1] = 1, "index 3 outside");
  EXPECT_DEATH(t[1][3][1] = 1, "index 3 outside the allocated range 0..2");
  EXPECT_DEATH(t[1][0][5] = 1, "index 5 outside the allocated range 1..4");
}
#endif

TEST(FatalError, WritesThreeLinesAndEndsWithStatusOne) {
  std::string errors;
  ErrorSink previous = set_error_sink([&](std::string_view text) { errors.append(text); });
  const int status =
      testing::run_end_status([] { fatal_error("allocation failure 2 in matrix()"); });
  set_error_sink(previous);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(errors,
            "Numerical Recipes run-time error...\n"
            "allocation failure 2 in matrix()\n"
            "...now exiting to system...\n");
}

}  // namespace
}  // namespace varnalo
