// Tests of batch generation: argument checks and their order, tiny frameworks,
// reproducibility.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "batch/coordinate_rng.hpp"
#include "batch/training_batch.hpp"
#include "common/errors.hpp"

namespace trussel {
namespace {

constexpr std::uint64_t kMaxSeed = std::numeric_limits<std::uint64_t>::max();

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// The Panic message of a batch call, or "" when it does not throw Panic.
std::string panic_message(std::uint64_t n_graphs, std::uint64_t n_nodes, std::uint64_t d,
                          std::uint64_t seed) {
  try {
    run_training_batch(n_graphs, n_nodes, d, seed);
  } catch (const Panic& e) {
    return e.what();
  }
  return "";
}

void expect_same_result(const SimulationResult& a, const SimulationResult& b) {
  EXPECT_EQ(a.edges, b.edges);
  EXPECT_EQ(a.labels, b.labels);
  EXPECT_EQ(a.accepted_edges, b.accepted_edges);
  EXPECT_EQ(a.n_nodes, b.n_nodes);
  EXPECT_EQ(a.d, b.d);
  EXPECT_EQ(a.final_rank, b.final_rank);
  EXPECT_EQ(a.max_rank, b.max_rank);
  EXPECT_EQ(a.is_rigid, b.is_rigid);
  ASSERT_EQ(a.distance_matrix.rows(), b.distance_matrix.rows());
  ASSERT_EQ(a.distance_matrix.cols(), b.distance_matrix.cols());
  const std::vector<double>& av = a.distance_matrix.values();
  const std::vector<double>& bv = b.distance_matrix.values();
  ASSERT_EQ(av.size(), bv.size());
  for (std::size_t i = 0; i < av.size(); ++i) EXPECT_EQ(bits(av[i]), bits(bv[i])) << "entry " << i;
}

SimulationResult simulate_alone(std::uint64_t start, std::uint64_t n_nodes, std::uint64_t d) {
  CoordinateRng rng(start);
  return run_simulation(draw_framework(rng, n_nodes, d), d, kSimulateTolerance);
}

TEST(TrainingBatch, NoGraphsMeansNoChecks) {
  EXPECT_TRUE(run_training_batch(0, 0, 7, 0).empty());
  EXPECT_TRUE(run_training_batch(0, kMaxSeed, kMaxSeed, kMaxSeed).empty());
}

TEST(TrainingBatch, EmptyNodeListIsCheckedBeforeDimension) {
  EXPECT_EQ(panic_message(1, 0, 2, 0), "Node list must not be empty");
  EXPECT_EQ(panic_message(1, 0, 4, 0), "Node list must not be empty");
  EXPECT_EQ(panic_message(kMaxSeed, 0, kMaxSeed, 0), "Node list must not be empty");
}

TEST(TrainingBatch, DimensionIsCheckedBeforeAnythingIsDrawn) {
  EXPECT_EQ(panic_message(1, 5, 4, 0), "Only d=2 and d=3 are supported");
  EXPECT_EQ(panic_message(1, 5, 0, 0), "Only d=2 and d=3 are supported");
  EXPECT_EQ(panic_message(1, 5, 1, 0), "Only d=2 and d=3 are supported");
  // Drawing first would try to allocate 10^12 coordinates per node.
  EXPECT_EQ(panic_message(1, 5, 1000000000000ULL, 0), "Only d=2 and d=3 are supported");
  // Reserving first would fail on the table size.
  EXPECT_EQ(panic_message(kMaxSeed, kMaxSeed, 4, 0), "Only d=2 and d=3 are supported");
}

TEST(TrainingBatch, OversizedTablesAndNodeListsPanic) {
  EXPECT_EQ(panic_message(kMaxSeed, 3, 2, 0), "capacity overflow");
  EXPECT_EQ(panic_message(std::uint64_t{1} << 62, 3, 2, 0), "capacity overflow");
  EXPECT_EQ(panic_message(1, std::uint64_t{1} << 62, 2, 0), "capacity overflow");
}

TEST(TrainingBatch, OneNodeFrameworkIsRigidWithNoCandidates) {
  for (std::uint64_t d : {2u, 3u}) {
    const std::vector<SimulationResult> batch = run_training_batch(2, 1, d, 9);
    ASSERT_EQ(batch.size(), 2u);
    for (const SimulationResult& r : batch) {
      EXPECT_TRUE(r.edges.empty());
      EXPECT_TRUE(r.labels.empty());
      EXPECT_TRUE(r.accepted_edges.empty());
      ASSERT_EQ(r.distance_matrix.rows(), 1u);
      ASSERT_EQ(r.distance_matrix.cols(), 1u);
      EXPECT_EQ(bits(r.distance_matrix.at(0, 0)), bits(0.0));
      EXPECT_EQ(r.n_nodes, 1u);
      EXPECT_EQ(r.d, d);
      EXPECT_EQ(r.final_rank, 0u);
      EXPECT_EQ(r.max_rank, 0u);
      EXPECT_TRUE(r.is_rigid);
    }
  }
}

TEST(TrainingBatch, TwoNodesArePlaneRigidButNotSpaceRigid) {
  const SimulationResult plane = run_training_batch(1, 2, 2, 0).at(0);
  EXPECT_EQ(plane.labels, std::vector<std::uint8_t>{1});
  EXPECT_EQ(plane.accepted_edges, (std::vector<Edge>{{0, 1}}));
  EXPECT_EQ(plane.final_rank, 1u);
  EXPECT_EQ(plane.max_rank, 1u);
  EXPECT_TRUE(plane.is_rigid);
  // Seed 0's first two nodes are (0.391..., 0.508...) and (3.026..., 2.006...).
  EXPECT_GT(plane.distance_matrix.at(0, 1), 3.0);

  const SimulationResult space = run_training_batch(1, 2, 3, 0).at(0);
  EXPECT_EQ(space.labels, std::vector<std::uint8_t>{1});
  EXPECT_EQ(space.accepted_edges, (std::vector<Edge>{{0, 1}}));
  EXPECT_EQ(space.final_rank, 1u);
  EXPECT_EQ(space.max_rank, 0u);
  EXPECT_FALSE(space.is_rigid);
}

TEST(TrainingBatch, EntryKIsTheSimulationOfSeedPlusK) {
  for (std::uint64_t d : {2u, 3u}) {
    for (std::uint64_t seed : {std::uint64_t{0}, std::uint64_t{1000}, kMaxSeed - 2}) {
      const std::vector<SimulationResult> batch = run_training_batch(5, 7, d, seed);
      ASSERT_EQ(batch.size(), 5u);
      for (std::uint64_t k = 0; k < 5; ++k) {
        SCOPED_TRACE("d " + std::to_string(d) + " seed " + std::to_string(seed) + " k " +
                     std::to_string(k));
        expect_same_result(batch[k], simulate_alone(seed + k, 7, d));
      }
    }
  }
}

TEST(TrainingBatch, SeedWrapsAroundToZero) {
  const std::vector<SimulationResult> wrapped = run_training_batch(3, 6, 2, kMaxSeed);
  const std::vector<SimulationResult> from_zero = run_training_batch(2, 6, 2, 0);
  expect_same_result(wrapped[1], from_zero[0]);
  expect_same_result(wrapped[2], from_zero[1]);
}

TEST(TrainingBatch, IsReproducibleAndIndependentOfBatchSize) {
  const std::vector<SimulationResult> first = run_training_batch(6, 8, 3, 77);
  const std::vector<SimulationResult> again = run_training_batch(6, 8, 3, 77);
  const std::vector<SimulationResult> prefix = run_training_batch(4, 8, 3, 77);
  const std::vector<SimulationResult> shifted = run_training_batch(5, 8, 3, 78);
  ASSERT_EQ(first.size(), 6u);
  for (std::size_t k = 0; k < 6; ++k) expect_same_result(first[k], again[k]);
  for (std::size_t k = 0; k < 4; ++k) expect_same_result(first[k], prefix[k]);
  for (std::size_t k = 1; k < 6; ++k) expect_same_result(first[k], shifted[k - 1]);
}

TEST(TrainingBatch, EveryEntryIsConsistent) {
  for (std::uint64_t d : {2u, 3u}) {
    for (const SimulationResult& r : run_training_batch(20, 9, d, 5)) {
      ASSERT_EQ(r.edges.size(), pair_count(9));
      ASSERT_EQ(r.labels.size(), r.edges.size());
      std::vector<Edge> labelled;
      for (std::size_t e = 0; e < r.edges.size(); ++e) {
        if (e > 0) {
          const Edge& p = r.edges[e - 1];
          const Edge& q = r.edges[e];
          EXPECT_TRUE(p.i < q.i || (p.i == q.i && p.j < q.j)) << "candidate order at " << e;
        }
        EXPECT_LE(r.labels[e], 1u);
        if (r.labels[e] == 1) labelled.push_back(r.edges[e]);
      }
      EXPECT_EQ(labelled, r.accepted_edges);
      EXPECT_EQ(r.accepted_edges.size(), r.final_rank);
      EXPECT_EQ(r.max_rank, 9 * d - d * (d + 1) / 2);
      EXPECT_LE(r.final_rank, r.max_rank);
      EXPECT_EQ(r.is_rigid, r.final_rank == r.max_rank);
      EXPECT_EQ(r.distance_matrix.rows(), 9u);
    }
  }
}

}  // namespace
}  // namespace trussel
