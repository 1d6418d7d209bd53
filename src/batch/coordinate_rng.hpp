// The seeded coordinate generator of training frameworks.
#pragma once

#include <cstdint>

#include "common/matrix.hpp"
#include "node/node.hpp"

namespace trussel {

/// 64-bit linear congruential generator (multiplier 6364136223846793005,
/// increment 1442695040888963407) whose 31 high bits are scaled to a coordinate
/// in [0, 5).
class CoordinateRng {
 public:
  /// The LCG multiplier (Knuth's MMIX constant).
  static constexpr std::uint64_t kMultiplier = 6364136223846793005ULL;
  /// The LCG increment (Knuth's MMIX constant).
  static constexpr std::uint64_t kIncrement = 1442695040888963407ULL;

  /// A stream whose first coordinate comes from the state after one step from
  /// `start`; the start value is used unchanged (no mixing, no warm-up).
  explicit CoordinateRng(std::uint64_t start) noexcept : state_(start) {}
  /// Advances the state once and returns ((state >> 33) / 4294967295.0) * 10.0,
  /// two separately rounded operations; the result lies in
  /// [0.0, 4.999999998835847].
  double next_coordinate() noexcept;
  /// The current state (the last value the coordinates were drawn from).
  std::uint64_t state() const noexcept { return state_; }

 private:
  std::uint64_t state_;
};

/// n_nodes points of d coordinates drawn node-major from `rng` (all d
/// coordinates of node 0, coordinate 0 first, then node 1, ...); node i has
/// index i. Throws Panic "capacity overflow" when the node list's or a
/// coordinate vector's byte size does not fit in a signed 64-bit integer;
/// std::bad_alloc propagates.
NodeList draw_framework(CoordinateRng& rng, std::uint64_t n_nodes, std::uint64_t d);

/// The coordinates of draw_framework(rng, n_nodes, d) as one row-major n_nodes x d matrix (row
/// i is node i), drawn in the same order. Throws Panic "capacity overflow" when its byte size
/// does not fit in a signed 64-bit integer; std::bad_alloc propagates.
FloatMatrix draw_coordinates(CoordinateRng& rng, std::uint64_t n_nodes, std::uint64_t d);

}  // namespace trussel
