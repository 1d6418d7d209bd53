// The seeded coordinate generator of training frameworks.
#pragma once

#include <cstdint>

#include "node/node.hpp"

namespace trussel {

/// 64-bit linear congruential generator (multiplier 6364136223846793005, increment
/// 1442695040888963407) whose 31 high bits are scaled to a coordinate in [0, 5).
class CoordinateRng {
 public:
  explicit CoordinateRng(std::uint64_t start) noexcept : state_(start) {}
  /// Advances the state once and returns ((state >> 33) / 4294967295.0) * 10.0.
  double next_coordinate() noexcept;
  std::uint64_t state() const noexcept { return state_; }

 private:
  std::uint64_t state_;
};

/// n_nodes points of d coordinates drawn node-major from `rng`; node i has index i.
NodeList draw_framework(CoordinateRng& rng, std::uint64_t n_nodes, std::uint64_t d);

}  // namespace trussel
