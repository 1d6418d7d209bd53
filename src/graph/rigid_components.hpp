// Generic rigidity of a given edge list in the plane: the (2,3) pebble game, redundant bars and
// the rigid components.
#pragma once

#include <cstdint>
#include <vector>

#include "common/edge.hpp"

namespace trussel {

/// What the game finds for n nodes and E bars, per bar in the given order.
struct RigidComponentsResult {
  /// 1 when the bar is independent of the bars before it (accepted by the game), else 0.
  std::vector<std::uint8_t> independent;
  /// 1 when the bar lies in a circuit of the generic rigidity matroid (removing it alone leaves
  /// the rank unchanged), else 0; independent of the order of the bars.
  std::vector<std::uint8_t> redundant;
  /// The rigid component holding the bar, numbered 0, 1, ... by first appearance.
  std::vector<std::int64_t> component;
  std::uint64_t n_components = 0;
  /// The generic rank of the bars: the number of independent ones.
  std::uint64_t rank = 0;
};

/// Plays the (2,3) pebble game over `edges` (already checked by check_edge_list for n nodes) in
/// order; a bar is independent when four pebbles can be gathered on its ends. A dependent bar's
/// fundamental circuit is spanned by the nodes its failed search reaches; circuits are merged
/// into clusters (the node sets of circuit-connected bars, merged when two share two nodes), and
/// a bar with both ends in one cluster is dependent without a search. Inside the game a cluster's
/// bars are replaced by a star (a bar between two anchor nodes and bars from every other node to
/// both), which spans the same motions, so later searches cross a cluster in a few steps. The
/// redundant bars are those with both ends in one cluster. The rigid components of the final
/// graph are found afterwards, each once: the nodes that cannot reach a free pebble while three
/// sit on the ends of one of its bars. Memory O(E) (nodes that no bar touches cost nothing).
/// Pure; lets std::bad_alloc propagate and throws Panic "capacity overflow" for sizes that
/// cannot be represented.
RigidComponentsResult find_rigid_components(std::uint64_t n, const std::vector<Edge>& edges);

}  // namespace trussel
