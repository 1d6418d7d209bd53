// Classical multidimensional scaling computed to convergence at any size.
#pragma once

#include <cstdint>

#include "common/matrix.hpp"
#include "reconstruct/classical_mds.hpp"

namespace trussel {

/// mds()'s default stress threshold for is_isometric, the same as reconstruct()'s.
inline constexpr double kMdsTolerance = kReconstructTolerance;

/// Classical MDS of the n x n `distances` in d dimensions with converged eigenpairs: the same
/// checks and messages as reconstruct_coords (check_reconstruction_input), the same Gram matrix
/// (double_center), made exactly symmetric (each pair of mirrored elements replaced by their
/// mean) and scaled by a power of two (exact) so that its largest magnitude lies in [0.5, 1);
/// then top_eigenpairs for the d largest eigenvalues (descending, scaled back) and unit
/// eigenvectors (entry of largest magnitude positive), coordinates by scaled_coordinates
/// (negative eigenvalues count as 0.0) and the stress by kruskal_stress. A Gram matrix with a
/// NaN or infinite entry (from a NaN or infinite distance, or a square that overflows) gives NaN
/// coordinates, eigenvalues and stress without iterating. Pure: needs no interpreter lock.
/// Throws Panic if the eigensolver does not converge (see top_eigenpairs).
Reconstruction mds_coords(const FloatMatrix& distances, std::uint64_t d);

}  // namespace trussel
