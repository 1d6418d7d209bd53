// A fill-reducing order of the nodes of a graph, for sparse elimination of its rigidity rows.
#pragma once

#include <cstdint>
#include <vector>

#include "common/edge.hpp"

namespace trussel {

/// Nested dissection by breadth-first level sets: each connected part of more than a few nodes is
/// split by the middle level of a breadth-first search from a far node, both sides are ordered
/// recursively and the separating level comes after them, so eliminating nodes in this order
/// fills in like elimination on a planar or spatial mesh with its separators last (O(n log n)
/// entries in the plane). Returns the position of each node (a permutation of 0 .. n-1); depends
/// on nothing but n and the edges. Time O((n + E) log n), memory O(n + E); edges must be valid
/// for n nodes.
std::vector<std::uint32_t> nested_dissection_order(std::uint64_t n, const std::vector<Edge>& edges);

/// Column keys for the rigidity matrix of n nodes in d dimensions: column v*d + c gets the key
/// position[v]*d + c.
std::vector<std::uint64_t> column_priority(const std::vector<std::uint32_t>& position,
                                           std::uint64_t d);

}  // namespace trussel
