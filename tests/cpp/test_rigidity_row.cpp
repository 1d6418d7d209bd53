// Tests of rigidity-matrix rows and of the 64-bit rank bound.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "rigidity/rigidity_row.hpp"
#include "test_util.hpp"

namespace trussel {
namespace {

std::vector<std::uint64_t> bit_patterns(const std::vector<double>& values) {
  std::vector<std::uint64_t> result;
  for (double x : values) result.push_back(bits(x));
  return result;
}

TEST(RigidityRow, EqualCoordinatesGivePlusZeroThenMinusZero) {
  const NodeList nodes = make_nodes({{1, 7, 2}, {5, 5, 5}, {1, 7, 9}});
  const RigidityRow row = RigidityRow::make(nodes, 0, 2);
  EXPECT_EQ(row.i, 0u);
  EXPECT_EQ(row.j, 2u);
  EXPECT_EQ(bit_patterns(row.values), bit_patterns({0.0, 0.0, -7.0, 0, 0, 0, -0.0, -0.0, 7.0}));
  EXPECT_EQ(bit_patterns(RigidityRow::make(nodes, 2, 0).values),
            bit_patterns({-0.0, -0.0, -7.0, 0, 0, 0, 0.0, 0.0, 7.0}));
  // The same endpoint twice: node j's block, written last, wins.
  EXPECT_EQ(bit_patterns(RigidityRow::make(nodes, 1, 1).values),
            bit_patterns({0, 0, 0, -0.0, -0.0, -0.0, 0, 0, 0}));
}

TEST(RigidityRow, RefusesMixedDimensionsAndForeignEndpoints) {
  const NodeList nodes = make_nodes({{0, 0}, {1, 0, 0}});
  const char* kMessage = "assertion `left == right` failed: Nodes must all have the same dimension";
  EXPECT_PANIC(RigidityRow::make(nodes, 0, 1), std::string(kMessage) + "\n  left: 2\n right: 3");
  EXPECT_PANIC(RigidityRow::make(nodes, 1, 0), std::string(kMessage) + "\n  left: 3\n right: 2");
  EXPECT_THROW(RigidityRow::make(nodes, 0, 2), Panic);
  EXPECT_THROW(RigidityRow::make({}, 0, 0), Panic);
}

TEST(RankBound, MaxRankRefusesBoundsBeyondSixtyFourBits) {
  EXPECT_EQ(max_rank(UINT64_MAX / 3, 3), UINT64_MAX / 3 * 3 - 6);
  EXPECT_PANIC(max_rank(std::uint64_t{1} << 63, 3), "capacity overflow");
}

}  // namespace
}  // namespace trussel
