// The (2,3) pebble game over the lexicographic candidate order of n nodes in the plane.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/edge.hpp"

namespace trussel {

/// Labels of every candidate pair (1 accepted, 0 rejected) and the accepted bars, both in
/// candidate order.
struct PebbleGameResult {
  std::vector<std::uint8_t> labels;
  std::vector<Edge> accepted_edges;
};

/// The game state of n nodes: free pebbles per node and the accepted bars as a directed graph.
/// Between candidates, pebbles[x] + out_edges[x].size() == 2 for every node x.
struct PebbleGameState {
  /// Free pebbles on each node; each starts at 2.
  std::vector<std::int32_t> pebbles;
  /// out_edges[x] lists, in order, the nodes w whose bar {x, w} is covered by a pebble of x.
  std::vector<std::vector<std::uint64_t>> out_edges;

  /// The starting state of n nodes: every count 2, every list empty. Lets std::bad_alloc
  /// propagate.
  static PebbleGameState make(std::uint64_t n);
};

/// One change made while gathering pebbles for a candidate bar, recorded so it can be undone.
struct PebbleMove {
  enum class Kind : std::uint8_t {
    TookPebble,    ///< a search took a free pebble from x
    GainedPebble,  ///< the driver credited endpoint x with the pebble its search freed
    ReversedEdge,  ///< a search turned the bar directed x to w into w to x
  };
  Kind kind = Kind::TookPebble;
  std::uint64_t x = 0;
  std::uint64_t w = 0;  ///< 0 unless kind is ReversedEdge

  friend bool operator==(const PebbleMove&, const PebbleMove&) = default;
};

/// The moves of one candidate bar, in the order they were made.
using MoveLog = std::vector<PebbleMove>;

/// The visited set of a pebble search over n nodes, plus the scratch stack the search walks on.
/// `clear` empties the set in constant time (a new epoch), so a search costs time in the nodes
/// it enters, not in n, and repeated searches do not allocate.
class VisitedSet {
 public:
  /// An empty set over nodes 0 .. n-1. Lets std::bad_alloc propagate.
  static VisitedSet make(std::uint64_t n);

  /// Empties the set.
  void clear() noexcept { ++epoch_; }
  /// Whether `node` (less than n) is in the set.
  bool contains(std::uint64_t node) const noexcept { return marks_[node] == epoch_; }
  /// Adds `node` (less than n) to the set.
  void insert(std::uint64_t node) noexcept { marks_[node] = epoch_; }

 private:
  friend bool find_pebble(std::uint64_t node, VisitedSet& visited, PebbleGameState& state,
                          MoveLog& log);

  // A node on the current search path and the position in its out-list being tried.
  struct Frame {
    std::uint64_t node;
    std::size_t next;
  };

  std::vector<std::uint64_t> marks_;  // marks_[x] == epoch_ exactly when x is in the set
  std::uint64_t epoch_ = 1;           // 64 bits: never wraps within any feasible run
  std::vector<Frame> stack_;
};

/// Depth-first search for a free pebble reachable from `node` (less than n) along out-edges,
/// trying out-neighbours in list order and entering no node of `visited` twice. On success
/// takes that pebble, reverses every bar of the path, appends TookPebble(end) and then
/// ReversedEdge(y_{k-1}, y_k) ... ReversedEdge(node, y_1) to `log`, and returns true. On
/// failure returns false having changed nothing but `visited`. Uses an explicit stack, so any
/// depth is safe. Does not clear `visited` first.
bool find_pebble(std::uint64_t node, VisitedSet& visited, PebbleGameState& state, MoveLog& log);

/// Reverts the moves of `log`, last to first; restores every count and every bar's direction
/// (a turned-back bar goes to the end of its owner's list). Leaves `log` unchanged.
void undo_moves(const MoveLog& log, PebbleGameState& state);

/// Offers the candidate bar (u, v), u < v < n: gathers four pebbles on its endpoints in passes
/// of searches, then accepts it (directed v to u, covered by a pebble of v) and returns true, or
/// undoes every move and returns false. `log` is cleared first and afterwards holds the moves
/// made for this bar (reverted ones too when it was rejected).
bool offer_bar(std::uint64_t u, std::uint64_t v, PebbleGameState& state, VisitedSet& visited,
               MoveLog& log);

/// The number of candidate pairs of n nodes, n(n-1)/2. Throws Panic "capacity overflow" when n
/// exceeds 2^59 or the labels (one byte per pair) would not fit in a signed 64-bit byte size;
/// the second rule already refuses every n above 2^32.
std::uint64_t pebble_label_count(std::uint64_t n);

/// Refuses, with Panic "capacity overflow", a node count whose candidate or label storage would
/// not fit in a signed 64-bit byte size (more than 2^59 nodes, or too many pairs). Called
/// before the game starts, with the interpreter lock held.
void check_pebble_game_size(std::uint64_t n);

/// Whether the driver stops once no later candidate can be accepted.
enum class PebbleGameMode : std::uint8_t {
  kStopAtFullCount,  ///< stop after 2n-3 accepted bars; the remaining labels stay 0
  kOfferAll,         ///< offer every candidate (for tests: same result, cubic time)
};

/// Plays the game for n nodes. Pure computation; runs with the interpreter lock released.
/// Throws Panic "capacity overflow" as check_pebble_game_size; lets std::bad_alloc propagate.
PebbleGameResult play_pebble_game(std::uint64_t n);

/// As play_pebble_game(n), with the stopping rule chosen by `mode`.
PebbleGameResult play_pebble_game(std::uint64_t n, PebbleGameMode mode);

}  // namespace trussel
