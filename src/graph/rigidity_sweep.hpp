// Rigidity percolation in one pass: bars added one at a time to a plane graph, the rigid clusters
// kept up to date after every bar.
#pragma once

#include <cstdint>
#include <vector>

#include "common/edge.hpp"

namespace trussel {

/// What the sweep finds for n nodes and E bars added in the given order.
struct RigiditySweepResult {
  /// 1 when the bar is independent of the bars before it, else 0 (as find_rigid_components).
  std::vector<std::uint8_t> independent;
  /// After each bar: the most bars and, maximised on its own, the most nodes of a rigid cluster,
  /// and the number of rigid clusters (each has at least one bar; a lone bar is one of 2 nodes).
  std::vector<std::int64_t> largest_bars, largest_nodes, n_clusters;
  /// The rigid cluster of each bar once all bars are in, numbered 0, 1, ... by first appearance,
  /// as find_rigid_components numbers its components.
  std::vector<std::int64_t> component;
  /// The number of independent bars.
  std::uint64_t rank = 0;
};

/// Adds the bars of `edges` (already checked by check_edge_list for n nodes) in order and keeps
/// the rigid clusters (rigid components) of the bars so far. A bar whose ends share a cluster is
/// redundant and joins that cluster; any other bar is independent (the closure of a plane bar
/// set is the union of the complete graphs on its clusters), is placed in a (2,3) pebble game,
/// and with three pebbles on its ends the clusters that then cannot reach a free pebble merge
/// with it. That merge is found cluster by cluster (one search per neighbouring cluster), never
/// entering the pins of the largest merging cluster, and inside the game each cluster is held as
/// a star on two anchors, the smaller clusters moved onto the largest one's. Memory O(n + E)
/// (O(E) when nodes that no bar touches are many); time near linear on percolation lattices.
/// Pure; lets std::bad_alloc propagate, throws Panic "capacity overflow" for sizes that cannot be
/// represented, and polls for interruption.
RigiditySweepResult sweep_rigidity(std::uint64_t n, const std::vector<Edge>& edges);

/// sweep_rigidity with 64-bit internal indices when `wide`, 32-bit ones otherwise (which the
/// sizes must allow), rather than the narrowest the sizes allow; both give the same result.
RigiditySweepResult sweep_rigidity_with_width(std::uint64_t n, const std::vector<Edge>& edges,
                                              bool wide);

}  // namespace trussel
