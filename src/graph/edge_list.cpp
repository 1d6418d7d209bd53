// An edge list given by the caller (rows of two node indices) and the checks made on it.
#include "graph/edge_list.hpp"

#include <algorithm>
#include <limits>
#include <string>
#include <tuple>

#include "common/errors.hpp"

namespace trussel {
namespace {

std::string value_text(std::uint64_t value, bool signed_values) {
  if (signed_values &&
      value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return std::to_string(static_cast<std::int64_t>(value));
  }
  return std::to_string(value);
}

std::string row_text(std::size_t row, const Edge& edge, bool signed_values) {
  return "edges row " + std::to_string(row) + " is (" + value_text(edge.i, signed_values) + ", " +
         value_text(edge.j, signed_values) + "): ";
}

}  // namespace

void check_edge_list(std::uint64_t n, const std::vector<Edge>& edges, bool signed_values) {
  const std::size_t count = edges.size();
  // The first row with an index out of range or a self-loop; `count` when there is none.
  std::size_t first_bad = count;
  for (std::size_t k = 0; k < count && first_bad == count; ++k) {
    if (edges[k].i >= n || edges[k].j >= n || edges[k].i == edges[k].j) first_bad = k;
  }
  // The first row repeating an earlier one, found among the rows before first_bad: sorting the
  // rows by (smaller index, larger index, row) puts the copies of one bar side by side, earliest
  // row first.
  struct Key {
    std::uint64_t low, high;
    std::size_t row;
  };
  std::vector<Key> keys;
  keys.reserve(first_bad);
  for (std::size_t k = 0; k < first_bad; ++k) {
    keys.push_back({std::min(edges[k].i, edges[k].j), std::max(edges[k].i, edges[k].j), k});
  }
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    return std::tie(a.low, a.high, a.row) < std::tie(b.low, b.high, b.row);
  });
  std::size_t first_repeat = count, earlier = count;
  for (std::size_t s = 0; s < keys.size();) {
    std::size_t t = s + 1;
    while (t < keys.size() && keys[t].low == keys[s].low && keys[t].high == keys[s].high) ++t;
    if (t - s >= 2 && keys[s + 1].row < first_repeat) {
      first_repeat = keys[s + 1].row;
      earlier = keys[s].row;
    }
    s = t;
  }
  if (first_repeat < count) {
    throw ValueError(row_text(first_repeat, edges[first_repeat], signed_values) +
                     "the same bar as row " + std::to_string(earlier));
  }
  if (first_bad == count) return;
  const Edge& edge = edges[first_bad];
  if (edge.i >= n || edge.j >= n) {
    const std::uint64_t node = edge.i >= n ? edge.i : edge.j;
    throw ValueError(row_text(first_bad, edge, signed_values) + "node " +
                     value_text(node, signed_values) + " is out of range for " + std::to_string(n) +
                     " nodes");
  }
  throw ValueError(row_text(first_bad, edge, signed_values) + "a bar cannot join a node to itself");
}

void check_edge_list(std::uint64_t n, const EdgeList& list) {
  check_edge_list(n, list.edges, list.signed_values);
}

}  // namespace trussel
