// The rigidity simulation of many frameworks of one size, on flat storage that only spans the
// columns of the nodes reached so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/matrix.hpp"
#include "simulation/compact_kernels.hpp"
#include "simulation/simulation.hpp"

namespace trussel {

/// Runs run_simulation() on frameworks of n nodes in d dimensions, one after another, with the
/// same results bit for bit (labels, accepted edges, ranks, distance matrix) and without its
/// per-framework costs: the basis is one reused row-major block instead of a vector per row, the
/// back-elimination is immediate, and every row operation stops at the last column of the nodes
/// that the candidates have reached so far (in candidate order, the columns of nodes 0 .. j when
/// the candidate is (0, j)). Frameworks with a non-finite coordinate, a tolerance that is not
/// >= 0, or an elimination step with a non-finite factor are handed to run_simulation() itself.
class CompactSimulator {
 public:
  /// For frameworks of `n` nodes in `d` dimensions and the tolerance `tol`. Throws, in this order,
  /// Panic "Node list must not be empty" (n = 0), "Only d=2 and d=3 are supported", and "capacity
  /// overflow" when the candidate list, the row length or the label vector cannot be represented.
  /// Allocates nothing. `kernels` are the row operations to use (those for this processor by
  /// default).
  CompactSimulator(std::uint64_t n, std::uint64_t d, double tol,
                   const CompactKernels& kernels = compact_kernels());

  /// run_simulation(nodes, d, tol) of the nodes whose coordinates are the rows of `coords`
  /// (n x d), except that `edges` is left empty (the candidate order is fixed by n). Polls for
  /// interrupts; std::bad_alloc propagates.
  SimulationResult simulate(const FloatMatrix& coords);

 private:
  // The edge-by-edge procedure on the flat basis; false (and `result` unusable) when a factor of
  // the elimination is not finite, the one case in which skipping columns could change a value.
  bool label_compactly(const double* coords, Labelling& result);
  // The distance matrix of finite coordinates, each pair computed once and mirrored.
  FloatMatrix compact_distances(const double* coords);

  const CompactKernels* kernels_;
  std::uint64_t n_ = 0;
  std::uint64_t d_ = 0;
  double tol_ = 0.0;
  std::uint64_t ncols_ = 0;
  std::uint64_t count_ = 0;
  std::uint64_t max_rank_ = 0;
  std::size_t stride_ = 0;       // entries per stored row: ncols_ rounded up to a column group
  std::size_t basis_limit_ = 0;  // entries of the largest basis a framework can need
  // Accepted rows, `stride_` entries each; entries past the columns in use are +0.0.
  std::vector<double> basis_;
  std::vector<std::size_t> pivots_;  // the pivot column of each basis row
  // The coordinates axis by axis, for the distances.
  std::vector<double> columns_;
  // The row under test.
  std::vector<double> row_;
};

}  // namespace trussel
