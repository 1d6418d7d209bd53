// Tests of the checks that raise Panic: overflow-checked sizes, the rank bound beyond 64 bits,
// and the dimension and length checks behind the equality-check message.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/edge.hpp"
#include "rank/incremental_rank_checker.hpp"
#include "rigidity/rigidity_row.hpp"
#include "simulation/simulation.hpp"
#include "test_util.hpp"

namespace trussel {
namespace {

constexpr std::uint64_t kInt64Max = (std::uint64_t{1} << 63) - 1;

TEST(Checks, SizesThatDoNotFitAreCapacityOverflows) {
  EXPECT_EQ(checked_bytes(kInt64Max / 8, 8), kInt64Max / 8 * 8);
  EXPECT_PANIC(checked_bytes(kInt64Max / 8 + 1, 8), "capacity overflow");
  EXPECT_EQ(checked_mul(UINT64_MAX / 3, 3), UINT64_MAX / 3 * 3);
  EXPECT_PANIC(checked_mul(UINT64_MAX / 3 + 1, 3), "capacity overflow");
  for (std::uint64_t n = 0; n < 9; ++n) EXPECT_EQ(pair_count(n), n * (n - 1) / 2);
  // The even factor is halved before multiplying, so 2^32 nodes still fit.
  EXPECT_EQ(pair_count(std::uint64_t{1} << 32), (std::uint64_t{1} << 31) * (UINT32_MAX + 0ull));
  EXPECT_PANIC(pair_count(std::uint64_t{1} << 33), "capacity overflow");
  EXPECT_EQ(max_rank(UINT64_MAX / 3, 3), UINT64_MAX / 3 * 3 - 6);
  EXPECT_PANIC(max_rank(std::uint64_t{1} << 63, 3), "capacity overflow");
}

TEST(Checks, NodesOfMixedDimensionsPanicInOrder) {
  const std::string message =
      "assertion `left == right` failed: Nodes must all have the same dimension\n  left: ";
  const NodeList mixed = make_nodes({{0, 0}, {1, 0, 0}, {0, 1}});
  EXPECT_PANIC(RigidityRow::make(mixed, 0, 1), message + "2\n right: 3");
  EXPECT_PANIC(RigidityRow::make(mixed, 1, 0), message + "3\n right: 2");
  EXPECT_PANIC(distance_matrix(mixed), message + "2\n right: 3");
  EXPECT_THROW(RigidityRow::make(mixed, 0, 3), Panic);
  EXPECT_PANIC(run_simulation({}, 5, 1e-9), "Node list must not be empty");
  EXPECT_PANIC(run_simulation(make_nodes({{0, 0, 0, 0}}), 4, 1e-9),
               "Only d=2 and d=3 are supported");
  EXPECT_PANIC(run_simulation(mixed, 2, 1e-9), "All nodes must have dimension d=2");
  EXPECT_PANIC(IncrementalRankChecker::make(2, 0.0).add_row({1.0}),
               "assertion `left == right` failed: Row length 1 does not match ncols 2\n"
               "  left: 1\n right: 2");
}

}  // namespace
}  // namespace trussel
