// The rank-based rigidity simulation: candidate order, distance matrix, edge-by-edge labelling.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/edge.hpp"
#include "common/matrix.hpp"
#include "node/node.hpp"

namespace trussel {

/// The rank tolerance of the batch and the default of simulate(): 1e-9.
inline constexpr double kSimulateTolerance = 1e-9;

/// Labels of one framework's candidates, in candidate order (1 independent, 0 redundant,
/// untested candidates 0), the accepted bars in candidate order, and the rank reached.
struct Labelling {
  std::vector<std::uint8_t> labels;
  std::vector<Edge> accepted_edges;
  std::uint64_t final_rank = 0;
};

/// What run_simulation produces for one framework.
struct SimulationResult {
  std::vector<Edge> edges;  // every candidate, in candidate order
  std::vector<std::uint8_t> labels;
  std::vector<Edge> accepted_edges;
  FloatMatrix distance_matrix;  // n x n
  std::uint64_t n_nodes = 0;
  std::uint64_t d = 0;
  std::uint64_t final_rank = 0;
  std::uint64_t max_rank = 0;
  bool is_rigid = false;
};

/// The candidate after `edge` in candidate order, the lexicographic order of the pairs (i, j),
/// i < j < n: (0, 1), (0, 2), ..., (0, n-1), (1, 2), ..., (n-2, n-1). Only meaningful for an edge
/// before the last one.
constexpr Edge next_candidate(Edge edge, std::uint64_t n) noexcept {
  return edge.j + 1 < n ? Edge{edge.i, edge.j + 1} : Edge{edge.i + 1, edge.i + 2};
}

/// simulate()'s value checks, in order, as ValueError: column count equal to d ("coords has <cols>
/// columns but d=<d> was specified"), d of 2 or 3 ("d must be 2 or 3"), more than d rows ("Need at
/// least <d+1> nodes for d=<d>, got <rows>"). Allocates nothing.
void check_simulate_arguments(std::uint64_t rows, std::uint64_t cols, std::uint64_t d);

/// The n x n Euclidean distance matrix of `nodes` (d = the nodes' dimension); every entry,
/// both triangles and the diagonal, computed on its own. Throws Panic with the equality message
/// "Nodes must all have the same dimension" when a node's dimension differs from node 0's.
FloatMatrix distance_matrix(const NodeList& nodes);

/// Offers every candidate in order to a fresh rank checker until its rank equals `max_rank`;
/// the untested rest are labelled 0. When `edges` is given, every candidate is appended to it.
/// The checker has n*d columns; throws Panic "capacity overflow" when n*d or E does not fit, and
/// the Panics of RigidityRow::make and IncrementalRankChecker::add_row on nodes of another
/// dimension than d. Touches no Python object (run it with the interpreter lock released).
Labelling label_edge_by_edge(const NodeList& nodes, std::uint64_t d, double tol,
                             std::uint64_t max_rank, std::vector<Edge>* edges = nullptr);

/// simulate()'s fast path: tests only the first min(max_rank, E) candidates and succeeds when
/// they reach max_rank, giving the labelling label_edge_by_edge() would give; nullopt otherwise.
/// Also nullopt when max_rank is 0 but there are candidates (the edge-by-edge procedure tests the
/// first one regardless), which simulate()'s arguments never give. Same Panics as
/// label_edge_by_edge(); touches no Python object.
std::optional<Labelling> run_fast_path(const NodeList& nodes, std::uint64_t d, double tol,
                                       std::uint64_t max_rank);

/// The full simulation of one framework, as the batch runs it. Throws Panic "Node list must not
/// be empty", "Only d=2 and d=3 are supported" or "All nodes must have dimension d=<d>", in that
/// order. Always runs the edge-by-edge procedure and records every candidate in `edges`.
SimulationResult run_simulation(const NodeList& nodes, std::uint64_t d, double tol);

}  // namespace trussel
