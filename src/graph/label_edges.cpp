// Rank-based labelling of a given edge list: greedy labels in the given order and redundancy.
#include "graph/label_edges.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <string>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "graph/elimination_order.hpp"
#include "graph/generic_rigidity.hpp"
#include "graph/sparse_cholesky.hpp"
#include "graph/sparse_rank.hpp"
#include "rigidity/rigidity_row.hpp"
#include "simulation/simulation.hpp"

namespace trussel {
namespace {

// The number of pseudo-random vectors whose projections onto the self-stresses decide redundancy.
constexpr std::size_t kStressCombinations = 2;
// A bar is redundant when a projection exceeds this (the vectors' entries lie in [1, 2) in
// magnitude; on coloops the projections stay near 1e-15).
constexpr double kStressThreshold = 1e-10;

// A fixed pseudo-random weight in [1, 2) for edge `position` of combination `round` (SplitMix64),
// so the result depends on nothing but the input.
double stress_weight(std::uint64_t round, std::uint64_t position) {
  std::uint64_t z = (round + 1) * 0x9E3779B97F4A7C15u + position * 0xD1B54A32D192ED03u;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  z = z ^ (z >> 31);
  return 1.0 + static_cast<double>(z >> 11) * 0x1.0p-53;
}

// The non-zero entries of the rigidity row of edge (i, j): p_i - p_j in node i's columns, its
// negation in node j's.
std::size_t edge_row(const FloatMatrix& coords, const Edge& edge, std::uint32_t* cols,
                     double* values) {
  const std::uint64_t d = coords.cols();
  std::size_t count = 0;
  for (std::uint64_t c = 0; c < d; ++c) {
    const double delta = coords.at(edge.i, c) - coords.at(edge.j, c);
    if (delta == 0.0) continue;
    cols[count] = static_cast<std::uint32_t>(edge.i * d + c);
    values[count++] = delta;
    cols[count] = static_cast<std::uint32_t>(edge.j * d + c);
    values[count++] = -delta;
  }
  return count;
}

// The ridge of the least-squares solves, relative to the largest squared row length.
constexpr double kRidge = 1e-12;
// Iterations of the ridge regression, at most, and the relative change that ends them. A change
// below kRidgeStalled that no longer halves from one step to the next is rounding noise (it
// settles between 1e-14 and 1e-12 after three or four steps), and further steps change nothing.
constexpr int kRidgeIterations = 60;
constexpr double kRidgeConverged = 1e-15;
constexpr double kRidgeStalled = 1e-11;

// For each bar, the largest magnitude, over kStressCombinations fixed pseudo-random vectors b,
// of the bar's entry of the projection of b onto the self-stresses (the vectors w with wᵀR = 0,
// R the rigidity matrix). The projection is the least-squares residual b - R x, computed by
// iterated ridge regression x += (RᵀR + μI)⁻¹ Rᵀ (b - R x) with a sparse Cholesky factorisation
// of the positive definite RᵀR + μI in the fill-reducing order `priority`: each step shrinks the
// residual's part along a singular vector of R with singular value σ by μ / (σ² + μ), so it
// converges to the projection, with an accuracy set by the smallest non-zero σ and not by any
// choice of basis.
std::vector<double> stress_projection(const FloatMatrix& coords, const std::vector<Edge>& edges,
                                      const std::vector<std::uint64_t>& priority) {
  const std::uint64_t n = coords.rows();
  const std::uint64_t d = coords.cols();
  const std::size_t ncols = static_cast<std::size_t>(n * d);
  const std::size_t count = edges.size();

  double largest_square = 0.0;
  for (std::size_t e = 0; e < count; ++e) {
    double square = 0.0;
    for (std::uint64_t c = 0; c < d; ++c) {
      const double x = coords.at(edges[e].i, c) - coords.at(edges[e].j, c);
      square = square + x * x;
    }
    largest_square = std::max(largest_square, 2.0 * square);
  }
  const SymmetricMatrix normal = rigidity_normal_matrix(coords, edges, kRidge * largest_square);
  SparseCholesky cholesky(normal, priority);
  check(cholesky.factorize(normal.value),
        "the regularised normal equations must be positive definite");

  std::vector<double> result(count, 0.0);
  std::array<std::uint32_t, 6> row_cols{};
  std::array<double, 6> row_values{};
  for (std::size_t round = 0; round < kStressCombinations; ++round) {
    std::vector<double> b(count), residual(count);
    for (std::size_t e = 0; e < count; ++e) {
      const double w = stress_weight(round, e);
      b[e] = stress_weight(round + kStressCombinations, e) < 1.5 ? -w : w;
    }
    residual = b;
    std::vector<double> x(ncols, 0.0);
    double previous_change = 0.0;
    for (int iteration = 0; iteration < kRidgeIterations; ++iteration) {
      std::vector<double> gradient(ncols, 0.0);  // Rᵀ residual
      for (std::size_t e = 0; e < count; ++e) {
        const std::size_t entries = edge_row(coords, edges[e], row_cols.data(), row_values.data());
        for (std::size_t t = 0; t < entries; ++t) {
          gradient[row_cols[t]] = gradient[row_cols[t]] + residual[e] * row_values[t];
        }
      }
      const std::vector<double> step = cholesky.solve(std::move(gradient));
      for (std::size_t k = 0; k < ncols; ++k) x[k] = x[k] + step[k];
      double change = 0.0, size = 0.0;
      for (std::size_t e = 0; e < count; ++e) {
        const std::size_t entries = edge_row(coords, edges[e], row_cols.data(), row_values.data());
        double fitted = 0.0;
        for (std::size_t t = 0; t < entries; ++t) fitted = fitted + row_values[t] * x[row_cols[t]];
        const double next = b[e] - fitted;
        change = std::max(change, std::fabs(next - residual[e]));
        size = std::max(size, std::fabs(next));
        residual[e] = next;
      }
      poll_interrupt(count + ncols);

      if (!(change > kRidgeConverged * size)) break;
      if (iteration > 0 && change <= kRidgeStalled * size && 2.0 * change > previous_change) break;
      previous_change = change;
    }
    for (std::size_t e = 0; e < count; ++e) result[e] = std::max(result[e], std::fabs(residual[e]));
  }
  return result;
}

// Forces of a self-stress at or below this fraction of the largest are zero, at or above the
// second they are not; between the two the fast answer is not clear-cut.
constexpr double kForceZero = 1e-9;
constexpr double kForceSure = 1e-6;
// Self-stresses whose forces exceed the weights that made them by more than this factor come
// from a poorly conditioned basis, and are not trusted.
constexpr double kForceGrowth = 1e6;

// The fast way to the redundant bars, when it gives a clear answer: a self-stress is a
// combination of the fundamental circuits of the dependent bars (weights w_f on them, the
// accepted rows' coefficients solved with the elimination, one pass of refinement). Each
// accepted bar's force |b_k| * |row|, for kStressCombinations fixed weightings, must be either
// at most kForceZero or at least kForceSure times the largest force, and the forces may not grow
// beyond kForceGrowth times the weights; otherwise returns false and the caller takes the
// projection, whose accuracy does not depend on the basis.
bool circuit_support(const FloatMatrix& coords, const std::vector<Edge>& edges,
                     const std::vector<std::uint8_t>& labels,
                     const std::vector<std::uint64_t>& basis_edge,
                     const SparseRankEliminator& eliminator, std::vector<std::uint8_t>& redundant) {
  const std::size_t ncols = static_cast<std::size_t>(coords.rows() * coords.cols());
  std::array<std::uint32_t, 6> cols{};
  std::array<double, 6> values{};
  std::vector<std::uint8_t> stressed(basis_edge.size(), 0);
  for (std::size_t round = 0; round < kStressCombinations; ++round) {
    std::vector<double> target(ncols, 0.0);
    double weighted = 0.0;
    for (std::size_t e = 0; e < edges.size(); ++e) {
      if (labels[e] == 1) continue;
      const double w = stress_weight(round, e);
      const std::size_t entries = edge_row(coords, edges[e], cols.data(), values.data());
      double row_max = 0.0;
      for (std::size_t t = 0; t < entries; ++t) {
        target[cols[t]] = target[cols[t]] + w * values[t];
        row_max = std::max(row_max, std::fabs(values[t]));
      }
      weighted = std::max(weighted, w * row_max);
    }
    std::vector<double> b = eliminator.span_coefficients(target);
    std::vector<double> residual = target;
    for (std::size_t k = 0; k < b.size(); ++k) {
      const std::size_t entries =
          edge_row(coords, edges[basis_edge[k]], cols.data(), values.data());
      for (std::size_t t = 0; t < entries; ++t) {
        residual[cols[t]] = residual[cols[t]] - b[k] * values[t];
      }
    }
    const std::vector<double> correction = eliminator.span_coefficients(std::move(residual));
    std::vector<double> forces(b.size());
    double largest = weighted;
    for (std::size_t k = 0; k < b.size(); ++k) {
      b[k] = b[k] + correction[k];
      const std::size_t entries =
          edge_row(coords, edges[basis_edge[k]], cols.data(), values.data());
      double row_max = 0.0;
      for (std::size_t t = 0; t < entries; ++t) row_max = std::max(row_max, std::fabs(values[t]));
      forces[k] = std::fabs(b[k]) * row_max;
      largest = std::max(largest, forces[k]);
    }
    if (!(largest <= kForceGrowth * weighted)) return false;
    for (std::size_t k = 0; k < b.size(); ++k) {
      if (forces[k] <= kForceZero * largest) continue;
      if (!(forces[k] >= kForceSure * largest)) return false;
      stressed[k] = 1;
    }
    poll_interrupt(ncols + edges.size());
  }
  for (std::size_t k = 0; k < basis_edge.size(); ++k) redundant[basis_edge[k]] = stressed[k];
  return true;
}

}  // namespace

std::uint64_t framework_max_rank(std::uint64_t n, std::uint64_t d) {
  if (n <= d + 1) return pair_count(n);
  return max_rank(n, d);
}

void check_label_edges_shape(std::uint64_t rows, std::uint64_t cols, std::uint64_t d) {
  if (cols != d) {
    throw ValueError("coords has " + std::to_string(cols) + " columns but d=" + std::to_string(d) +
                     " was specified");
  }
  if (d != 2 && d != 3) throw ValueError("d must be 2 or 3");
  if (rows == 0) throw ValueError("coords must have at least one row");
}

void check_label_edges_values(const FloatMatrix& coords, double tol) {
  for (std::uint64_t k = 0; k < coords.rows(); ++k) {
    for (std::uint64_t c = 0; c < coords.cols(); ++c) {
      if (!std::isfinite(coords.at(k, c))) {
        throw ValueError("coords must be finite, got " + std::to_string(coords.at(k, c)) +
                         " in row " + std::to_string(k));
      }
    }
  }
  if (!(tol >= 0.0)) throw ValueError("tol must be a non-negative number");
}

double coordinate_scale(const FloatMatrix& coords) {
  double scale = 0.0;
  for (std::uint64_t c = 0; c < coords.cols(); ++c) {
    double low = 0.0, high = 0.0;
    for (std::uint64_t k = 0; k < coords.rows(); ++k) {
      const double x = coords.at(k, c);
      if (k == 0 || x < low) low = x;
      if (k == 0 || x > high) high = x;
    }
    scale = std::max(scale, high - low);
  }
  return scale;
}

EdgeLabelling label_edges(const FloatMatrix& coords, const std::vector<Edge>& edges, double tol,
                          bool find_redundant) {
  const std::uint64_t n = coords.rows();
  const std::uint64_t d = coords.cols();
  const std::uint64_t ncols = checked_mul(n, d);
  const std::size_t count = edges.size();
  for (const Edge& edge : edges) check(edge.i < n && edge.j < n, "edge index out of range");

  EdgeLabelling result;
  result.max_rank = framework_max_rank(n, d);
  checked_bytes(count, sizeof(std::uint8_t));
  result.labels.assign(count, 0);
  result.redundant.assign(count, 1);

  // The rank at these positions never exceeds the generic rank of the same bars, which is
  // decided exactly first: once the two are equal, a bar that does not raise the generic rank
  // cannot raise this one, and it is not offered to the elimination at all.
  const GenericRigidity generic = generic_rigidity(n, edges, d);
  const std::vector<std::uint64_t> eliminator_priority =
      column_priority(nested_dissection_order(n, edges), d);
  SparseRankEliminator eliminator(ncols, tol * coordinate_scale(coords), eliminator_priority);
  std::vector<std::uint64_t> basis_edge;  // the edge of each stored row
  std::array<std::uint32_t, 6> cols{};
  std::array<double, 6> values{};
  std::uint64_t generic_rank = 0;
  for (std::size_t e = 0; e < count; ++e) {
    generic_rank += generic.labels[e];
    if (generic.labels[e] == 0 && eliminator.rank() == generic_rank) continue;
    const std::size_t entries = edge_row(coords, edges[e], cols.data(), values.data());
    if (eliminator.add_row(cols.data(), values.data(), entries)) {
      result.labels[e] = 1;
      basis_edge.push_back(e);
    }
    poll_interrupt(eliminator.rank() + 1);
  }
  result.rank = eliminator.rank();
  if (!find_redundant) return result;
  if (result.rank == count) {
    result.redundant.assign(count, 0);
    return result;
  }

  if (!circuit_support(coords, edges, result.labels, basis_edge, eliminator, result.redundant)) {
    const std::vector<double> projection = stress_projection(coords, edges, eliminator_priority);
    for (std::size_t e = 0; e < count; ++e) {
      if (result.labels[e] == 1) result.redundant[e] = projection[e] > kStressThreshold ? 1 : 0;
    }
  }
  // At full generic rank a bar outside every generic circuit is outside every circuit here.
  if (result.rank == generic.rank) {
    for (std::size_t e = 0; e < count; ++e) {
      if (generic.redundant[e] == 0) result.redundant[e] = 0;
    }
  }
  return result;
}

}  // namespace trussel
