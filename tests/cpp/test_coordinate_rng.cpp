// Tests of the seeded coordinate generator: exact values, wrap-around, stream
// sharing.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "batch/coordinate_rng.hpp"

namespace trussel {
namespace {

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Compares two node lists coordinate by coordinate, bit for bit, and their
// indices.
void expect_same_framework(const NodeList& a, const NodeList& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].index, b[i].index);
    ASSERT_EQ(a[i].coords.size(), b[i].coords.size());
    for (std::size_t c = 0; c < a[i].coords.size(); ++c) {
      EXPECT_EQ(bits(a[i].coords[c]), bits(b[i].coords[c])) << "node " << i << " coord " << c;
    }
  }
}

NodeList framework(std::uint64_t start, std::uint64_t n_nodes, std::uint64_t d) {
  CoordinateRng rng(start);
  return draw_framework(rng, n_nodes, d);
}

TEST(CoordinateRng, WorkedExampleSeedZeroIsBitExact) {
  const NodeList nodes = framework(0, 2, 2);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].index, 0u);
  EXPECT_EQ(nodes[1].index, 1u);
  EXPECT_EQ(bits(nodes[0].coords[0]), bits(0.3910432733574517));
  EXPECT_EQ(bits(nodes[0].coords[1]), bits(0.5084937998346272));
  EXPECT_EQ(bits(nodes[1].coords[0]), bits(3.026616613619639));
  EXPECT_EQ(bits(nodes[1].coords[1]), bits(2.0060810172013195));
  // The same values as raw bit patterns, in case the literals above were ever
  // mistyped.
  EXPECT_EQ(bits(nodes[0].coords[0]), 0x3fd906da5d9906daULL);
  EXPECT_EQ(bits(nodes[1].coords[1]), 0x40000c7434500c74ULL);
}

TEST(CoordinateRng, WorkedExampleFrameworkOneStartsFromOne) {
  const NodeList nodes = framework(1, 1, 2);
  EXPECT_EQ(bits(nodes[0].coords[0]), bits(2.116045854547072));
  EXPECT_EQ(bits(nodes[0].coords[1]), bits(2.5470372132368007));
}

TEST(CoordinateRng, FirstStepFromZeroGivesTheIncrement) {
  CoordinateRng rng(0);
  EXPECT_EQ(rng.state(), 0u);
  rng.next_coordinate();
  EXPECT_EQ(rng.state(), CoordinateRng::kIncrement);
  EXPECT_EQ(CoordinateRng::kIncrement, 0x14057B7EF767814FULL);
  EXPECT_EQ(CoordinateRng::kMultiplier, 0x5851F42D4C957F2DULL);
}

TEST(CoordinateRng, StateWrapsModulo2To64) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  CoordinateRng rng(kMax);
  rng.next_coordinate();
  // (2^64 - 1) * a + c = c - a (mod 2^64).
  EXPECT_EQ(rng.state(), CoordinateRng::kIncrement - CoordinateRng::kMultiplier);
  // Framework 1 of seed 2^64 - 1 starts from (2^64 - 1) + 1 = 0: framework 0 of
  // seed 0.
  expect_same_framework(framework(kMax + std::uint64_t{1}, 4, 2), framework(0, 4, 2));
}

TEST(CoordinateRng, FrameworkKOfSeedEqualsFrameworkKMinusOneOfNextSeed) {
  for (std::uint64_t seed : {std::uint64_t{0}, std::uint64_t{41}, std::uint64_t{1} << 63}) {
    for (std::uint64_t k = 1; k < 4; ++k) {
      expect_same_framework(framework(seed + k, 5, 3), framework((seed + 1) + (k - 1), 5, 3));
    }
  }
}

TEST(CoordinateRng, ThreeDimensionsConsumeTheSameStream) {
  const NodeList flat = framework(7, 6, 2);
  const NodeList deep = framework(7, 4, 3);
  std::vector<double> flat_values;
  for (const Node& node : flat)
    flat_values.insert(flat_values.end(), node.coords.begin(), node.coords.end());
  std::size_t position = 0;
  for (const Node& node : deep) {
    ASSERT_EQ(node.coords.size(), 3u);
    for (double x : node.coords) EXPECT_EQ(bits(x), bits(flat_values[position++]));
  }
  // Spelled out for node 0: its third coordinate is node 1's first in two
  // dimensions.
  EXPECT_EQ(bits(deep[0].coords[2]), bits(flat[1].coords[0]));
}

TEST(CoordinateRng, DrawFrameworkMatchesSuccessiveDraws) {
  CoordinateRng single(123);
  CoordinateRng grouped(123);
  const NodeList nodes = draw_framework(grouped, 3, 3);
  for (const Node& node : nodes) {
    for (double x : node.coords) EXPECT_EQ(bits(x), bits(single.next_coordinate()));
  }
  EXPECT_EQ(grouped.state(), single.state());
}

TEST(CoordinateRng, LargestCoordinateIsJustBelowFive) {
  // This start steps to the state 2^64 - 1, whose 31 high bits are all set.
  CoordinateRng top(0xd8fdc62eeeb52770ULL);
  const double largest = top.next_coordinate();
  EXPECT_EQ(top.state(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(bits(largest), bits(4.999999998835847));
  EXPECT_EQ(bits(largest), 0x4013ffffffec0000ULL);
  EXPECT_LT(largest, 5.0);
  // And this one steps to a state whose 31 high bits are all clear.
  CoordinateRng bottom(0x3e3a1778eeb52770ULL);
  EXPECT_EQ(bits(bottom.next_coordinate()), bits(0.0));
}

TEST(CoordinateRng, DividesBeforeScaling) {
  // The eighth draw of seed 0 is 1.7798970806831256; scaling u by one
  // precomputed factor 10 / (2^32 - 1) would give 1.7798970806831254.
  CoordinateRng rng(0);
  double eighth = 0.0;
  for (int i = 0; i < 8; ++i) eighth = rng.next_coordinate();
  EXPECT_EQ(bits(eighth), 0x3ffc7a755c7c7a76ULL);
  EXPECT_EQ(bits(eighth), bits(1.7798970806831256));
}

TEST(CoordinateRng, CoordinatesStayInRange) {
  CoordinateRng rng(0x0123456789abcdefULL);
  for (int i = 0; i < 100000; ++i) {
    const double x = rng.next_coordinate();
    EXPECT_FALSE(std::signbit(x));
    ASSERT_LE(x, 4.999999998835847);
  }
}

TEST(CoordinateRng, EmptyFrameworks) {
  CoordinateRng rng(5);
  EXPECT_TRUE(draw_framework(rng, 0, 2).empty());
  EXPECT_EQ(rng.state(), 5u);
  const NodeList dimensionless = draw_framework(rng, 3, 0);
  ASSERT_EQ(dimensionless.size(), 3u);
  EXPECT_TRUE(dimensionless[2].coords.empty());
  EXPECT_EQ(dimensionless[2].index, 2u);
  EXPECT_EQ(rng.state(), 5u);
}

}  // namespace
}  // namespace trussel
