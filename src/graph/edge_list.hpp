// An edge list given by the caller (rows of two node indices) and the checks made on it.
#pragma once

#include <cstdint>
#include <vector>

#include "common/edge.hpp"

namespace trussel {

/// The rows of an edge-list argument, in the caller's order: row k joins nodes edges[k].i and
/// edges[k].j (either may be the larger). When `signed_values` is true the rows were read from a
/// signed integer type, and a value of 2^63 or more holds the two's complement of a negative
/// index; messages then print it as that negative number.
struct EdgeList {
  std::vector<Edge> edges;
  bool signed_values = false;
};

/// Refuses an edge list for n nodes with ValueError naming the first offending row, checking each
/// row in order for, first, an index outside 0 .. n-1 ("edges row <k> is (<i>, <j>): node <x> is
/// out of range for <n> nodes"), then a self-loop ("edges row <k> is (<i>, <i>): a bar cannot
/// join a node to itself"), then a pair given by an earlier row m in either orientation ("edges
/// row <k> is (<i>, <j>): the same bar as row <m>"). Values are printed as unsigned numbers, or
/// as signed ones when `signed_values`. Time O(E log E), memory O(E); lets std::bad_alloc
/// propagate.
void check_edge_list(std::uint64_t n, const std::vector<Edge>& edges, bool signed_values = false);

/// check_edge_list(n, list.edges, list.signed_values).
void check_edge_list(std::uint64_t n, const EdgeList& list);

}  // namespace trussel
