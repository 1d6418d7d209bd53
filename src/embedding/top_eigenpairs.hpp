// The largest eigenpairs of a real symmetric matrix, iterated to convergence, fixed to the bit.
#pragma once

#include <cstdint>
#include <vector>

#include "common/matrix.hpp"

namespace trussel {

/// Eigenvalues in descending order and their eigenvectors as the columns of `vectors`
/// (column j belongs to values[j]).
struct SymmetricEigen {
  std::vector<double> values;
  FloatMatrix vectors;
};

/// Full decomposition of the symmetric n x n `m` by cyclic Jacobi sweeps (pairs in row-major
/// order, rotation angles from square roots only), run until a sweep finds every off-diagonal
/// element zero or negligible beside both of its diagonal elements. Eigenpairs are sorted by a
/// stable descending sort; signs are not normalised. `m` must be symmetric and finite. Throws
/// Panic if 100 sweeps do not converge (quadratic convergence makes that unreachable for finite
/// input).
SymmetricEigen symmetric_eigen(FloatMatrix m);

/// Vectors per block of the Krylov iteration: one matrix product serves this many vectors.
inline constexpr std::uint64_t kEigenBlockWidth = 8;
/// Up to this size the whole matrix goes through symmetric_eigen instead.
inline constexpr std::uint64_t kDenseEigenLimit = 64;
/// A Ritz pair is converged when its residual norm is at most this times the spectral scale.
inline constexpr double kEigenResidualTolerance = 1e-12;
/// The iteration fails (Panic) after this many matrix-block products.
inline constexpr std::uint64_t kEigenProductLimit = 3000;

/// The `count` largest eigenvalues (algebraically, descending) and unit eigenvectors (n x count,
/// column j for values[j]), each vector's sign fixed so that its entry of largest magnitude (the
/// first such index on ties) is positive.
struct TopEigenpairs {
  std::vector<double> values;
  FloatMatrix vectors;
  std::uint64_t products = 0;  // matrix-block products used; 0 on the dense path
};

/// Test hooks: where the dense path ends, how many products are allowed, and whether the
/// matrix-block product must use the portable loop even where the AVX2 one is available (both
/// give the same bits).
struct TopEigenOptions {
  std::uint64_t dense_limit = kDenseEigenLimit;
  std::uint64_t product_limit = kEigenProductLimit;
  bool portable_product = false;
};

/// The `count` top eigenpairs of the symmetric, finite n x n `a`. For n <= dense_limit (or too
/// small for the Krylov basis) by symmetric_eigen; otherwise by thick-restarted block Krylov
/// iteration: blocks of kEigenBlockWidth vectors from a fixed pseudo-random start (splitmix64 of
/// the vector and row numbers); Rayleigh-Ritz by symmetric_eigen after every block; the next
/// block made of the residuals A u - theta u of the kEigenBlockWidth largest Ritz pairs,
/// orthogonalised twice against the basis (classical Gram-Schmidt) and within itself, then
/// multiplied by A; when the basis holds 48 vectors, a restart keeps the Ritz vectors of the 24
/// largest Ritz values. It stops once each of the `count` top Ritz pairs has
/// |A u - theta u| <= kEigenResidualTolerance * (the largest |Ritz value|) and the basis has at
/// least two blocks. Every sum has a fixed order, so results are the same to the last bit on every
/// machine. Convergence is slow only when more than a block's worth of top eigenvalues crowd
/// together far closer than the spread of the rest of the spectrum. Requires
/// 1 <= count <= kEigenBlockWidth - 2 and count <= n (Panic otherwise); throws Panic "The
/// eigensolver did not converge within <k> matrix products" at the product limit.
TopEigenpairs top_eigenpairs(const FloatMatrix& a, std::uint64_t count);

/// top_eigenpairs with explicit options (for tests).
TopEigenpairs top_eigenpairs(const FloatMatrix& a, std::uint64_t count,
                             const TopEigenOptions& options);

/// Negates `vector` (n values, stride `stride`) unless its first entry of largest magnitude is
/// positive. A zero vector is left alone.
void fix_sign(double* vector, std::uint64_t n, std::uint64_t stride);

}  // namespace trussel
