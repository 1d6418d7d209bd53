// The rigidity simulation of many frameworks of one size, on flat storage that only spans the
// columns of the nodes reached so far.
#include "simulation/compact_simulation.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "node/node.hpp"
#include "rigidity/rigidity_row.hpp"

// Why stopping at the columns in use changes no result.
//
// Call a column in use once a candidate with an endpoint at that column's node has been offered
// (in candidate order these are the columns of nodes 0 .. j for the candidate (i, j), j > i).
// The plain elimination (an IncrementalRankChecker over all n*d columns) treats each column on
// its own: an entry changes only by x - m * y and x / v, with x and y from the same column and
// the factors m (the reduced row's entry c, the basis entry f) and the divisor v read from pivot
// columns, which are in use. A column not in use holds +0.0 in every new row; while every factor
// is finite, x - m * (+-0) and +-0 / v keep it at a zero of either sign, so it never supplies a
// pivot or a factor (|+-0| > tol is false for tol >= 0) and never affects another column. Here
// the operations leave those columns out (or run over them where both operands hold +0.0, which
// keeps +0.0 there), and a column coming into use starts at +0.0 in the old basis rows. Values that
// agree except for the sign of a zero keep agreeing under x - m * y and x / v (with m and v equal
// and finite), and the sign of a zero never decides a comparison with the tolerance, so every
// factor, pivot and answer equals the plain elimination's, and so do the labels, accepted edges and
// final rank. A non-finite factor would turn those zeros into NaNs (inf * 0), so the framework is
// then handed to run_simulation().
//
// The last accepted row ends the loop (the rank has reached the bound), so its back-elimination,
// which only changes basis rows that are never read again, is skipped.

namespace trussel {
namespace {

NodeList to_nodes(const double* coords, std::uint64_t n, std::uint64_t d) {
  NodeList nodes(static_cast<std::size_t>(n));
  for (std::uint64_t k = 0; k < n; ++k) {
    nodes[k].index = k;
    nodes[k].coords.assign(coords + k * d, coords + k * d + d);
  }
  return nodes;
}

}  // namespace

CompactSimulator::CompactSimulator(std::uint64_t n, std::uint64_t d, double tol,
                                   const CompactKernels& kernels)
    : kernels_(&kernels), n_(n), d_(d), tol_(tol) {
  check(n != 0, "Node list must not be empty");
  check(d == 2 || d == 3, "Only d=2 and d=3 are supported");
  max_rank_ = max_rank(n, d);
  // The checks of the edge-by-edge procedure, in its order.
  count_ = pair_count(n);
  ncols_ = checked_mul(n, d);
  checked_bytes(count_, sizeof(std::uint8_t));
  checked_bytes(std::min(max_rank_, count_), sizeof(Edge));
  checked_bytes(ncols_, sizeof(double));
  // Rows are stored with room for whole groups of kColumnGroup columns (the padding holds +0.0).
  stride_ = static_cast<std::size_t>(ncols_ + (kColumnGroup - 1)) / kColumnGroup * kColumnGroup;
  checked_bytes(stride_, sizeof(double));
  // Each accepted row has its own pivot column, so at most min(E, n*d) rows are ever stored.
  const std::uint64_t rows = std::min(count_, ncols_);
  basis_limit_ = rows > SIZE_MAX / stride_ ? SIZE_MAX : static_cast<std::size_t>(rows * stride_);
}

SimulationResult CompactSimulator::simulate(const FloatMatrix& coords) {
  const double* points = coords.values().data();
  const std::size_t values = static_cast<std::size_t>(n_ * d_);
  const bool finite =
      std::all_of(points, points + values, [](double x) { return std::isfinite(x); });

  SimulationResult result;
  result.max_rank = max_rank_;
  Labelling labelling;
  if (!(finite && tol_ >= 0.0 && label_compactly(points, labelling))) {
    labelling = label_edge_by_edge(to_nodes(points, n_, d_), d_, tol_, max_rank_);
  }
  result.labels = std::move(labelling.labels);
  result.accepted_edges = std::move(labelling.accepted_edges);
  result.distance_matrix =
      finite ? compact_distances(points) : distance_matrix(to_nodes(points, n_, d_));
  result.n_nodes = n_;
  result.d = d_;
  result.final_rank = labelling.final_rank;
  result.is_rigid = result.final_rank == result.max_rank;
  return result;
}

bool CompactSimulator::label_compactly(const double* coords, Labelling& result) {
  const std::size_t d = static_cast<std::size_t>(d_);
  const std::size_t stride = stride_;
  result.labels.assign(static_cast<std::size_t>(count_), 0);
  result.accepted_edges.reserve(static_cast<std::size_t>(std::min(max_rank_, count_)));
  row_.assign(stride, 0.0);
  const CompactKernels& kernels = *kernels_;

  std::size_t rank = 0;
  std::size_t width = 0;  // the columns in use
  Edge candidate{0, 1};
  std::uint64_t position = 0;
  for (; position < count_; ++position, candidate = next_candidate(candidate, n_)) {
    const std::size_t i = static_cast<std::size_t>(candidate.i);
    const std::size_t j = static_cast<std::size_t>(candidate.j);
    width = std::max(width, (j + 1) * d);
    double* row = row_.data();
    // The rigidity row: the difference once, negated for node j. Past the columns in use it
    // holds +0.0 (in the padding too).
    std::fill(row, row + width, 0.0);
    for (std::size_t c = 0; c < d; ++c) {
      const double delta = coords[i * d + c] - coords[j * d + c];
      row[i * d + c] = delta;
      row[j * d + c] = -delta;
    }

    // Reduction against the basis in acceptance order, the pivot entry read after the earlier
    // rows have changed it; the pivot is the first entry above the tolerance, and there is none
    // when the row is dependent.
    if (!kernels.reduce(row, basis_.data(), stride, pivots_.data(), rank, width, tol_))
      return false;
    const std::size_t q = kernels.find_pivot(row, width, tol_);
    if (q < width) {
      kernels.normalize(row, width, row[q]);
      if (rank + 1 != max_rank_ &&
          !kernels.eliminate(basis_.data(), stride, rank, row, q, width, tol_)) {
        return false;
      }
      const std::size_t needed = static_cast<std::size_t>(checked_mul(rank + 1, stride));
      if (basis_.size() < needed) {
        basis_.resize(std::max(needed, std::min(2 * basis_.size(), basis_limit_)));
        pivots_.resize(basis_.size() / stride);
      }
      double* slot = basis_.data() + rank * stride;
      std::copy(row, row + width, slot);
      std::fill(slot + width, slot + stride, 0.0);
      pivots_[rank] = q;
      ++rank;
      result.labels[static_cast<std::size_t>(position)] = 1;
      result.accepted_edges.push_back(candidate);
    }
    poll_interrupt(width * (rank + 1));
    // Tested after every candidate, accepted or not, and only for equality.
    if (rank == max_rank_) break;
  }
  result.final_rank = rank;
  return true;
}

FloatMatrix CompactSimulator::compact_distances(const double* coords) {
  // For finite coordinates a - b is exactly -(b - a), so entry (j, i) has the bits of (i, j), and
  // the diagonal is sqrt(+0.0) = +0.0, the matrix's fill.
  const std::size_t n = static_cast<std::size_t>(n_);
  const std::size_t d = static_cast<std::size_t>(d_);
  columns_.resize(n * d);
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t c = 0; c < d; ++c) columns_[c * n + j] = coords[j * d + c];
  }
  FloatMatrix result(n_, n_);
  for (std::size_t i = 0; i < n; ++i) {
    kernels_->distance_row(columns_.data(), n, d, i, result.row(0));
    poll_interrupt(n_ * (d + 1));
  }
  return result;
}

}  // namespace trussel
