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

inline constexpr std::uint64_t kJacobiRotationLimit = 500;

/// Decomposes the symmetric n x n matrix `m`. Never fails.
EigenDecomposition jacobi_eigen(const FloatMatrix& m);

}  // namespace trussel
