// Tests of rigidity-matrix rows and the rank bound.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "node/node.hpp"
#include "rigidity/rigidity_row.hpp"

namespace trussel {
namespace {

std::vector<std::uint64_t> bit_patterns(const std::vector<double>& values) {
  std::vector<std::uint64_t> result;
  for (double x : values) result.push_back(std::bit_cast<std::uint64_t>(x));
  return result;
}

NodeList make_nodes(const std::vector<std::vector<double>>& points) {
  NodeList nodes;
  for (std::size_t k = 0; k < points.size(); ++k) nodes.push_back(Node{points[k], k});
  return nodes;
}

TEST(RigidityRow, WorkedRowsOfThreePoints) {
  const NodeList nodes = make_nodes({{0, 0}, {3, 4}, {1, 1}});
  const RigidityRow first = RigidityRow::make(nodes, 0, 1);
  EXPECT_EQ(bit_patterns(first.values), bit_patterns({-3, -4, 3, 4, 0, 0}));
  EXPECT_EQ(first.i, 0u);
  EXPECT_EQ(first.j, 1u);
  const RigidityRow second = RigidityRow::make(nodes, 1, 2);
  // Equal coordinates are absent here, so every zero is an untouched +0.0.
  EXPECT_EQ(bit_patterns(second.values), bit_patterns({0, 0, 2, 3, -2, -3}));
}

TEST(RigidityRow, EqualCoordinatesGivePlusZeroThenMinusZero) {
  const NodeList nodes = make_nodes({{1, 7, 2}, {5, 5, 5}, {1, 7, 9}});
  const RigidityRow row = RigidityRow::make(nodes, 0, 2);
  EXPECT_EQ(bit_patterns(row.values),
            bit_patterns({0.0, 0.0, -7.0, 0.0, 0.0, 0.0, -0.0, -0.0, 7.0}));
  const RigidityRow reversed = RigidityRow::make(nodes, 2, 0);
  EXPECT_EQ(bit_patterns(reversed.values),
            bit_patterns({-0.0, -0.0, -7.0, 0.0, 0.0, 0.0, 0.0, 0.0, 7.0}));
}

TEST(RigidityRow, SameEndpointsLeaveMinusZeroBlock) {
  const NodeList nodes = make_nodes({{1, 2}, {3, 4}});
  const RigidityRow row = RigidityRow::make(nodes, 1, 1);
  EXPECT_EQ(bit_patterns(row.values), bit_patterns({0.0, 0.0, -0.0, -0.0}));
}

TEST(RigidityRow, MixedDimensionsPanicWithEqualityMessage) {
  const NodeList nodes = make_nodes({{0, 0}, {1, 0, 0}});
  try {
    RigidityRow::make(nodes, 0, 1);
    FAIL() << "expected Panic";
  } catch (const Panic& e) {
    EXPECT_EQ(std::string(e.what()),
              "assertion `left == right` failed: Nodes must all have the same dimension\n"
              "  left: 2\n"
              " right: 3");
  }
  try {
    RigidityRow::make(nodes, 1, 0);
    FAIL() << "expected Panic";
  } catch (const Panic& e) {
    EXPECT_EQ(std::string(e.what()),
              "assertion `left == right` failed: Nodes must all have the same dimension\n"
              "  left: 3\n"
              " right: 2");
  }
}

TEST(RigidityRow, EndpointOutsideListPanics) {
  const NodeList nodes = make_nodes({{0, 0}, {1, 0}});
  EXPECT_THROW(RigidityRow::make(nodes, 0, 2), Panic);
  EXPECT_THROW(RigidityRow::make(nodes, 2, 0), Panic);
  EXPECT_THROW(RigidityRow::make({}, 0, 0), Panic);
}

TEST(RankBound, SmallValues) {
  EXPECT_EQ(max_rank(3, 2), 3u);
  EXPECT_EQ(max_rank(4, 3), 6u);
  EXPECT_EQ(max_rank(10, 2), 17u);
  EXPECT_EQ(max_rank(10, 3), 24u);
  EXPECT_EQ(max_rank(2, 2), 1u);
  EXPECT_EQ(max_rank(2, 3), 0u);
  EXPECT_EQ(max_rank(0, 0), 0u);
  EXPECT_EQ(max_rank(5, 1), 4u);
}

TEST(RankBound, ClampsAtZeroBelowRigidMotions) {
  EXPECT_EQ(max_rank(1, 2), 0u);
  EXPECT_EQ(max_rank(1, 3), 0u);
  EXPECT_EQ(max_rank(0, 2), 0u);
  EXPECT_EQ(max_rank(0, 3), 0u);
  EXPECT_EQ(max_rank(3, 5), 0u);  // 15 - 15
  EXPECT_EQ(max_rank(2, 5), 0u);  // 10 < 15
  EXPECT_EQ(max_rank(0, 1), 0u);
  EXPECT_EQ(rank_bound(1, 2), (WideCount{0, 0}));
  EXPECT_EQ(rank_bound(0, UINT64_MAX), (WideCount{0, 0}));
}

TEST(RankBound, AgreesWithFormulaOnSmallGrid) {
  for (std::uint64_t n = 0; n < 40; ++n) {
    for (std::uint64_t d = 0; d < 12; ++d) {
      const std::int64_t exact = static_cast<std::int64_t>(n * d - d * (d + 1) / 2);
      const std::uint64_t expected =
          n * d < d * (d + 1) / 2 ? 0 : static_cast<std::uint64_t>(exact);
      EXPECT_EQ(max_rank(n, d), expected) << n << ", " << d;
      EXPECT_EQ(rank_bound(n, d), (WideCount{0, expected}));
    }
  }
}

TEST(RankBound, ExactBeyondSixtyFourBits) {
  const std::uint64_t two63 = std::uint64_t{1} << 63;
  // 3 * 2^63 - 6 = 2^64 + 2^63 - 6.
  EXPECT_EQ(rank_bound(two63, 3), (WideCount{1, two63 - 6}));
  // (2^64 - 1)^2 - (2^64 - 1)(2^64) / 2 = (2^64 - 1)(2^63 - 1).
  EXPECT_EQ(rank_bound(UINT64_MAX, UINT64_MAX), (WideCount{two63 - 2, two63 + 1}));
  // n = 2^64 - 1, d = 2: 2^65 - 2 - 3 = 2^65 - 5.
  EXPECT_EQ(rank_bound(UINT64_MAX, 2), (WideCount{1, UINT64_MAX - 4}));
  // d = 2^32: d(d+1)/2 = 2^63 + 2^31; n = d + 1 gives (2^32 + 1) 2^32 - 2^63 - 2^31.
  const std::uint64_t d32 = std::uint64_t{1} << 32;
  EXPECT_EQ(rank_bound(d32 + 1, d32), (WideCount{0, two63 + (std::uint64_t{1} << 31)}));
  // Just below the rigid-motion count in the high range.
  EXPECT_EQ(rank_bound(d32 / 2, d32), (WideCount{0, 0}));
}

TEST(RankBound, MaxRankPanicsBeyondSixtyFourBits) {
  EXPECT_EQ(max_rank(UINT64_MAX / 3, 3), UINT64_MAX / 3 * 3 - 6);
  try {
    max_rank(std::uint64_t{1} << 63, 3);
    FAIL() << "expected Panic";
  } catch (const Panic& e) {
    EXPECT_EQ(std::string(e.what()), "capacity overflow");
  }
  EXPECT_THROW(max_rank(UINT64_MAX, UINT64_MAX), Panic);
}

}  // namespace
}  // namespace trussel
