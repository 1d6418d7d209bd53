// Tests of batch generation below the Python surface: capacity checks and each entry against
// run_simulation on its own drawn framework.
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

TEST(TrainingBatch, OversizedTablesAndNodeListsPanic) {
  EXPECT_EQ(panic_message(kMaxSeed, 3, 2, 0), "capacity overflow");
  EXPECT_EQ(panic_message(std::uint64_t{1} << 62, 3, 2, 0), "capacity overflow");
  EXPECT_EQ(panic_message(1, std::uint64_t{1} << 62, 2, 0), "capacity overflow");
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

}  // namespace
}  // namespace trussel
