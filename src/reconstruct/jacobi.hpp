// Eigen-decomposition of a real symmetric matrix by the classical Jacobi method.
#pragma once

#include <cstdint>
#include <vector>

#include "common/matrix.hpp"

namespace trussel {

/// Eigenvalues in descending order and the eigenvectors as the columns of `vectors`
/// (column j belongs to values[j]).
struct EigenDecomposition {
  std::vector<double> values;
  FloatMatrix vectors;
  std::uint64_t rotations = 0;  // rotations applied, at most kJacobiRotationLimit
};

/// The iteration stops after this many rotations (not sweeps), converged or not.
inline constexpr std::uint64_t kJacobiRotationLimit = 500;
/// The iteration stops when the largest off-diagonal magnitude is below this (absolute).
inline constexpr double kJacobiThreshold = 1e-12;
/// Below this absolute difference of the two diagonal elements the fixed angle is used.
inline constexpr double kJacobiEqualDiagonal = 1e-15;
/// The fixed rotation angle pi/4 for (nearly) equal diagonal elements.
inline constexpr double kJacobiFixedAngle = 0.7853981633974483;

/// How the pivot (largest off-diagonal magnitude, first in row-major order) is found. Both give
/// the same pivot in every case; the full scan exists to cross-check the tracked one in tests.
enum class PivotSearch {
  kRowMaxima,  // keeps the first maximum of each row's strict upper part, updated per rotation
  kFullScan,   // visits the whole strict upper triangle before every rotation
};

/// Test hooks: the rotation limit and the pivot search method.
struct JacobiOptions {
  std::uint64_t rotation_limit = kJacobiRotationLimit;
  PivotSearch pivot_search = PivotSearch::kRowMaxima;
};

/// Decomposes the symmetric n x n matrix `m` (n may be 0 or 1) by classical Jacobi rotations:
/// the largest off-diagonal element is annihilated until all are below
/// kJacobiThreshold or kJacobiRotationLimit rotations were applied. Eigenpairs are sorted by a
/// stable descending sort; NaN eigenvalues go last, in index order. Signs are not normalised.
/// Never fails (beyond allocation).
EigenDecomposition jacobi_eigen(const FloatMatrix& m);

/// The diagonal of the diagonalised `a` as eigenvalues and the columns of `v` as their vectors,
/// in jacobi_eigen's order: a stable descending sort, NaN values last in index order.
EigenDecomposition sort_eigenpairs(const FloatMatrix& a, const FloatMatrix& v);

/// jacobi_eigen with explicit options (for tests).
EigenDecomposition jacobi_eigen(const FloatMatrix& m, const JacobiOptions& options);

}  // namespace trussel
