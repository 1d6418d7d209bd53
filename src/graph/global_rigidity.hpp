// Generic global rigidity of a graph: vertex connectivity, redundant rigidity and the stress
// matrix of a random self-stress.
#pragma once

#include <cstdint>
#include <vector>

#include "common/edge.hpp"

namespace trussel {

/// Up to this many nodes, vertex_connectivity tests 3-connectivity directly (see there).
inline constexpr std::uint64_t kBruteForceLimit = 64;

/// The vertex connectivity of the graph of n nodes and `edges` (valid for n nodes, no repeated
/// pair), capped at 3: 0 when it is disconnected or has at most one node, n - 1 for a complete
/// graph, else the fewest nodes whose removal disconnects it (at most 3 reported). Linear time
/// decides 0, 1 and 2 where a cut node or a node of degree 2 shows them. A 2-connected graph of
/// minimum degree 3 on more than `brute_force_limit` nodes is first proved 3-connected, if it
/// can be, by growing a 3-connected part node by node and path by path (near-linear time on
/// meshes, lattices and other graphs whose closed neighbourhoods are 3-connected). Where the
/// growth stops, a connected part outside the grown part that touches it in 2 nodes proves
/// connectivity 2, also in linear time. Otherwise each node in turn is removed and the rest
/// searched for a cut node: O(n (n + E)) time. Memory
/// O(n + E). Polls for interrupts; throws Panic "capacity overflow" from 2^32 nodes with
/// E >= n - 1.
std::uint64_t vertex_connectivity(std::uint64_t n, const std::vector<Edge>& edges,
                                  std::uint64_t brute_force_limit = kBruteForceLimit);

/// The rank over GF(2^61 - 1) of the n x n stress matrix of the self-stress `stress` (one value per
/// bar): entry (i, j) is -stress of bar ij, the diagonal the sum of the stresses at the node.
/// Exact sparse elimination in nested-dissection order. Polls for interrupts.
std::uint64_t stress_matrix_rank(std::uint64_t n, const std::vector<Edge>& edges,
                                 const std::vector<std::uint64_t>& stress);

/// How global_rigidity decides global rigidity in the plane.
enum class GlobalRigidityMethod {
  kAutomatic,     // plane: 3-connected and redundantly rigid; space: the stress matrix
  kStressMatrix,  // the stress matrix in the plane too (for cross-checks)
};

/// The generic answers for one graph.
struct GlobalRigidity {
  bool is_rigid = false;
  bool is_redundantly_rigid = false;  // rigid, and every bar in a circuit
  bool is_globally_rigid = false;
  std::uint64_t rank = 0;
  std::uint64_t max_rank = 0;
  std::uint64_t connectivity = 0;  // vertex_connectivity (computed in the plane only)
};

/// Generic global rigidity of n nodes joined by `edges` (valid for n nodes) in d = 2 or 3
/// dimensions. A graph on at most d + 1 nodes is globally rigid when complete. In the plane
/// (automatic method) a larger graph is globally rigid when 3-connected and redundantly rigid,
/// rank and redundancy from the (2,3) pebble game: exact. Otherwise a larger graph is globally
/// rigid when rigid and the stress matrix of a random self-stress at random positions over
/// GF(2^61 - 1) (generic_self_stress) has rank n - d - 1: "true" answers are certain, a globally
/// rigid graph is missed with probability at most (E + n)(rank + 1) / (2^61 - 1) over the seed.
/// Polls for interrupts; throws Panic "capacity overflow" for sizes that cannot be represented.
GlobalRigidity global_rigidity(std::uint64_t n, const std::vector<Edge>& edges, std::uint64_t d,
                               GlobalRigidityMethod method = GlobalRigidityMethod::kAutomatic);

}  // namespace trussel
