// Tests of the rigidity simulation: the fast path against the edge-by-edge procedure on random
// frameworks, and the checks of run_simulation.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "rigidity/rigidity_row.hpp"
#include "simulation/simulation.hpp"
#include "test_util.hpp"

namespace trussel {
namespace {

// Every pair (i, j), i < j, listed by two nested loops.
std::vector<Edge> all_pairs(std::uint64_t n) {
  std::vector<Edge> pairs;
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = i + 1; j < n; ++j) pairs.push_back({i, j});
  }
  return pairs;
}

TEST(Simulation, FastPathAgreesWithEdgeByEdgeOnRandomFrameworks) {
  // Frameworks on a small integer grid often defeat the fast path, those in general position
  // rarely do.
  std::mt19937_64 rng(314159);
  std::uniform_int_distribution<int> grid(0, 2);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int taken = 0;
  int declined = 0;
  for (int trial = 0; trial < 400; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const std::uint64_t d = 2 + static_cast<std::uint64_t>(trial % 2);
    const std::uint64_t n = d + 1 + rng() % 9;
    std::vector<std::vector<double>> points(n, std::vector<double>(d));
    for (auto& point : points) {
      for (double& x : point) x = trial % 3 == 0 ? grid(rng) : unit(rng);
    }
    const NodeList nodes = make_nodes(points);
    const std::uint64_t bound = max_rank(n, d);
    const Labelling slow = label_edge_by_edge(nodes, d, 1e-9, bound);
    const std::vector<Edge> pairs = all_pairs(n);
    ASSERT_EQ(slow.labels.size(), pairs.size());
    std::vector<Edge> ones;
    std::uint64_t first_ones = 0;
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      if (slow.labels[k] == 1) ones.push_back(pairs[k]);
      if (k < bound) first_ones += slow.labels[k];
    }
    EXPECT_EQ(slow.accepted_edges, ones);
    EXPECT_EQ(slow.final_rank, ones.size());
    EXPECT_LE(slow.final_rank, bound);

    const std::optional<Labelling> fast = run_fast_path(nodes, d, 1e-9, bound);
    // The fast path succeeds exactly when the first max_rank candidates are all independent.
    ASSERT_EQ(fast.has_value(), first_ones == bound);
    if (fast) {
      ++taken;
      EXPECT_EQ(fast->labels, slow.labels);
      EXPECT_EQ(fast->accepted_edges, slow.accepted_edges);
      EXPECT_EQ(fast->final_rank, slow.final_rank);
    } else {
      ++declined;
    }
    const SimulationResult full = run_simulation(nodes, d, 1e-9);
    EXPECT_EQ(full.labels, slow.labels);
    EXPECT_EQ(full.edges, pairs);
    EXPECT_EQ(full.is_rigid, slow.final_rank == bound);
  }
  EXPECT_GT(taken, 50);
  EXPECT_GT(declined, 50);
}

TEST(Simulation, RunSimulationChecksInOrder) {
  EXPECT_PANIC(run_simulation({}, 5, 1e-9), "Node list must not be empty");
  EXPECT_PANIC(run_simulation(make_nodes({{0, 0, 0, 0}}), 4, 1e-9),
               "Only d=2 and d=3 are supported");
  EXPECT_PANIC(run_simulation(make_nodes({{0, 0}, {1, 0, 0}, {0, 1}}), 2, 1e-9),
               "All nodes must have dimension d=2");
  EXPECT_PANIC(distance_matrix(make_nodes({{0, 0}, {1, 0, 0}})),
               "assertion `left == right` failed: Nodes must all have the same dimension\n"
               "  left: 2\n right: 3");
  // Two nodes in 3-D: the bound is 0, yet the first candidate is tested; the fast path declines.
  const NodeList pair = make_nodes({{0, 0, 0}, {1, 2, 3}});
  EXPECT_EQ(run_simulation(pair, 3, 1e-9).labels, std::vector<std::uint8_t>{1});
  EXPECT_FALSE(run_fast_path(pair, 3, 1e-9, 0).has_value());
}

}  // namespace
}  // namespace trussel
