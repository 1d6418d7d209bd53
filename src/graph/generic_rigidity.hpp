// Generic rigidity of a graph in the plane or in space: the rank of its rigidity matrix at
// generic positions, decided exactly.
#pragma once

#include <cstdint>
#include <vector>

#include "common/edge.hpp"

namespace trussel {

/// The generic answer for n nodes, bars `edges` in the given order, in d dimensions.
struct GenericRigidity {
  std::vector<std::uint8_t> labels;     // 1 when the bar raises the generic rank of those before it
  std::vector<std::uint8_t> redundant;  // 1 when the bar lies in a circuit of the generic matroid
  std::uint64_t rank = 0;
  std::uint64_t max_rank = 0;
};

/// The seed of the random positions over GF(2^61 - 1); fixed, so answers are reproducible.
inline constexpr std::uint64_t kGenericSeed = 0x7275737365ull;

/// The rank of the rigidity matrix at random positions over GF(2^61 - 1) (kGenericSeed), by
/// exact sparse elimination of the rows in the given order with a nested-dissection column
/// order; `redundant` is the support of a random combination (same seed) of the fundamental
/// circuits. Each prefix rank, and so each label, is the generic one unless a non-zero
/// polynomial of degree at most the rank vanishes at the random point: with probability at most
/// E * rank / (2^61 - 1) over the choice of the seed; `redundant` adds E / (2^61 - 1). Valid
/// edges (check_edge_list); d of 2 or 3. Touches no Python object; polls for interrupts.
GenericRigidity generic_rigidity_modular(std::uint64_t n, const std::vector<Edge>& edges,
                                         std::uint64_t d);

/// generic_rigidity_modular's answer together with what it was computed from: the random
/// positions (x[v * d + c], values below 2^61 - 1) and the random self-stress whose support is
/// `redundant` (one value per bar: sum over bars of stress[e] times the bar's rigidity row is zero;
/// all zero when the bars are independent).
struct GenericSelfStress {
  GenericRigidity rigidity;
  std::vector<std::uint64_t> positions;
  std::vector<std::uint64_t> stress;
};

/// generic_rigidity_modular, keeping the positions and the self-stress; the same answer.
GenericSelfStress generic_self_stress(std::uint64_t n, const std::vector<Edge>& edges,
                                      std::uint64_t d);

/// The generic answer: in the plane the (2,3) pebble game (exact, find_rigid_components), in
/// space generic_rigidity_modular.
GenericRigidity generic_rigidity(std::uint64_t n, const std::vector<Edge>& edges, std::uint64_t d);

}  // namespace trussel
