// The game over a given edge list against the plain pebble game over the candidate order.
#include <gtest/gtest.h>

#include <vector>

#include "graph/rigid_components.hpp"
#include "pebble/pebble_game.hpp"

namespace trussel {
namespace {

std::vector<Edge> all_pairs(std::uint64_t n) {
  std::vector<Edge> edges;
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = i + 1; j < n; ++j) edges.push_back({i, j});
  }
  return edges;
}

TEST(RigidComponents, CompleteGraphsAgreeWithThePlainGame) {
  for (std::uint64_t n = 2; n <= 12; ++n) {
    const RigidComponentsResult result = find_rigid_components(n, all_pairs(n));
    EXPECT_EQ(result.independent, play_pebble_game(n, PebbleGameMode::kOfferAll).labels) << n;
    EXPECT_EQ(result.rank, 2 * n - 3);
    EXPECT_EQ(result.n_components, 1u);
    EXPECT_EQ(result.component, std::vector<std::int64_t>(result.independent.size(), 0));
    // From four nodes on, every bar of a complete graph lies in a circuit.
    EXPECT_EQ(result.redundant, std::vector<std::uint8_t>(result.independent.size(), n >= 4));
  }
}

}  // namespace
}  // namespace trussel
