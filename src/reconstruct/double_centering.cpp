// Gram matrix of a Euclidean distance matrix by double centering.
#include "reconstruct/double_centering.hpp"

namespace trussel {

FloatMatrix double_center(const FloatMatrix& distances) {
  return double_center(distances.rows(), [&distances](std::uint64_t i, std::uint64_t j) {
    return distances.at(i, j);
  });
}

}  // namespace trussel
