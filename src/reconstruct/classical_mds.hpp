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

/// reconstruct_coords' argument checks, in its order: ValueError "distance_matrix must be square",
/// then Panic "Only d=2 and d=3 are supported", then Panic "Need at least d+1 nodes to
/// reconstruct in d dimensions".
void check_reconstruction_input(const FloatMatrix& distances, std::uint64_t d);

/// The n x d coordinates X[i][j] = vectors[i][j] * sqrt(max(eigenvalues[j], 0)) for
/// d = eigenvalues.size() (NaN and +-0 eigenvalues count as +0.0); `vectors` has n rows and at
/// least d columns, column j belonging to eigenvalues[j].
FloatMatrix scaled_coordinates(const FloatMatrix& vectors, const std::vector<double>& eigenvalues);

/// Kruskal's stress-1 of `coords` (n x d) against the n x n `distances`, over the pairs i < j in
/// row-major order: sqrt(sum (D_ij - |x_i - x_j|)^2 / sum D_ij^2), 0.0 when the denominator is
/// below 1e-15, NaN when it is NaN.
double kruskal_stress(const FloatMatrix& distances, const FloatMatrix& coords);

}  // namespace trussel
