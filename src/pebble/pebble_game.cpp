// The (2,3) pebble game over the lexicographic candidate order of n nodes in the plane.
#include "pebble/pebble_game.hpp"

#include <algorithm>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace trussel {

namespace {

constexpr std::uint64_t kMaxPebbleGameNodes = std::uint64_t{1} << 59;

// Turns the bar directed x to w (the entry at position `at` of x's list) into w to x.
void reverse_edge(PebbleGameState& state, std::uint64_t x, std::size_t at) {
  std::vector<std::uint64_t>& from = state.out_edges[x];
  const std::uint64_t w = from[at];
  from.erase(from.begin() + static_cast<std::ptrdiff_t>(at));
  state.out_edges[w].push_back(x);
}

}  // namespace

PebbleGameState PebbleGameState::make(std::uint64_t n) {
  PebbleGameState state;
  state.pebbles.assign(n, 2);
  state.out_edges.resize(n);
  return state;
}

VisitedSet VisitedSet::make(std::uint64_t n) {
  VisitedSet set;
  set.marks_.assign(n, 0);
  return set;
}

bool find_pebble(std::uint64_t node, VisitedSet& visited, PebbleGameState& state, MoveLog& log) {
  if (visited.contains(node)) return false;
  visited.insert(node);
  if (state.pebbles[node] >= 1) {
    --state.pebbles[node];
    log.push_back({PebbleMove::Kind::TookPebble, node, 0});
    return true;
  }

  // Depth-first over out-neighbours in list order, the recursion unrolled onto an explicit
  // stack: each frame is a node of the current path and the position of the neighbour being
  // tried. Lists of nodes on the stack do not change until the search succeeds.
  std::vector<VisitedSet::Frame>& stack = visited.stack_;
  stack.clear();
  stack.push_back({node, 0});
  while (!stack.empty()) {
    VisitedSet::Frame& top = stack.back();
    const std::vector<std::uint64_t>& edges = state.out_edges[top.node];
    if (top.next == edges.size()) {
      // Every neighbour failed: this node gives no pebble; its parent tries its next one.
      stack.pop_back();
      if (!stack.empty()) ++stack.back().next;
      continue;
    }
    const std::uint64_t w = edges[top.next];
    if (visited.contains(w)) {
      ++top.next;
      continue;
    }
    visited.insert(w);
    if (state.pebbles[w] < 1) {
      stack.push_back({w, 0});  // may reallocate: `top` and `edges` are not used again
      continue;
    }
    // Found: take the pebble, then reverse the path from its far end back to `node`, the order
    // in which the returning recursive calls would log their moves.
    --state.pebbles[w];
    log.push_back({PebbleMove::Kind::TookPebble, w, 0});
    for (std::size_t k = stack.size(); k-- > 0;) {
      const VisitedSet::Frame& frame = stack[k];
      const std::uint64_t to = state.out_edges[frame.node][frame.next];
      reverse_edge(state, frame.node, frame.next);
      log.push_back({PebbleMove::Kind::ReversedEdge, frame.node, to});
    }
    stack.clear();
    return true;
  }
  return false;
}

void undo_moves(const MoveLog& log, PebbleGameState& state) {
  for (std::size_t k = log.size(); k-- > 0;) {
    const PebbleMove& move = log[k];
    switch (move.kind) {
      case PebbleMove::Kind::TookPebble:
        ++state.pebbles[move.x];
        break;
      case PebbleMove::Kind::GainedPebble:
        --state.pebbles[move.x];
        break;
      case PebbleMove::Kind::ReversedEdge: {
        std::vector<std::uint64_t>& list = state.out_edges[move.w];
        const auto at = std::find(list.begin(), list.end(), move.x);
        list.erase(at);  // the bar stands exactly once, in w's list
        state.out_edges[move.x].push_back(move.w);
        break;
      }
    }
  }
}

bool offer_bar(std::uint64_t u, std::uint64_t v, PebbleGameState& state, VisitedSet& visited,
               MoveLog& log) {
  log.clear();
  std::int32_t pu = state.pebbles[u];
  std::int32_t pv = state.pebbles[v];
  bool accepted = pu + pv >= 4;
  while (!accepted) {
    // Hide both endpoints so a search cannot take their pebbles; the copies keep the counts.
    state.pebbles[u] = 0;
    state.pebbles[v] = 0;
    if (pu <= 1) {
      visited.clear();
      if (find_pebble(u, visited, state, log)) {
        log.push_back({PebbleMove::Kind::GainedPebble, u, 0});
        ++pu;
        state.pebbles[u] = pu;
        state.pebbles[v] = pv;
        accepted = pu + pv >= 4;
        continue;
      }
    }
    visited.clear();
    const bool found = find_pebble(v, visited, state, log);
    if (found) {
      log.push_back({PebbleMove::Kind::GainedPebble, v, 0});
      ++pv;
    }
    state.pebbles[u] = pu;
    state.pebbles[v] = pv;
    if (!found) {
      undo_moves(log, state);
      return false;
    }
    accepted = pu + pv >= 4;
  }
  // Both endpoints hold two pebbles: one of v's covers the bar, directed v to u.
  state.pebbles[v] = pv - 1;
  state.out_edges[v].push_back(u);
  return true;
}

std::uint64_t pebble_label_count(std::uint64_t n) {
  if (n > kMaxPebbleGameNodes) panic("capacity overflow");
  const std::uint64_t count = pair_count(n);
  checked_bytes(count, sizeof(std::uint8_t));
  return count;
}

void check_pebble_game_size(std::uint64_t n) { pebble_label_count(n); }

PebbleGameResult play_pebble_game(std::uint64_t n) {
  return play_pebble_game(n, PebbleGameMode::kStopAtFullCount);
}

PebbleGameResult play_pebble_game(std::uint64_t n, PebbleGameMode mode) {
  PebbleGameResult result;
  result.labels.assign(pebble_label_count(n), 0);
  if (n < 2) return result;

  // The (2,3) count allows at most 2n-3 bars. Once that many are accepted, the free pebbles
  // number 2n - (2n-3) = 3, since every node's free pebbles plus its out-degree is 2. A search
  // only moves a free pebble (onto a hidden endpoint's copy) and never creates one, so no
  // candidate can gather the four it needs: every later one is rejected and its moves undone.
  // The undo may reorder out-lists, but nothing read after that point depends on them, so
  // stopping here leaves exactly the labels (zeros) and accepted bars of the full game, in
  // O(n^2) time for the labels instead of O(n^3) for the searches.
  const std::uint64_t full_count = 2 * n - 3;
  result.accepted_edges.reserve(full_count);

  PebbleGameState state = PebbleGameState::make(n);
  VisitedSet visited = VisitedSet::make(n);
  MoveLog log;
  std::size_t label = 0;
  // Candidates (u, v), u < v, produced pair by pair in lexicographic order.
  for (std::uint64_t u = 0; u + 1 < n; ++u) {
    for (std::uint64_t v = u + 1; v < n; ++v, ++label) {
      if (mode == PebbleGameMode::kStopAtFullCount && result.accepted_edges.size() == full_count) {
        return result;
      }
      if (offer_bar(u, v, state, visited, log)) {
        result.labels[label] = 1;
        result.accepted_edges.push_back({u, v});
      }
      poll_interrupt(log.size() + 1);
    }
  }
  return result;
}

}  // namespace trussel
