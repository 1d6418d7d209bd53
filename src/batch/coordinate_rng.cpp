// The seeded coordinate generator of training frameworks.
#include "batch/coordinate_rng.hpp"

#include <cstddef>

#include "common/errors.hpp"

namespace trussel {

double CoordinateRng::next_coordinate() noexcept {
  // Unsigned arithmetic wraps modulo 2^64, as the generator requires.
  state_ = state_ * kMultiplier + kIncrement;
  const std::uint64_t high_bits = state_ >> 33;
  // Divide first, then scale: one precomputed factor 10 / (2^32 - 1) rounds
  // differently.
  double x = static_cast<double>(high_bits);
  x = x / 4294967295.0;
  x = x * 10.0;
  return x;
}

NodeList draw_framework(CoordinateRng& rng, std::uint64_t n_nodes, std::uint64_t d) {
  checked_bytes(n_nodes, sizeof(Node));
  const std::size_t coordinate_count = checked_bytes(d, sizeof(double)) / sizeof(double);
  NodeList nodes;
  nodes.reserve(static_cast<std::size_t>(n_nodes));
  for (std::uint64_t i = 0; i < n_nodes; ++i) {
    Node node;
    node.index = i;
    node.coords.reserve(coordinate_count);
    for (std::uint64_t c = 0; c < d; ++c) node.coords.push_back(rng.next_coordinate());
    nodes.push_back(std::move(node));
  }
  return nodes;
}

FloatMatrix draw_coordinates(CoordinateRng& rng, std::uint64_t n_nodes, std::uint64_t d) {
  FloatMatrix coords(n_nodes, d);
  for (std::uint64_t i = 0; i < n_nodes; ++i) {
    for (std::uint64_t c = 0; c < d; ++c) coords.at(i, c) = rng.next_coordinate();
  }
  return coords;
}

}  // namespace trussel
