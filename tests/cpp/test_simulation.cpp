// Tests of the rigidity simulation: worked frameworks through both paths, the fast path against
// the edge-by-edge procedure, run_simulation checks and the candidate order.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/edge.hpp"
#include "common/errors.hpp"
#include "node/node.hpp"
#include "rank/incremental_rank_checker.hpp"
#include "rigidity/rigidity_row.hpp"
#include "simulation/simulation.hpp"

namespace trussel {
namespace {

using Labels = std::vector<std::uint8_t>;
using Edges = std::vector<Edge>;

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

NodeList make_nodes(const std::vector<std::vector<double>>& points) {
  NodeList nodes;
  for (std::size_t k = 0; k < points.size(); ++k) nodes.push_back(Node{points[k], k});
  return nodes;
}

// Every pair (i, j), i < j, listed by two nested loops.
Edges all_pairs(std::uint64_t n) {
  Edges pairs;
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = i + 1; j < n; ++j) pairs.push_back({i, j});
  }
  return pairs;
}

// The checks every simulation result satisfies, whichever way it was made.
void expect_consistent(const Labelling& labelling, std::uint64_t n) {
  const Edges pairs = all_pairs(n);
  ASSERT_EQ(labelling.labels.size(), pairs.size());
  Edges ones;
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    ASSERT_LE(labelling.labels[k], 1u);
    if (labelling.labels[k] == 1) ones.push_back(pairs[k]);
  }
  EXPECT_EQ(ones, labelling.accepted_edges);
  EXPECT_EQ(labelling.accepted_edges.size(), labelling.final_rank);
}

// Runs both paths the Python function may take, and the batch's run_simulation, and checks that
// they agree; returns the edge-by-edge labelling. `fast_succeeds` is the expected fast-path
// outcome.
Labelling simulate_all_ways(const NodeList& nodes, std::uint64_t d, double tol,
                            bool fast_succeeds) {
  const std::uint64_t bound = max_rank(nodes.size(), d);
  Labelling slow = label_edge_by_edge(nodes, d, tol, bound);
  expect_consistent(slow, nodes.size());
  const std::optional<Labelling> fast = run_fast_path(nodes, d, tol, bound);
  EXPECT_EQ(fast.has_value(), fast_succeeds);
  if (fast) {
    EXPECT_EQ(fast->labels, slow.labels);
    EXPECT_EQ(fast->accepted_edges, slow.accepted_edges);
    EXPECT_EQ(fast->final_rank, slow.final_rank);
  }
  const SimulationResult full = run_simulation(nodes, d, tol);
  EXPECT_EQ(full.labels, slow.labels);
  EXPECT_EQ(full.accepted_edges, slow.accepted_edges);
  EXPECT_EQ(full.final_rank, slow.final_rank);
  EXPECT_EQ(full.edges, all_pairs(nodes.size()));
  EXPECT_EQ(full.max_rank, bound);
  EXPECT_EQ(full.is_rigid, full.final_rank == bound);
  EXPECT_EQ(full.n_nodes, nodes.size());
  EXPECT_EQ(full.d, d);
  return slow;
}

TEST(Simulation, TriangleIsRigidByFastPath) {
  const Labelling result = simulate_all_ways(make_nodes({{0, 0}, {1, 0}, {0, 1}}), 2, 1e-9, true);
  EXPECT_EQ(result.labels, (Labels{1, 1, 1}));
  EXPECT_EQ(result.accepted_edges, (Edges{{0, 1}, {0, 2}, {1, 2}}));
  EXPECT_EQ(result.final_rank, 3u);
}

TEST(Simulation, CollinearTriangleFallsBackAndIsFlexible) {
  const NodeList nodes = make_nodes({{0, 0}, {1, 0}, {2, 0}});
  const Labelling result = simulate_all_ways(nodes, 2, 1e-9, false);
  EXPECT_EQ(result.labels, (Labels{1, 1, 0}));
  EXPECT_EQ(result.accepted_edges, (Edges{{0, 1}, {0, 2}}));
  EXPECT_EQ(result.final_rank, 2u);
  EXPECT_FALSE(run_simulation(nodes, 2, 1e-9).is_rigid);
}

TEST(Simulation, SquareLeavesLastBarUntested) {
  const Labelling result =
      simulate_all_ways(make_nodes({{0, 0}, {1, 0}, {0, 1}, {1, 1}}), 2, 1e-9, true);
  EXPECT_EQ(result.labels, (Labels{1, 1, 1, 1, 1, 0}));
  EXPECT_EQ(result.final_rank, 5u);
}

TEST(Simulation, FivePointsStopAtBoundBeforeLastCandidates) {
  const NodeList nodes = make_nodes({{0, 0}, {1, 0}, {2, 0}, {0, 1}, {2, 3}});
  const Labelling result = simulate_all_ways(nodes, 2, 1e-9, false);
  EXPECT_EQ(result.labels, (Labels{1, 1, 1, 1, 0, 1, 1, 1, 0, 0}));
  EXPECT_EQ(result.final_rank, 7u);
  EXPECT_EQ(result.accepted_edges, (Edges{{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 3}, {1, 4}, {2, 3}}));
  EXPECT_TRUE(run_simulation(nodes, 2, 1e-9).is_rigid);
}

TEST(Simulation, CoincidentPointsGiveZeroRow) {
  const Labelling result =
      simulate_all_ways(make_nodes({{0, 0}, {0, 0}, {1, 0}, {0, 1}}), 2, 1e-9, false);
  EXPECT_EQ(result.labels, (Labels{0, 1, 1, 1, 1, 1}));
  EXPECT_EQ(result.final_rank, 5u);
}

TEST(Simulation, TetrahedronUsesEveryBar) {
  const NodeList nodes = make_nodes({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  const Labelling result = simulate_all_ways(nodes, 3, 1e-9, true);
  EXPECT_EQ(result.labels, (Labels{1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(result.final_rank, 6u);
  EXPECT_TRUE(run_simulation(nodes, 3, 1e-9).is_rigid);
}

TEST(Simulation, ThreeCollinearPointsIn3DAreFlexible) {
  const NodeList nodes = make_nodes({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 0, 1}});
  const Labelling result = simulate_all_ways(nodes, 3, 1e-9, false);
  EXPECT_EQ(result.labels, (Labels{1, 1, 1, 0, 1, 1}));
  EXPECT_EQ(result.final_rank, 5u);
  const SimulationResult full = run_simulation(nodes, 3, 1e-9);
  EXPECT_EQ(full.max_rank, 6u);
  EXPECT_FALSE(full.is_rigid);
}

TEST(Simulation, NegativeToleranceTakesZeroPivotsAndSpreadsNaN) {
  // Every non-NaN entry counts as non-zero: the reduced second bar keeps its exact 0 in column 0
  // as pivot, its division by zero fills the basis with NaN, and the third bar reduces to NaNs
  // only, which never count, so it is dependent.
  const NodeList nodes = make_nodes({{0, 0}, {1, 0}, {2, 0}});
  const Labelling result = simulate_all_ways(nodes, 2, -1.0, false);
  EXPECT_EQ(result.labels, (Labels{1, 1, 0}));
  EXPECT_EQ(result.final_rank, 2u);

  IncrementalRankChecker checker = IncrementalRankChecker::make(6, -1.0);
  EXPECT_TRUE(checker.add_row(RigidityRow::make(nodes, 0, 1).values));
  EXPECT_TRUE(checker.add_row(RigidityRow::make(nodes, 0, 2).values));
  EXPECT_EQ(checker.pivots(), (std::vector<std::uint64_t>{0, 0}));
}

TEST(Simulation, SingleNodeHasNoCandidatesAndZeroBound) {
  const SimulationResult result = run_simulation(make_nodes({{0.5, 2}}), 2, 1e-9);
  EXPECT_TRUE(result.edges.empty());
  EXPECT_TRUE(result.labels.empty());
  EXPECT_TRUE(result.accepted_edges.empty());
  EXPECT_EQ(result.final_rank, 0u);
  EXPECT_EQ(result.max_rank, 0u);
  EXPECT_TRUE(result.is_rigid);
  ASSERT_EQ(result.distance_matrix.rows(), 1u);
  EXPECT_EQ(bits(result.distance_matrix.at(0, 0)), bits(0.0));
}

TEST(Simulation, TwoNodesIn3DTestTheirBarDespiteZeroBound) {
  const NodeList nodes = make_nodes({{0, 0, 0}, {1, 2, 3}});
  const SimulationResult result = run_simulation(nodes, 3, 1e-9);
  EXPECT_EQ(result.max_rank, 0u);
  EXPECT_EQ(result.labels, (Labels{1}));
  EXPECT_EQ(result.accepted_edges, (Edges{{0, 1}}));
  EXPECT_EQ(result.final_rank, 1u);
  EXPECT_FALSE(result.is_rigid);
  // The fast path cannot stop before the first candidate, so it declines.
  EXPECT_FALSE(run_fast_path(nodes, 3, 1e-9, 0).has_value());
}

TEST(Simulation, RunSimulationPanicsInOrder) {
  const auto message_of = [](const NodeList& nodes, std::uint64_t d) {
    try {
      run_simulation(nodes, d, 1e-9);
    } catch (const Panic& e) {
      return std::string(e.what());
    }
    return std::string("no panic");
  };
  EXPECT_EQ(message_of({}, 5), "Node list must not be empty");
  EXPECT_EQ(message_of(make_nodes({{0, 0, 0, 0}}), 4), "Only d=2 and d=3 are supported");
  EXPECT_EQ(message_of(make_nodes({{0, 0}, {1, 0}, {0, 1}}), 3),
            "All nodes must have dimension d=3");
  EXPECT_EQ(message_of(make_nodes({{0, 0}, {1, 0, 0}, {0, 1}}), 2),
            "All nodes must have dimension d=2");
}

TEST(Simulation, DistanceMatrixRefusesMixedDimensions) {
  EXPECT_THROW(distance_matrix(make_nodes({{0, 0}, {1, 0, 0}})), Panic);
  EXPECT_EQ(distance_matrix({}).rows(), 0u);
}

TEST(Simulation, CandidateOrderIsLexicographic) {
  for (std::uint64_t n = 0; n < 9; ++n) {
    const Edges pairs = all_pairs(n);
    EXPECT_EQ(candidate_count(n), pairs.size());
    EXPECT_EQ(candidate_count(n), pair_count(n));
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      EXPECT_EQ(candidate_position(pairs[k].i, pairs[k].j, n), k);
      if (k + 1 < pairs.size()) {
        EXPECT_EQ(next_candidate(pairs[k], n), pairs[k + 1]);
      }
    }
  }
}

TEST(Simulation, CountsPanicOnOverflow) {
  EXPECT_EQ(candidate_count(std::uint64_t{1} << 32),
            (std::uint64_t{1} << 31) * ((std::uint64_t{1} << 32) - 1));
  EXPECT_THROW(candidate_count(std::uint64_t{1} << 33), Panic);
  EXPECT_THROW(candidate_count(UINT64_MAX), Panic);
  EXPECT_EQ(rigidity_columns(UINT64_MAX / 3, 3), UINT64_MAX / 3 * 3);
  EXPECT_THROW(rigidity_columns(UINT64_MAX / 3 + 1, 3), Panic);
}

// Random frameworks of every kind; those drawn from a small integer grid often defeat the fast
// path, those in general position rarely do.
NodeList random_nodes(std::mt19937_64& rng, std::uint64_t n, std::uint64_t d, bool on_grid) {
  std::uniform_int_distribution<int> grid(0, 2);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  NodeList nodes(n);
  for (std::uint64_t k = 0; k < n; ++k) {
    nodes[k].index = k;
    for (std::uint64_t c = 0; c < d; ++c) {
      nodes[k].coords.push_back(on_grid ? static_cast<double>(grid(rng)) : unit(rng));
    }
  }
  return nodes;
}

// The edge-by-edge procedure written out with a materialised candidate list.
Labelling plain_edge_by_edge(const NodeList& nodes, std::uint64_t d, double tol,
                             std::uint64_t bound) {
  const Edges pairs = all_pairs(nodes.size());
  Labelling result;
  result.labels.assign(pairs.size(), 0);
  IncrementalRankChecker checker = IncrementalRankChecker::make(nodes.size() * d, tol);
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    if (checker.add_row(RigidityRow::make(nodes, pairs[k].i, pairs[k].j).values)) {
      result.labels[k] = 1;
      result.accepted_edges.push_back(pairs[k]);
    }
    if (checker.rank() == bound) break;
  }
  result.final_rank = checker.rank();
  return result;
}

TEST(Simulation, FastPathAgreesWithEdgeByEdgeOnRandomFrameworks) {
  std::mt19937_64 rng(314159);
  int successes = 0;
  int failures = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const std::uint64_t d = 2 + static_cast<std::uint64_t>(trial % 2);
    const std::uint64_t n = d + 1 + rng() % 9;
    const NodeList nodes = random_nodes(rng, n, d, trial % 3 != 0);
    const std::uint64_t bound = max_rank(n, d);
    SCOPED_TRACE("trial " + std::to_string(trial));

    const Labelling slow = label_edge_by_edge(nodes, d, 1e-9, bound);
    expect_consistent(slow, n);
    const Labelling plain = plain_edge_by_edge(nodes, d, 1e-9, bound);
    EXPECT_EQ(slow.labels, plain.labels);
    EXPECT_EQ(slow.accepted_edges, plain.accepted_edges);
    EXPECT_EQ(slow.final_rank, plain.final_rank);
    EXPECT_LE(slow.final_rank, bound);

    const std::optional<Labelling> fast = run_fast_path(nodes, d, 1e-9, bound);
    if (fast) {
      ++successes;
      EXPECT_EQ(fast->labels, slow.labels);
      EXPECT_EQ(fast->accepted_edges, slow.accepted_edges);
      EXPECT_EQ(fast->final_rank, bound);
      EXPECT_EQ(slow.final_rank, bound);
    } else {
      ++failures;
      // Declining is right only when the first max_rank candidates are not all independent.
      std::uint64_t first_ones = 0;
      for (std::uint64_t k = 0; k < bound; ++k) first_ones += slow.labels[k];
      EXPECT_LT(first_ones, bound);
    }

    const SimulationResult full = run_simulation(nodes, d, 1e-9);
    EXPECT_EQ(full.labels, slow.labels);
    EXPECT_EQ(full.edges, all_pairs(n));
    EXPECT_EQ(full.is_rigid, slow.final_rank == bound);
  }
  EXPECT_GT(successes, 50);
  EXPECT_GT(failures, 50);
}

TEST(Simulation, EdgesArgumentReceivesEveryCandidate) {
  const NodeList nodes = make_nodes({{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 5}});
  Edges edges;
  const Labelling result = label_edge_by_edge(nodes, 2, 1e-9, max_rank(5, 2), &edges);
  EXPECT_EQ(edges, all_pairs(5));
  EXPECT_EQ(result.labels.size(), 10u);
  const Labelling without = label_edge_by_edge(nodes, 2, 1e-9, max_rank(5, 2));
  EXPECT_EQ(without.labels, result.labels);
}

TEST(Simulation, NodesOfAnotherDimensionThanDPanic) {
  // The boundary never builds such lists; the row length check catches them.
  const NodeList nodes = make_nodes({{0, 0}, {1, 0}, {0, 1}});
  EXPECT_THROW(label_edge_by_edge(nodes, 3, 1e-9, 6), Panic);
  EXPECT_THROW(run_fast_path(nodes, 3, 1e-9, 3), Panic);
}

}  // namespace
}  // namespace trussel
