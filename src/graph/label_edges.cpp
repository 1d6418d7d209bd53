// Rank-based labelling of a given edge list: greedy labels in the given order and redundancy.
#include "graph/label_edges.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <string>

#include "common/errors.hpp"
#include "graph/sparse_rank.hpp"
#include "rigidity/rigidity_row.hpp"
#include "simulation/simulation.hpp"

namespace trussel {
namespace {

// The number of pseudo-random combinations of self-stresses that decide redundancy.
constexpr std::size_t kStressCombinations = 2;

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

}  // namespace

std::uint64_t framework_max_rank(std::uint64_t n, std::uint64_t d) {
  if (n <= d + 1) return candidate_count(n);
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

EdgeLabelling label_edges(const FloatMatrix& coords, const std::vector<Edge>& edges, double tol) {
  const std::uint64_t n = coords.rows();
  const std::uint64_t d = coords.cols();
  const std::uint64_t ncols = rigidity_columns(n, d);
  const std::size_t count = edges.size();
  for (const Edge& edge : edges) check(edge.i < n && edge.j < n, "edge index out of range");

  EdgeLabelling result;
  result.max_rank = framework_max_rank(n, d);
  checked_bytes(count, sizeof(std::uint8_t));
  result.labels.assign(count, 0);
  result.redundant.assign(count, 1);

  SparseRankEliminator eliminator(ncols, tol * coordinate_scale(coords), {});
  std::vector<std::uint64_t> basis_edge;  // the edge of each stored row
  std::array<std::uint32_t, 6> cols{};
  std::array<double, 6> values{};
  for (std::size_t e = 0; e < count; ++e) {
    const std::size_t entries = edge_row(coords, edges[e], cols.data(), values.data());
    if (eliminator.add_row(cols.data(), values.data(), entries)) {
      result.labels[e] = 1;
      basis_edge.push_back(e);
    }
  }
  result.rank = eliminator.rank();
  if (result.rank == count) {
    result.redundant.assign(count, 0);
    return result;
  }

  // Every self-stress is a combination of the fundamental circuits of the non-basis edges: a
  // combination with weights w_f of their rows equals a combination b of the basis rows, and
  // (w, -b) is a self-stress. A basis edge is redundant when some self-stress is non-zero on it,
  // which a generic combination shows; two fixed combinations guard against a cancellation.
  std::vector<double> largest(kStressCombinations, 0.0);
  std::vector<std::vector<double>> forces;
  for (std::size_t round = 0; round < kStressCombinations; ++round) {
    std::vector<double> target(static_cast<std::size_t>(ncols), 0.0);
    for (std::size_t e = 0; e < count; ++e) {
      if (result.labels[e] == 1) continue;
      const double w = stress_weight(round, e);
      const std::size_t entries = edge_row(coords, edges[e], cols.data(), values.data());
      double row_max = 0.0;
      for (std::size_t t = 0; t < entries; ++t) {
        const double product = w * values[t];
        target[cols[t]] = target[cols[t]] + product;
        row_max = std::max(row_max, std::fabs(values[t]));
      }
      largest[round] = std::max(largest[round], w * row_max);
    }
    std::vector<double> b = eliminator.span_coefficients(std::move(target));
    std::vector<double> round_forces(result.rank, 0.0);
    for (std::size_t k = 0; k < b.size(); ++k) {
      const std::size_t entries =
          edge_row(coords, edges[basis_edge[k]], cols.data(), values.data());
      double row_max = 0.0;
      for (std::size_t t = 0; t < entries; ++t) row_max = std::max(row_max, std::fabs(values[t]));
      round_forces[k] = std::fabs(b[k]) * row_max;
      largest[round] = std::max(largest[round], round_forces[k]);
    }
    forces.push_back(std::move(round_forces));
  }
  for (std::size_t k = 0; k < result.rank; ++k) {
    bool stressed = false;
    for (std::size_t round = 0; round < kStressCombinations; ++round) {
      if (forces[round][k] > tol * largest[round]) stressed = true;
    }
    result.redundant[basis_edge[k]] = stressed ? 1 : 0;
  }
  return result;
}

}  // namespace trussel
