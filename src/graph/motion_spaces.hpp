// Dense orthonormal bases of the self-stresses and of the non-trivial infinitesimal motions of a
// framework, by one-sided Jacobi singular value decomposition.
#pragma once

#include <cstdint>
#include <vector>

#include "common/edge.hpp"
#include "common/matrix.hpp"

namespace trussel {

/// The largest number of bars, and of n * d, that the dense bases accept.
inline constexpr std::uint64_t kMotionSpaceLimit = 500;

/// Refuses sizes beyond kMotionSpaceLimit with ValueError "<name> computes dense bases: at most
/// 500 bars and n*d at most 500, got <E> bars and n*d = <nd>".
void check_motion_space_size(const char* name, std::uint64_t bars, std::uint64_t n,
                             std::uint64_t d);

/// The singular value decomposition A = U diag(values) V^T of an m x k matrix by one-sided
/// (Hestenes) Jacobi rotations of its columns, swept in a fixed cyclic order until no pair is
/// rotated (at most 60 sweeps): `left` (m x k) holds A V, whose columns are orthogonal with norms
/// `values`; `right` (k x k) is orthogonal. Columns come in order of decreasing value (stable).
struct JacobiSvd {
  std::vector<double> values;
  FloatMatrix left;
  FloatMatrix right;
};
JacobiSvd one_sided_jacobi_svd(const FloatMatrix& a);

/// An orthonormal basis (s x E rows) of the self-stresses of the framework (points `coords`, n x
/// d; valid edges): the E - rank right singular vectors of smallest value of the transposed
/// rigidity matrix, rank from label_edges(coords, edges, tol). Each row's entry of largest
/// magnitude (the first on ties) is positive.
FloatMatrix self_stress_basis(const FloatMatrix& coords, const std::vector<Edge>& edges,
                              double tol);

/// An orthonormal basis (k x n*d rows, node-major) of the infinitesimal motions of the framework
/// orthogonal to its trivial motions (translations and rotations about the centroid, of dimension
/// d(d+1)/2 when the points span the space, less when they do not): the null space of the
/// rigidity matrix beyond label_edges' rank, projected off the trivial motions. k = n*d - rank -
/// (dimension of the trivial motions), at least 0. Sign as self_stress_basis.
FloatMatrix flex_basis(const FloatMatrix& coords, const std::vector<Edge>& edges, double tol);

}  // namespace trussel
