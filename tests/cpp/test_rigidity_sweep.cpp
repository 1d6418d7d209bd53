// The rigidity sweep with 32-bit and 64-bit internal indices, and its cluster bookkeeping on
// hand-made bar sequences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "common/edge.hpp"
#include "graph/rigid_components.hpp"
#include "graph/rigidity_sweep.hpp"

namespace trussel {
namespace {

void expect_same(const RigiditySweepResult& a, const RigiditySweepResult& b) {
  EXPECT_EQ(a.independent, b.independent);
  EXPECT_EQ(a.largest_bars, b.largest_bars);
  EXPECT_EQ(a.largest_nodes, b.largest_nodes);
  EXPECT_EQ(a.n_clusters, b.n_clusters);
  EXPECT_EQ(a.component, b.component);
  EXPECT_EQ(a.rank, b.rank);
}

// The bonds of the periodic triangular lattice of size x size sites, shuffled.
std::vector<Edge> shuffled_lattice(std::uint64_t size, std::mt19937_64& rng) {
  std::vector<Edge> bonds;
  for (std::uint64_t x = 0; x < size; ++x) {
    for (std::uint64_t y = 0; y < size; ++y) {
      const std::uint64_t site = x * size + y;
      bonds.push_back({site, ((x + 1) % size) * size + y});
      bonds.push_back({site, x * size + (y + 1) % size});
      bonds.push_back({site, ((x + 1) % size) * size + (y + size - 1) % size});
    }
  }
  std::shuffle(bonds.begin(), bonds.end(), rng);
  return bonds;
}

TEST(RigiditySweep, BothIndexWidthsAgreeWithEachOtherAndWithRigidComponents) {
  std::mt19937_64 rng(5);
  for (std::uint64_t size : {4, 9, 16, 30}) {
    const std::vector<Edge> bonds = shuffled_lattice(size, rng);
    const RigiditySweepResult narrow = sweep_rigidity_with_width(size * size, bonds, false);
    const RigiditySweepResult wide = sweep_rigidity_with_width(size * size, bonds, true);
    expect_same(narrow, wide);
    expect_same(narrow, sweep_rigidity(size * size, bonds));
    const RigidComponentsResult whole = find_rigid_components(size * size, bonds);
    EXPECT_EQ(narrow.independent, whole.independent);
    EXPECT_EQ(narrow.component, whole.component);
    EXPECT_EQ(narrow.rank, whole.rank);
    EXPECT_EQ(narrow.rank, 2 * size * size - 3);  // the full lattice is rigid
    EXPECT_EQ(narrow.n_clusters.back(), 1);
  }
}

TEST(RigiditySweep, ClustersMergeOnlyThroughTheNewBar) {
  // Two rigid triangles joined at node 2, then a floppy chain 5-6-7 hanging from node 4; the bar
  // 0-4 makes the bowtie rigid but leaves the chain's two bars apart.
  const std::vector<Edge> bars = {{0, 1}, {1, 2}, {2, 0}, {2, 3}, {3, 4},
                                  {4, 2}, {4, 5}, {5, 6}, {0, 4}};
  const RigiditySweepResult result = sweep_rigidity(7, bars);
  EXPECT_EQ(result.n_clusters, (std::vector<std::int64_t>{1, 2, 1, 2, 3, 2, 3, 4, 3}));
  EXPECT_EQ(result.largest_bars, (std::vector<std::int64_t>{1, 1, 3, 3, 3, 3, 3, 3, 7}));
  EXPECT_EQ(result.largest_nodes, (std::vector<std::int64_t>{2, 2, 3, 3, 3, 3, 3, 3, 5}));
  EXPECT_EQ(result.component, (std::vector<std::int64_t>{0, 0, 0, 0, 0, 0, 1, 2, 0}));
}

TEST(RigiditySweep, UntouchedNodesAreDroppedWithEitherWidth) {
  const std::uint64_t n = std::uint64_t{1} << 40;
  const std::vector<Edge> bars = {{n - 1, 7}, {7, 1 << 20}, {1 << 20, n - 1}, {n - 1, 3}};
  const RigiditySweepResult narrow = sweep_rigidity_with_width(n, bars, false);
  expect_same(narrow, sweep_rigidity_with_width(n, bars, true));
  EXPECT_EQ(narrow.largest_nodes, (std::vector<std::int64_t>{2, 2, 3, 3}));
  EXPECT_EQ(narrow.component, (std::vector<std::int64_t>{0, 0, 0, 1}));
}

}  // namespace
}  // namespace trussel
