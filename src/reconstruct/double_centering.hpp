// Gram matrix of a Euclidean distance matrix by double centering.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/interrupt.hpp"
#include "common/matrix.hpp"

namespace trussel {

/// G = -1/2 * H * D_sq * H for the n x n distances read by `read(i, j)` (i, j std::uint64_t,
/// returning double), with the column term taken from the row means: for a non-symmetric input
/// G[i][j] subtracts the means of rows i and j. Reads every element exactly once, in row-major
/// order. n may be 0. Throws only what allocation throws (Panic "capacity overflow", bad_alloc).
template <class Read>
FloatMatrix double_center(std::uint64_t n, Read&& read) {
  // One buffer holds D2 and is then centred in place: G[i][j] needs only D2[i][j] and the means.
  FloatMatrix gram(n, n);
  std::vector<double> row_means(static_cast<std::size_t>(n));
  // Means are sums times the reciprocal, never sums divided by n: the result is fixed to the bit.
  const double w = 1.0 / static_cast<double>(n);
  for (std::uint64_t i = 0; i < n; ++i) {
    double* out = gram.row(i);
    // Left to right from -0.0, so the row sum is fixed to the last bit.
    double sum = -0.0;
    for (std::uint64_t j = 0; j < n; ++j) {
      const double e = read(i, j);
      const double square = e * e;
      out[j] = square;
      sum += square;
    }
    row_means[static_cast<std::size_t>(i)] = w * sum;
    poll_interrupt(2 * n);
  }
  double total = -0.0;
  for (const double r : row_means) total += r;
  const double grand_mean = w * total;
  for (std::uint64_t i = 0; i < n; ++i) {
    double* out = gram.row(i);
    const double ri = row_means[static_cast<std::size_t>(i)];
    for (std::uint64_t j = 0; j < n; ++j) {
      // The column term is the mean of row j: equal to the column mean for symmetric input.
      out[j] = (grand_mean + ((out[j] - ri) - row_means[static_cast<std::size_t>(j)])) * -0.5;
    }
    poll_interrupt(4 * n);
  }
  return gram;
}

/// double_center over an owned square matrix (n = distances.rows()); the same code path as the
/// reader form, so both give bit-identical results for the same values.
FloatMatrix double_center(const FloatMatrix& distances);

}  // namespace trussel
