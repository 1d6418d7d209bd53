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

/// Classical MDS of the n x n `distances` in d dimensions. Throws Panic "Only d=2 and d=3 are
/// supported" or "Need at least d+1 nodes to reconstruct in d dimensions".
Reconstruction reconstruct_coords(const FloatMatrix& distances, std::uint64_t d);

}  // namespace trussel
