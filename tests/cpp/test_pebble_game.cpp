// Tests of the pebble search, its undo and the (2,3) pebble game driver.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "pebble/pebble_game.hpp"

namespace trussel {
namespace {

using Kind = PebbleMove::Kind;
using Lists = std::vector<std::vector<std::uint64_t>>;

PebbleMove took(std::uint64_t x) { return {Kind::TookPebble, x, 0}; }
PebbleMove gained(std::uint64_t x) { return {Kind::GainedPebble, x, 0}; }
PebbleMove reversed(std::uint64_t x, std::uint64_t w) { return {Kind::ReversedEdge, x, w}; }

// Offers candidates in lexicographic order until `count` have been offered; expects each to
// be accepted.
void accept_first(std::uint64_t n, std::size_t count, PebbleGameState& state, VisitedSet& visited,
                  MoveLog& log) {
  std::size_t offered = 0;
  for (std::uint64_t u = 0; u + 1 < n && offered < count; ++u) {
    for (std::uint64_t v = u + 1; v < n && offered < count; ++v, ++offered) {
      ASSERT_TRUE(offer_bar(u, v, state, visited, log)) << u << ", " << v;
    }
  }
}

void expect_invariant(const PebbleGameState& state) {
  for (std::size_t x = 0; x < state.pebbles.size(); ++x) {
    EXPECT_EQ(state.pebbles[x] + static_cast<std::int32_t>(state.out_edges[x].size()), 2)
        << "node " << x;
  }
}

// The search written as plain recursion, step for step, as an independent reference.
bool recursive_find(std::uint64_t x, std::vector<bool>& visited, PebbleGameState& state,
                    MoveLog& log) {
  if (visited[x]) return false;
  visited[x] = true;
  if (state.pebbles[x] >= 1) {
    --state.pebbles[x];
    log.push_back(took(x));
    return true;
  }
  std::vector<std::uint64_t>& list = state.out_edges[x];
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::uint64_t w = list[i];
    if (recursive_find(w, visited, state, log)) {
      state.out_edges[x].erase(state.out_edges[x].begin() + static_cast<std::ptrdiff_t>(i));
      state.out_edges[w].push_back(x);
      log.push_back(reversed(x, w));
      return true;
    }
  }
  return false;
}

void expect_panic(std::uint64_t n, const std::string& message) {
  try {
    check_pebble_game_size(n);
    ADD_FAILURE() << "no Panic for n = " << n;
  } catch (const Panic& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

TEST(PebbleSearch, HiddenNodeWithoutOutEdgesChangesOnlyVisited) {
  PebbleGameState state = PebbleGameState::make(3);
  state.pebbles = {0, 2, 2};
  VisitedSet visited = VisitedSet::make(3);
  MoveLog log;
  EXPECT_FALSE(find_pebble(0, visited, state, log));
  EXPECT_EQ(state.pebbles, (std::vector<std::int32_t>{0, 2, 2}));
  EXPECT_EQ(state.out_edges, Lists(3));
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(visited.contains(0));
  EXPECT_FALSE(visited.contains(1));
  EXPECT_FALSE(visited.contains(2));
}

TEST(PebbleSearch, VisitedNodeIsNotEnteredAgain) {
  PebbleGameState state = PebbleGameState::make(2);
  VisitedSet visited = VisitedSet::make(2);
  MoveLog log;
  visited.insert(0);
  EXPECT_FALSE(find_pebble(0, visited, state, log));
  EXPECT_EQ(state.pebbles[0], 2);
  visited.clear();
  EXPECT_FALSE(visited.contains(0));
  EXPECT_TRUE(find_pebble(0, visited, state, log));
  EXPECT_EQ(state.pebbles[0], 1);
  EXPECT_EQ(log, MoveLog{took(0)});
}

TEST(PebbleSearch, DirectedCycleWithoutPebbleReturnsFalse) {
  // 0 -> 1 -> 2 -> 0 and 1 -> 0, no free pebble anywhere.
  PebbleGameState state = PebbleGameState::make(3);
  state.pebbles = {0, 0, 0};
  state.out_edges = {{1}, {2, 0}, {0}};
  const PebbleGameState before = state;
  VisitedSet visited = VisitedSet::make(3);
  MoveLog log;
  EXPECT_FALSE(find_pebble(0, visited, state, log));
  EXPECT_EQ(state.pebbles, before.pebbles);
  EXPECT_EQ(state.out_edges, before.out_edges);
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(visited.contains(0) && visited.contains(1) && visited.contains(2));
}

TEST(PebbleSearch, TriesOutNeighboursInListOrderAndReversesPath) {
  // 0 -> {1, 2}; 1 -> 3 (dead end via visited 0 and hidden 3); 2 -> 4 holds a pebble.
  PebbleGameState state = PebbleGameState::make(5);
  state.pebbles = {0, 0, 0, 0, 1};
  state.out_edges = {{1, 2}, {3, 0}, {4}, {}, {}};
  VisitedSet visited = VisitedSet::make(5);
  MoveLog log;
  ASSERT_TRUE(find_pebble(0, visited, state, log));
  EXPECT_EQ(log, (MoveLog{took(4), reversed(2, 4), reversed(0, 2)}));
  EXPECT_EQ(state.pebbles, (std::vector<std::int32_t>{0, 0, 0, 0, 0}));
  EXPECT_EQ(state.out_edges, (Lists{{1}, {3, 0}, {0}, {}, {2}}));
}

TEST(PebbleSearch, StopsAtFirstSuccessfulNeighbour) {
  PebbleGameState state = PebbleGameState::make(3);
  state.pebbles = {0, 1, 1};
  state.out_edges = {{2, 1}, {}, {}};
  VisitedSet visited = VisitedSet::make(3);
  MoveLog log;
  ASSERT_TRUE(find_pebble(0, visited, state, log));
  EXPECT_EQ(log, (MoveLog{took(2), reversed(0, 2)}));
  EXPECT_FALSE(visited.contains(1));
  EXPECT_EQ(state.out_edges, (Lists{{1}, {}, {0}}));
}

TEST(PebbleSearch, DeepPathDoesNotOverflowTheStack) {
  constexpr std::uint64_t kNodes = 100'001;
  PebbleGameState state = PebbleGameState::make(kNodes);
  for (std::uint64_t x = 0; x + 1 < kNodes; ++x) {
    state.pebbles[x] = 0;
    state.out_edges[x] = {x + 1};
  }
  state.pebbles[kNodes - 1] = 0;
  VisitedSet visited = VisitedSet::make(kNodes);
  MoveLog log;
  EXPECT_FALSE(find_pebble(0, visited, state, log));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(state.out_edges[kNodes - 2], std::vector<std::uint64_t>{kNodes - 1});

  state.pebbles[kNodes - 1] = 1;
  visited.clear();
  ASSERT_TRUE(find_pebble(0, visited, state, log));
  ASSERT_EQ(log.size(), kNodes);
  EXPECT_EQ(log.front(), took(kNodes - 1));
  EXPECT_EQ(log[1], reversed(kNodes - 2, kNodes - 1));
  EXPECT_EQ(log.back(), reversed(0, 1));
  EXPECT_TRUE(state.out_edges[0].empty());
  for (std::uint64_t x = 1; x < kNodes; ++x) {
    ASSERT_EQ(state.out_edges[x], std::vector<std::uint64_t>{x - 1}) << x;
  }

  undo_moves(log, state);
  EXPECT_EQ(state.pebbles[kNodes - 1], 1);
  EXPECT_TRUE(state.out_edges[kNodes - 1].empty());
  for (std::uint64_t x = 0; x + 1 < kNodes; ++x) {
    ASSERT_EQ(state.out_edges[x], std::vector<std::uint64_t>{x + 1}) << x;
  }
}

TEST(PebbleSearch, MatchesRecursiveSearchOnRandomGraphs) {
  std::mt19937_64 rng(12345);
  for (int round = 0; round < 500; ++round) {
    const std::uint64_t n = 2 + rng() % 30;
    PebbleGameState state = PebbleGameState::make(n);
    for (std::uint64_t x = 0; x < n; ++x) {
      state.pebbles[x] = rng() % 5 == 0 ? 1 : 0;
      const std::uint64_t degree = rng() % 4;
      state.out_edges[x].clear();
      for (std::uint64_t e = 0; e < degree; ++e) state.out_edges[x].push_back(rng() % n);
    }
    PebbleGameState reference = state;
    VisitedSet visited = VisitedSet::make(n);
    for (std::uint64_t start = 0; start < n; ++start) {
      visited.clear();
      std::vector<bool> reference_visited(n, false);
      MoveLog log;
      MoveLog reference_log;
      const bool found = find_pebble(start, visited, state, log);
      ASSERT_EQ(found, recursive_find(start, reference_visited, reference, reference_log));
      ASSERT_EQ(log, reference_log);
      ASSERT_EQ(state.pebbles, reference.pebbles);
      ASSERT_EQ(state.out_edges, reference.out_edges);
      for (std::uint64_t x = 0; x < n; ++x) ASSERT_EQ(visited.contains(x), reference_visited[x]);
    }
  }
}

TEST(PebbleUndo, RestoresCountsAndDirectionsAppendingTurnedBackBars) {
  PebbleGameState state = PebbleGameState::make(4);
  state.pebbles = {0, 1, 0, 2};
  state.out_edges = {{2, 1}, {2}, {}, {}};
  VisitedSet visited = VisitedSet::make(4);
  MoveLog log;
  ASSERT_TRUE(find_pebble(0, visited, state, log));  // 2 is a dead end, 1 has a pebble
  log.push_back(gained(0));
  state.pebbles[0] = 1;
  EXPECT_EQ(log, (MoveLog{took(1), reversed(0, 1), gained(0)}));
  EXPECT_EQ(state.out_edges, (Lists{{2}, {2, 0}, {}, {}}));
  undo_moves(log, state);
  EXPECT_EQ(state.pebbles, (std::vector<std::int32_t>{0, 1, 0, 2}));
  // The bar 0 -> 1 is directed as before but now stands behind 0 -> 2.
  EXPECT_EQ(state.out_edges, (Lists{{2, 1}, {2}, {}, {}}));
}

TEST(PebbleGameTrace, ThreeNodesAcceptAllThree) {
  PebbleGameState state = PebbleGameState::make(3);
  VisitedSet visited = VisitedSet::make(3);
  MoveLog log;
  EXPECT_TRUE(offer_bar(0, 1, state, visited, log));
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(offer_bar(0, 2, state, visited, log));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(state.out_edges, (Lists{{}, {0}, {0}}));
  EXPECT_TRUE(offer_bar(1, 2, state, visited, log));
  EXPECT_EQ(log, (MoveLog{took(0), reversed(1, 0), gained(1), took(0), reversed(2, 0), gained(2)}));
  EXPECT_EQ(state.pebbles, (std::vector<std::int32_t>{0, 2, 1}));
  EXPECT_EQ(state.out_edges, (Lists{{1, 2}, {}, {1}}));
}

TEST(PebbleGameTrace, FourNodesRejectSixthAndUndo) {
  PebbleGameState state = PebbleGameState::make(4);
  VisitedSet visited = VisitedSet::make(4);
  MoveLog log;
  accept_first(4, 5, state, visited, log);
  EXPECT_EQ(state.pebbles, (std::vector<std::int32_t>{0, 2, 0, 1}));
  EXPECT_EQ(state.out_edges, (Lists{{1, 3}, {}, {1, 0}, {1}}));

  EXPECT_FALSE(offer_bar(2, 3, state, visited, log));
  EXPECT_EQ(log, (MoveLog{took(1), reversed(2, 1), gained(2), took(1), reversed(0, 1),
                          reversed(2, 0), gained(2)}));
  EXPECT_EQ(state.pebbles, (std::vector<std::int32_t>{0, 2, 0, 1}));
  EXPECT_EQ(state.out_edges, (Lists{{3, 1}, {}, {0, 1}, {1}}));
  expect_invariant(state);
}

TEST(PebbleGame, InvariantHoldsAfterEveryCandidate) {
  for (std::uint64_t n : {2u, 3u, 5u, 8u, 13u, 24u}) {
    PebbleGameState state = PebbleGameState::make(n);
    VisitedSet visited = VisitedSet::make(n);
    MoveLog log;
    std::size_t accepted = 0;
    for (std::uint64_t u = 0; u + 1 < n; ++u) {
      for (std::uint64_t v = u + 1; v < n; ++v) {
        const bool ok = offer_bar(u, v, state, visited, log);
        EXPECT_EQ(ok, u <= 1) << n << ": " << u << ", " << v;
        accepted += ok ? 1 : 0;
        expect_invariant(state);
        std::int64_t free_pebbles = 0;
        for (std::int32_t p : state.pebbles) free_pebbles += p;
        EXPECT_EQ(free_pebbles, static_cast<std::int64_t>(2 * n - accepted));
      }
    }
  }
}

TEST(PebbleGame, StoppingAtFullCountMatchesFullGame) {
  for (std::uint64_t n = 0; n <= 60; ++n) {
    const PebbleGameResult fast = play_pebble_game(n, PebbleGameMode::kStopAtFullCount);
    const PebbleGameResult full = play_pebble_game(n, PebbleGameMode::kOfferAll);
    EXPECT_EQ(fast.labels, full.labels) << n;
    EXPECT_EQ(fast.accepted_edges, full.accepted_edges) << n;
  }
}

TEST(PebbleGameSize, RefusesMoreThanTwoToThe59Nodes) {
  EXPECT_THROW(check_pebble_game_size((std::uint64_t{1} << 59) + 1), Panic);
  expect_panic((std::uint64_t{1} << 59) + 1, "capacity overflow");
  expect_panic(~std::uint64_t{0}, "capacity overflow");
}

TEST(PebbleGameSize, LabelCountMustFitSignedBytes) {
  // n(n-1)/2 <= 2^63 - 1 holds up to n = 2^32 and fails from 2^32 + 1 on.
  constexpr std::uint64_t kLast = std::uint64_t{1} << 32;
  EXPECT_NO_THROW(check_pebble_game_size(kLast));
  EXPECT_EQ(pebble_label_count(kLast), (kLast / 2) * (kLast - 1));
  expect_panic(kLast + 1, "capacity overflow");
  expect_panic(kLast + 2, "capacity overflow");
  expect_panic(std::uint64_t{1} << 59, "capacity overflow");
  EXPECT_EQ(pebble_label_count(0), 0u);
  EXPECT_EQ(pebble_label_count(1), 0u);
  EXPECT_EQ(pebble_label_count(7), 21u);
  EXPECT_EQ(pebble_label_count(8), 28u);
}

}  // namespace
}  // namespace trussel
