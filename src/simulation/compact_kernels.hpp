// The row operations of the compact simulation, with the best version for the processor.
#pragma once

#include <cstddef>

namespace trussel {

/// Rows are stored with room for whole groups of this many columns.
inline constexpr std::size_t kColumnGroup = 4;

/// The elimination steps of CompactSimulator on a row-major basis (row k at basis + k * stride)
/// and one row, over the columns [0, width). The stride is a multiple of kColumnGroup, and past
/// `width` the row and the basis rows hold +0.0 up to the stride, so a kernel may also run over
/// those columns (x - m * (+0.0) and +0.0 / v leave +0.0 there). Every product is rounded on its
/// own before the subtraction (never a fused multiply-add), every comparison is |x| > tol (false
/// for NaN), and each version gives the same bits.
struct CompactKernels {
  /// For k = 0 .. rank - 1 in order: c = row[pivots[k]], read after the earlier steps; if
  /// |c| > tol, row[t] = row[t] - c * basis_k[t]. Returns false, stopping there, when such a c
  /// is not finite.
  bool (*reduce)(double* row, const double* basis, std::size_t stride, const std::size_t* pivots,
                 std::size_t rank, std::size_t width, double tol) noexcept;
  /// The first column q < width with |row[q]| > tol, or width when there is none.
  std::size_t (*find_pivot)(const double* row, std::size_t width, double tol) noexcept;
  /// row[t] = row[t] / v, a true division of every entry.
  void (*normalize)(double* row, std::size_t width, double v) noexcept;
  /// For k = 0 .. rank - 1: f = basis_k[q]; if |f| > tol, basis_k[t] = basis_k[t] - f * row[t].
  /// Returns false, stopping there, when such an f is not finite.
  /// Entries (i, j) and (j, i), for j = i + 1 .. n - 1, of the n x n distance matrix `matrix` of
  /// the points whose coordinates are stored axis by axis (coordinate c of point j at
  /// columns[c * n + j]): the square root of the sum, from 0.0 and over c = 0 .. d - 1 in order,
  /// of (p_i[c] - p_j[c])^2.
  void (*distance_row)(const double* columns, std::size_t n, std::size_t d, std::size_t i,
                       double* matrix) noexcept;
  bool (*eliminate)(double* basis, std::size_t stride, std::size_t rank, const double* row,
                    std::size_t q, std::size_t width, double tol) noexcept;
};

/// The kernels for this processor (AVX2 where it has it, else plain loops), chosen once.
const CompactKernels& compact_kernels() noexcept;

/// The plain loops, which compact_kernels() falls back to on every other processor.
const CompactKernels& plain_compact_kernels() noexcept;

}  // namespace trussel
