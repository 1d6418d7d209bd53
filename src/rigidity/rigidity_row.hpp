// Rigidity-matrix rows of bars and the rank bound of a framework.
#pragma once

#include <cstdint>
#include <vector>

#include "node/node.hpp"

namespace trussel {

/// The rigidity-matrix row of the bar (i, j): n*d entries, node-major columns (node k owns
/// columns k*d .. k*d+d-1). Node i's block holds p_i - p_j, node j's block its negation, every
/// other entry +0.0.
struct RigidityRow {
  std::vector<double> values;
  std::uint64_t i = 0;
  std::uint64_t j = 0;

  /// Builds the row of bar (i, j) of `nodes`; d is node i's dimension. Throws Panic when i or j is
  /// not a position in `nodes`, or (with the equality message "Nodes must all have the same
  /// dimension") when node j's dimension differs from node i's.
  static RigidityRow make(const NodeList& nodes, std::uint64_t i, std::uint64_t j);
};

/// An unsigned integer of up to 128 bits, hi * 2^64 + lo.
struct WideCount {
  std::uint64_t hi = 0;
  std::uint64_t lo = 0;
  friend bool operator==(const WideCount&, const WideCount&) = default;
};

/// The exact rank bound max(0, n*d - d(d+1)/2), with no wrap-around for any 64-bit n and d.
WideCount rank_bound(std::uint64_t n, std::uint64_t d);

/// The rank bound for frameworks the simulations build (d of 2 or 3 and n nodes that fit in
/// memory), where it always fits in 64 bits; throws Panic "capacity overflow" otherwise.
std::uint64_t max_rank(std::uint64_t n, std::uint64_t d);

}  // namespace trussel
