// The rank-based rigidity simulation: candidate order, distance matrix, edge-by-edge labelling.
#include "simulation/simulation.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "rank/incremental_rank_checker.hpp"
#include "rigidity/rigidity_row.hpp"

namespace trussel {

void check_simulate_arguments(std::uint64_t rows, std::uint64_t cols, std::uint64_t d) {
  if (cols != d) {
    throw ValueError("coords has " + std::to_string(cols) + " columns but d=" + std::to_string(d) +
                     " was specified");
  }
  if (d != 2 && d != 3) throw ValueError("d must be 2 or 3");
  if (rows <= d) {
    throw ValueError("Need at least " + std::to_string(d + 1) +
                     " nodes for d=" + std::to_string(d) + ", got " + std::to_string(rows));
  }
}

FloatMatrix distance_matrix(const NodeList& nodes) {
  const std::uint64_t n = nodes.size();
  const std::size_t d = n == 0 ? 0 : nodes[0].coords.size();
  for (const Node& node : nodes) {
    check_eq(d, node.coords.size(), "Nodes must all have the same dimension");
  }
  FloatMatrix result(n, n);
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::vector<double>& pi = nodes[i].coords;
    for (std::uint64_t j = 0; j < n; ++j) {
      const std::vector<double>& pj = nodes[j].coords;
      // Every entry on its own and the sum left to right, so the matrix is exactly symmetric.
      // Starting from +0.0 or -0.0 gives the same bits for d >= 1 (squares are never -0.0).
      double sum = 0.0;
      for (std::size_t c = 0; c < d; ++c) {
        const double delta = pi[c] - pj[c];
        const double square = delta * delta;
        sum = sum + square;
      }
      result.at(i, j) = std::sqrt(sum);
    }
    poll_interrupt(n * (d + 1));
  }
  return result;
}

Labelling label_edge_by_edge(const NodeList& nodes, std::uint64_t d, double tol,
                             std::uint64_t max_rank, std::vector<Edge>* edges) {
  const std::uint64_t n = nodes.size();
  const std::uint64_t count = pair_count(n);
  const std::uint64_t ncols = checked_mul(n, d);

  Labelling result;
  checked_bytes(count, sizeof(std::uint8_t));
  result.labels.assign(static_cast<std::size_t>(count), 0);
  // For n > d at most max_rank candidates are accepted; smaller frameworks may grow past it.
  const std::uint64_t expected_accepted = std::min(max_rank, count);
  checked_bytes(expected_accepted, sizeof(Edge));
  result.accepted_edges.reserve(static_cast<std::size_t>(expected_accepted));
  if (edges != nullptr) {
    checked_bytes(count, sizeof(Edge));
    edges->reserve(edges->size() + static_cast<std::size_t>(count));
  }

  IncrementalRankChecker checker = IncrementalRankChecker::make(ncols, tol);
  Edge candidate{0, 1};
  std::uint64_t position = 0;
  for (; position < count; ++position, candidate = next_candidate(candidate, n)) {
    RigidityRow row = RigidityRow::make(nodes, candidate.i, candidate.j);
    if (edges != nullptr) edges->push_back(candidate);
    if (checker.add_row(std::move(row.values))) {
      result.labels[static_cast<std::size_t>(position)] = 1;
      result.accepted_edges.push_back(candidate);
    }
    poll_interrupt(ncols * (checker.rank() + 1));
    // Tested after every candidate, accepted or not, and only for equality.
    if (checker.rank() == max_rank) {
      ++position;
      break;
    }
  }
  // The untested rest keep label 0; only their positions are recorded.
  if (edges != nullptr) {
    for (; position < count; ++position) {
      candidate = next_candidate(candidate, n);
      edges->push_back(candidate);
    }
  }
  result.final_rank = checker.rank();
  return result;
}

SimulationResult run_simulation(const NodeList& nodes, std::uint64_t d, double tol) {
  check(!nodes.empty(), "Node list must not be empty");
  check(d == 2 || d == 3, "Only d=2 and d=3 are supported");
  for (const Node& node : nodes) {
    if (node.coords.size() != d) panic("All nodes must have dimension d=" + std::to_string(d));
  }

  const std::uint64_t n = nodes.size();
  SimulationResult result;
  result.max_rank = max_rank(n, d);
  Labelling labelling = label_edge_by_edge(nodes, d, tol, result.max_rank, &result.edges);
  result.labels = std::move(labelling.labels);
  result.accepted_edges = std::move(labelling.accepted_edges);
  result.distance_matrix = distance_matrix(nodes);
  result.n_nodes = n;
  result.d = d;
  result.final_rank = labelling.final_rank;
  result.is_rigid = result.final_rank == result.max_rank;
  return result;
}

}  // namespace trussel
