// Classical multidimensional scaling computed to convergence at any size.
#include "embedding/mds.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "embedding/top_eigenpairs.hpp"
#include "reconstruct/double_centering.hpp"

namespace trussel {
namespace {

// Square tiles of the symmetrisation, so that both the rows and the columns they read stay in
// the cache.
constexpr std::uint64_t kTile = 64;

// The power-of-two exponent e that brings the largest magnitude into [0.5, 1) when the matrix is
// multiplied by 2^-e; bounded so that neither 2^e nor 2^-e overflows. 0 for a zero matrix.
int scale_exponent(double largest) {
  if (largest == 0.0) return 0;
  int exponent = 0;
  std::frexp(largest, &exponent);
  return std::clamp(exponent, -1000, 1000);
}

// a[i][j] = a[j][i] = (a[i][j] * factor + a[j][i] * factor) * 0.5: exactly symmetric, and the
// scaling by a power of two before the sum cannot overflow.
void symmetrize(FloatMatrix& a, double factor) {
  const std::uint64_t n = a.rows();
  for (std::uint64_t ib = 0; ib < n; ib += kTile) {
    const std::uint64_t i_end = std::min(ib + kTile, n);
    for (std::uint64_t jb = ib; jb < n; jb += kTile) {
      const std::uint64_t j_end = std::min(jb + kTile, n);
      for (std::uint64_t i = ib; i < i_end; ++i) {
        for (std::uint64_t j = std::max(jb, i); j < j_end; ++j) {
          const double mean = (a.at(i, j) * factor + a.at(j, i) * factor) * 0.5;
          a.at(i, j) = mean;
          a.at(j, i) = mean;
        }
      }
    }
  }
}

}  // namespace

Reconstruction mds_coords(const FloatMatrix& distances, std::uint64_t d) {
  check_reconstruction_input(distances, d);
  const std::uint64_t n = distances.rows();
  FloatMatrix gram = double_center(distances);

  double largest = 0.0;
  bool finite = true;
  for (const double x : gram.values()) {
    const double magnitude = std::fabs(x);
    // False for NaN and infinity alike.
    finite = finite && magnitude <= std::numeric_limits<double>::max();
    largest = std::max(largest, magnitude);
  }
  Reconstruction result;
  if (!finite) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    result.coords = FloatMatrix(n, d, nan);
    result.eigenvalues.assign(static_cast<std::size_t>(d), nan);
    result.stress = nan;
    return result;
  }

  const int exponent = scale_exponent(largest);
  symmetrize(gram, std::ldexp(1.0, -exponent));
  TopEigenpairs top = top_eigenpairs(gram, d);
  const double unscale = std::ldexp(1.0, exponent);
  for (const double value : top.values) result.eigenvalues.push_back(value * unscale);
  result.coords = scaled_coordinates(top.vectors, result.eigenvalues);
  result.stress = kruskal_stress(distances, result.coords);
  return result;
}

}  // namespace trussel
