// The (2,3) pebble game over the lexicographic candidate order of n nodes in the plane.
#pragma once

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

/// Refuses, with Panic "capacity overflow", a node count whose candidate or label storage would
/// not fit in a signed 64-bit byte size (more than 2^59 nodes, or too many pairs). Called
/// before the game starts, with the interpreter lock held.
void check_pebble_game_size(std::uint64_t n);

/// Plays the game for n nodes. Pure computation; runs with the interpreter lock released.
PebbleGameResult play_pebble_game(std::uint64_t n);

}  // namespace trussel
