// Tests of the sparse elimination's pivot choice, which Python cannot observe.
#include <gtest/gtest.h>

#include <cstdint>
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
  EXPECT_TRUE(add(e, {0, 1}, {1.0, 0.004}));  // column 1 is below the threshold
  EXPECT_TRUE(add(e, {2, 3}, {0.6, 1.0}));    // both eligible and empty: the smaller priority
  EXPECT_TRUE(add(e, {1, 4}, {1.0, 0.9}));    // column 1 holds a stored entry, column 4 none
  EXPECT_EQ(e.pivot_columns(), (std::vector<std::uint32_t>{0, 3, 4}));
  EXPECT_FALSE(add(e, {0, 1}, {2.0, 0.008}));  // twice the first row
  EXPECT_EQ(e.rank(), 3u);
  EXPECT_THROW(add(e, {1, 1}, {1.0, 1.0}), Panic);
  EXPECT_THROW(add(e, {5}, {1.0}), Panic);
}

}  // namespace
}  // namespace trussel
