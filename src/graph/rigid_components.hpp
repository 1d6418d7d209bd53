// Generic rigidity of a given edge list in the plane: the (2,3) pebble game with rigid-component
// bookkeeping, redundant bars and the rigid components.
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
/// order. A bar whose endpoints already lie in one rigid component is rejected without a
/// search; an accepted bar's rigid component is found by the reverse search over the nodes that
/// cannot reach a free pebble. A rejected bar's fundamental circuit is the set of bars spanned by
/// the nodes its failed search reaches; the redundant bars are the union of these circuits,
/// kept as vertex sets of circuit-connected clusters so that a bar inside one needs no search.
/// Memory O(E) (nodes that no bar touches cost nothing). Pure; lets std::bad_alloc propagate and
/// throws Panic "capacity overflow" for sizes that cannot be represented.
RigidComponentsResult find_rigid_components(std::uint64_t n, const std::vector<Edge>& edges);

}  // namespace trussel
