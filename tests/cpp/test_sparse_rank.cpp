// Tests of the sparse elimination: pivot choice, zero test, and the solve in the accepted rows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/errors.hpp"
#include "graph/sparse_rank.hpp"

namespace trussel {
namespace {

bool add(SparseRankEliminator& e, std::vector<std::uint32_t> cols, std::vector<double> values) {
  return e.add_row(cols.data(), values.data(), cols.size());
}

TEST(SparseRankEliminator, PivotIsTheSparsestColumnWithinTheThresholdThenThePriority) {
  SparseRankEliminator e(5, 1e-9, {0, 0, 9, 8, 9});
  EXPECT_TRUE(add(e, {0, 1}, {1.0, 0.4}));  // column 1 is below half the largest entry
  EXPECT_TRUE(add(e, {2, 3}, {0.6, 1.0}));  // both eligible and empty: the smaller priority
  EXPECT_TRUE(add(e, {1, 4}, {1.0, 0.9}));  // column 1 holds a stored entry, column 4 none
  EXPECT_EQ(e.pivot_columns(), (std::vector<std::uint32_t>{0, 3, 4}));
  EXPECT_FALSE(add(e, {0, 1}, {2.0, 0.8}));  // twice the first row
  EXPECT_EQ(e.rank(), 3u);
}

TEST(SparseRankEliminator, RemaindersAtOrBelowTheToleranceOrNaNAreDependent) {
  SparseRankEliminator e(2, 1e-9, {});
  EXPECT_TRUE(add(e, {0}, {1.0}));
  EXPECT_FALSE(add(e, {0, 1}, {1.0, 1e-9}));
  EXPECT_TRUE(add(e, {0, 1}, {1.0, 2e-9}));
  SparseRankEliminator nan_tol(1, std::numeric_limits<double>::quiet_NaN(), {});
  EXPECT_FALSE(add(nan_tol, {0}, {1.0}));
  EXPECT_THROW(add(e, {1, 1}, {1.0, 1.0}), Panic);
  EXPECT_THROW(add(e, {2}, {1.0}), Panic);
}

TEST(SparseRankEliminator, SpanCoefficientsRebuildACombinationOfTheOfferedRows) {
  SparseRankEliminator e(5, 1e-12, {});
  const std::vector<std::vector<double>> rows = {
      {1, -1, 0, 0, 0}, {0, 2, 0, -3, 0}, {1, 1, 0, -3, 0}, {0, 0, 4, 1, 1}, {3, 0, 1, 0, -2}};
  for (const std::vector<double>& row : rows) {
    EXPECT_EQ(add(e, {0, 1, 2, 3, 4}, row), &row != &rows[2]);  // row 2 = row 0 + row 1
  }
  const std::vector<double> weights = {0.5, -2.0, 3.0, 1.5};
  std::vector<double> target(5, 0.0);
  const std::vector<std::size_t> accepted = {0, 1, 3, 4};
  for (std::size_t k = 0; k < 4; ++k) {
    for (std::size_t c = 0; c < 5; ++c) target[c] += weights[k] * rows[accepted[k]][c];
  }
  const std::vector<double> b = e.span_coefficients(target);
  ASSERT_EQ(b.size(), 4u);
  for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(b[k], weights[k], 1e-12);
  EXPECT_THROW(e.span_coefficients({1.0}), Panic);
}

}  // namespace
}  // namespace trussel
