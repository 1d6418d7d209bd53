// Coordinates from a distance matrix by classical multidimensional scaling.
#include "reconstruct/classical_mds.hpp"

#include <cmath>
#include <cstddef>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "reconstruct/double_centering.hpp"
#include "reconstruct/jacobi.hpp"

namespace trussel {
namespace {

// Below this sum of squared input distances the stress is taken as 0.0.
constexpr double kStressDenominatorFloor = 1e-15;

}  // namespace

// Kruskal's stress-1 over the pairs i < j in row-major order: input distances are compared
// unsquared with the distances between the reconstructed points.
double kruskal_stress(const FloatMatrix& distances, const FloatMatrix& coords) {
  const std::uint64_t n = coords.rows();
  const std::uint64_t d = coords.cols();
  double num = 0.0;
  double den = 0.0;
  for (std::uint64_t i = 0; i + 1 < n; ++i) {
    const double* xi = coords.row(i);
    for (std::uint64_t j = i + 1; j < n; ++j) {
      const double* xj = coords.row(j);
      double squared = 0.0;
      for (std::uint64_t k = 0; k < d; ++k) {
        const double diff = xi[k] - xj[k];
        squared += diff * diff;
      }
      const double given = distances.at(i, j);
      const double error = given - std::sqrt(squared);
      num += error * error;
      den += given * given;
    }
    poll_interrupt(4 * (n - i));
  }
  // A NaN denominator is not below the floor: the stress is then NaN.
  if (den < kStressDenominatorFloor) return 0.0;
  return std::sqrt(num / den);
}

void check_reconstruction_input(const FloatMatrix& distances, std::uint64_t d) {
  if (distances.rows() != distances.cols()) throw ValueError("distance_matrix must be square");
  check(d == 2 || d == 3, "Only d=2 and d=3 are supported");
  check(distances.rows() > d, "Need at least d+1 nodes to reconstruct in d dimensions");
}

FloatMatrix scaled_coordinates(const FloatMatrix& vectors, const std::vector<double>& eigenvalues) {
  const std::uint64_t n = vectors.rows();
  const std::uint64_t d = eigenvalues.size();
  std::vector<double> scale(eigenvalues.size());
  for (std::size_t j = 0; j < scale.size(); ++j) {
    // max(lambda, 0.0) with NaN giving 0.0; a zero of either sign also gives +0.0.
    const double lambda = eigenvalues[j];
    scale[j] = std::sqrt(lambda > 0.0 ? lambda : 0.0);
  }
  FloatMatrix coords(n, d);
  for (std::uint64_t i = 0; i < n; ++i) {
    const double* w = vectors.row(i);
    double* x = coords.row(i);
    for (std::uint64_t j = 0; j < d; ++j) x[j] = w[j] * scale[static_cast<std::size_t>(j)];
  }
  return coords;
}

Reconstruction reconstruct_coords(const FloatMatrix& distances, std::uint64_t d) {
  check_reconstruction_input(distances, d);

  // Classical MDS: the d largest eigenpairs of the centred Gram matrix give the coordinates.
  EigenDecomposition eigen = jacobi_eigen(double_center(distances));

  Reconstruction result;
  result.eigenvalues.assign(eigen.values.begin(),
                            eigen.values.begin() + static_cast<std::ptrdiff_t>(d));
  result.coords = scaled_coordinates(eigen.vectors, result.eigenvalues);
  result.stress = kruskal_stress(distances, result.coords);
  return result;
}

}  // namespace trussel
