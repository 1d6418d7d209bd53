// Rank-based labelling of a given edge list: greedy labels in the given order and redundancy.
#pragma once

#include <cstdint>
#include <vector>

#include "common/edge.hpp"
#include "common/matrix.hpp"

namespace trussel {

/// The default relative tolerance of label_edges(): a row raises the rank when its remainder after
/// elimination keeps an entry above 1e-8 times the largest extent of the coordinates.
inline constexpr double kLabelEdgesTolerance = 1e-8;

/// What label_edges() computes for one edge list.
struct EdgeLabelling {
  std::vector<std::uint8_t> labels;     // 1 when the edge raises the rank of the edges before it
  std::vector<std::uint8_t> redundant;  // 1 when some self-stress is non-zero on the edge
  std::uint64_t rank = 0;
  std::uint64_t max_rank = 0;
};

/// The largest rank of n points in d dimensions: the number of pairs n(n-1)/2 for n <= d + 1,
/// the rank bound n*d - d(d+1)/2 above (they differ only for n = 2 in 3-D, where one bar has rank
/// 1 although the bound is 0). Throws Panic "capacity overflow" when it does not fit in 64 bits.
std::uint64_t framework_max_rank(std::uint64_t n, std::uint64_t d);

/// label_edges()'s checks of the coordinates, in order, as ValueError: column count equal to d
/// ("coords has <cols> columns but d=<d> was specified"), d of 2 or 3 ("d must be 2 or 3"), at
/// least one row ("coords must have at least one row"). Allocates nothing.
void check_label_edges_shape(std::uint64_t rows, std::uint64_t cols, std::uint64_t d);

/// Refuses NaN or infinite coordinates with ValueError "coords must be finite, got <value> in
/// row <k>" (the first such row), and a NaN or negative tolerance with ValueError "tol must be a
/// non-negative number".
void check_label_edges_values(const FloatMatrix& coords, double tol);

/// The coordinate scale: the largest extent of the points along any axis (0 for one point).
double coordinate_scale(const FloatMatrix& coords);

/// Labels the edges of the framework with points `coords` (n x d) in the given order. The generic
/// answer (generic_rigidity) is decided first: the rank at these positions never exceeds the
/// generic rank of the same bars, so once the two are equal an edge that does not raise the
/// generic rank is dependent here too and is not offered to the elimination. The others are
/// reduced in order by sparse elimination (SparseRankEliminator, threshold pivoting towards the
/// sparsest column, ties broken by a nested-dissection order); an edge is independent when its
/// remainder keeps an entry above tol times the largest extent of the coordinates. `redundant` does
/// not depend on the order: the support of self-stresses, from combinations of the fundamental
/// circuits solved with the elimination when their forces are clear-cut (circuit_support), else
/// from the projections of fixed pseudo-random vectors onto the self-stresses (least squares by
/// iterated ridge regression, with a sparse Cholesky factorisation of RᵀR + μI) above 1e-10; at
/// the full generic rank it is also limited to the generically redundant edges. The edges must be
/// valid (indices below n, no loops, no repeats). Touches no Python object. With `find_redundant`
/// false only the greedy labels are computed (`redundant` stays all 1).
EdgeLabelling label_edges(const FloatMatrix& coords, const std::vector<Edge>& edges, double tol,
                          bool find_redundant = true);

}  // namespace trussel
