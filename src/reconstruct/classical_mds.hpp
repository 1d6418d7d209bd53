// Coordinates from a distance matrix by classical multidimensional scaling.
#pragma once

#include <cstdint>
#include <vector>

#include "common/matrix.hpp"

namespace trussel {

/// reconstruct()'s default stress threshold for is_isometric.
inline constexpr double kReconstructTolerance = 1e-6;

/// Recovered coordinates (n x d), Kruskal's normalised stress-1 over the upper triangle, and the
/// d largest eigenvalues of the Gram matrix as computed.
struct Reconstruction {
  FloatMatrix coords;
  double stress = 0.0;
  std::vector<double> eigenvalues;
};

/// Classical MDS of the n x n `distances` in d dimensions: double_center, jacobi_eigen, then
/// X[i][j] = W[i][j] * sqrt(max(lambda_j, 0)) for j < d (NaN and +-0 eigenvalues count as +0.0),
/// the stress over the upper triangle (0.0 when the sum of squared distances is below 1e-15,
/// NaN when that sum is NaN) and the first d eigenvalues unclamped. Pure: needs no interpreter
/// lock. Throws ValueError "distance_matrix must be square" if rows != cols (the boundary checks
/// this first), then Panic "Only d=2 and d=3 are supported" or "Need at least d+1 nodes to
/// reconstruct in d dimensions", in this order.
Reconstruction reconstruct_coords(const FloatMatrix& distances, std::uint64_t d);

}  // namespace trussel
