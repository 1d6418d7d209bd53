// Gram matrix of a Euclidean distance matrix by double centering.
#pragma once

#include <cstdint>

#include "common/matrix.hpp"

namespace trussel {

/// G = -1/2 * H * D_sq * H for the n x n distances read by `read(i, j)`, with the column term
/// taken from the row means (see double_centering.cpp for the exact order of operations).
template <class Read>
FloatMatrix double_center(std::uint64_t n, Read&& read);

/// double_center over an owned matrix.
FloatMatrix double_center(const FloatMatrix& distances);

}  // namespace trussel
