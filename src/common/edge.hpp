// A bar between two nodes, and the lexicographic candidate order over node pairs.
#pragma once

#include <cstdint>

namespace trussel {

/// A bar (i, j) between nodes i and j; candidates and accepted bars always have i < j.
struct Edge {
  std::uint64_t i = 0;
  std::uint64_t j = 0;
  friend bool operator==(const Edge&, const Edge&) = default;
};

/// The number of node pairs of n nodes, n(n-1)/2; the caller ensures it fits in 64 bits.
constexpr std::uint64_t pair_count(std::uint64_t n) noexcept {
  return n < 2 ? 0 : (n % 2 == 0 ? (n / 2) * (n - 1) : n * ((n - 1) / 2));
}

}  // namespace trussel
