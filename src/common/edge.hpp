// A bar between two nodes, and the lexicographic candidate order over node pairs.
#pragma once

#include <cstdint>

#include "common/errors.hpp"

namespace trussel {

/// A bar (i, j) between nodes i and j; candidates and accepted bars always have i < j.
struct Edge {
  std::uint64_t i = 0;
  std::uint64_t j = 0;
  friend bool operator==(const Edge&, const Edge&) = default;
};

/// The number of node pairs of n nodes, n(n-1)/2; throws Panic "capacity overflow" when it does
/// not fit in 64 bits.
inline std::uint64_t pair_count(std::uint64_t n) {
  if (n < 2) return 0;
  // The even factor is halved first, so only the final product can overflow.
  return n % 2 == 0 ? checked_mul(n / 2, n - 1) : checked_mul(n, (n - 1) / 2);
}

}  // namespace trussel
