// Tests of the pebble search against a recursive transcription, its undo, and the game's early
// stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "pebble/pebble_game.hpp"
#include "test_util.hpp"

namespace trussel {
namespace {

using Kind = PebbleMove::Kind;

// The search written as plain recursion, step for step, as an independent reference.
bool recursive_find(std::uint64_t x, std::vector<bool>& visited, PebbleGameState& state,
                    MoveLog& log) {
  if (visited[x]) return false;
  visited[x] = true;
  if (state.pebbles[x] >= 1) {
    --state.pebbles[x];
    log.push_back({Kind::TookPebble, x, 0});
    return true;
  }
  for (std::size_t i = 0; i < state.out_edges[x].size(); ++i) {
    const std::uint64_t w = state.out_edges[x][i];
    if (recursive_find(w, visited, state, log)) {
      state.out_edges[x].erase(state.out_edges[x].begin() + static_cast<std::ptrdiff_t>(i));
      state.out_edges[w].push_back(x);
      log.push_back({Kind::ReversedEdge, x, w});
      return true;
    }
  }
  return false;
}

TEST(PebbleSearch, MatchesRecursiveSearchOnRandomGraphs) {
  std::mt19937_64 rng(12345);
  int found = 0;
  for (int round = 0; round < 500; ++round) {
    const std::uint64_t n = 2 + rng() % 30;
    PebbleGameState state = PebbleGameState::make(n);
    for (std::uint64_t x = 0; x < n; ++x) {
      state.pebbles[x] = rng() % 5 == 0 ? 1 : 0;
      state.out_edges[x].clear();
      for (std::uint64_t e = rng() % 4; e > 0; --e) state.out_edges[x].push_back(rng() % n);
    }
    PebbleGameState reference = state;
    VisitedSet visited = VisitedSet::make(n);
    for (std::uint64_t start = 0; start < n; ++start) {
      visited.clear();
      std::vector<bool> reference_visited(n, false);
      MoveLog log;
      MoveLog reference_log;
      const PebbleGameState before = state;
      const bool success = find_pebble(start, visited, state, log);
      ASSERT_EQ(success, recursive_find(start, reference_visited, reference, reference_log));
      ASSERT_EQ(log, reference_log);
      ASSERT_EQ(state.pebbles, reference.pebbles);
      ASSERT_EQ(state.out_edges, reference.out_edges);
      for (std::uint64_t x = 0; x < n; ++x) ASSERT_EQ(visited.contains(x), reference_visited[x]);
      found += success ? 1 : 0;
      // Undoing restores the counts and every bar's direction (turned-back bars go last).
      PebbleGameState undone = state;
      undo_moves(log, undone);
      ASSERT_EQ(undone.pebbles, before.pebbles);
      for (std::uint64_t x = 0; x < n; ++x) {
        std::vector<std::uint64_t> now = undone.out_edges[x], then = before.out_edges[x];
        std::sort(now.begin(), now.end());
        std::sort(then.begin(), then.end());
        ASSERT_EQ(now, then) << x;
      }
    }
  }
  EXPECT_GT(found, 1000);
}

// The early stop is checked from Python (pebble_game against rigid_components and the known
// labels); here only the size limit, which Python cannot reach: one label byte per pair must fit
// a signed 64-bit size, so up to 2^32 nodes.
TEST(PebbleGame, SizeLimit) {
  EXPECT_NO_THROW(check_pebble_game_size(std::uint64_t{1} << 32));
  EXPECT_PANIC(check_pebble_game_size((std::uint64_t{1} << 32) + 1), "capacity overflow");
}

}  // namespace
}  // namespace trussel
