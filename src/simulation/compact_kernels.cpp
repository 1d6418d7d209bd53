// The row operations of the compact simulation, with the best version for the processor.
#include "simulation/compact_kernels.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

// The kernels have AVX2 versions, chosen at run time, where GCC or Clang build for x86-64 ELF
// targets; elsewhere only the plain loops are built.
#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define TRUSSEL_COMPACT_AVX2 1
#include <immintrin.h>
#else
#define TRUSSEL_COMPACT_AVX2 0
#endif

// The AVX2 versions run the same operations lane by lane: multiply, subtract and divide round
// like the scalar SSE2 instructions, the target does not enable fused multiply-adds and the build
// forbids contraction; a NaN result takes the payload of the first operand in both. Columns are
// independent, so processing four (or two) at a time changes no value. The comparisons are the
// ordered "greater than" of |x| and tol, false for NaN as in the scalar code, and the lanes are
// examined in column (or basis row) order, so the first hit is the scalar loop's.

namespace trussel {
namespace {

void subtract_plain(double* out, double factor, const double* in, std::size_t count) noexcept {
  for (std::size_t t = 0; t < count; ++t) {
    const double product = factor * in[t];
    out[t] = out[t] - product;
  }
}

bool reduce_plain(double* row, const double* basis, std::size_t stride, const std::size_t* pivots,
                  std::size_t rank, std::size_t width, double tol) noexcept {
  for (std::size_t k = 0; k < rank; ++k) {
    const double c = row[pivots[k]];
    if (!(std::fabs(c) > tol)) continue;
    if (!std::isfinite(c)) return false;
    subtract_plain(row, c, basis + k * stride, width);
  }
  return true;
}

std::size_t find_pivot_plain(const double* row, std::size_t width, double tol) noexcept {
  std::size_t q = 0;
  while (q < width && !(std::fabs(row[q]) > tol)) ++q;
  return q;
}

void normalize_plain(double* row, std::size_t width, double v) noexcept {
  for (std::size_t t = 0; t < width; ++t) row[t] = row[t] / v;
}

// Distances from node i to nodes first .. n - 1, into row i and column i of the matrix.
void distances_from(const double* columns, std::size_t n, std::size_t d, std::size_t i,
                    std::size_t first, double* matrix) noexcept {
  for (std::size_t j = first; j < n; ++j) {
    double sum = 0.0;
    for (std::size_t c = 0; c < d; ++c) {
      const double delta = columns[c * n + i] - columns[c * n + j];
      const double square = delta * delta;
      sum = sum + square;
    }
    const double distance = std::sqrt(sum);
    matrix[i * n + j] = distance;
    matrix[j * n + i] = distance;
  }
}

void distance_row_plain(const double* columns, std::size_t n, std::size_t d, std::size_t i,
                        double* matrix) noexcept {
  distances_from(columns, n, d, i, i + 1, matrix);
}

bool eliminate_plain(double* basis, std::size_t stride, std::size_t rank, const double* row,
                     std::size_t q, std::size_t width, double tol) noexcept {
  for (std::size_t k = 0; k < rank; ++k) {
    double* basis_row = basis + k * stride;
    const double f = basis_row[q];
    if (!(std::fabs(f) > tol)) continue;
    if (!std::isfinite(f)) return false;
    subtract_plain(basis_row, f, row, width);
  }
  return true;
}

#if TRUSSEL_COMPACT_AVX2
#define TRUSSEL_AVX2 __attribute__((target("avx2")))

TRUSSEL_AVX2 inline void subtract_avx2(double* out, double factor, const double* in,
                                       std::size_t count) noexcept {
  const __m256d f4 = _mm256_set1_pd(factor);
  std::size_t t = 0;
  for (; t + 4 <= count; t += 4) {
    const __m256d product = _mm256_mul_pd(f4, _mm256_loadu_pd(in + t));
    _mm256_storeu_pd(out + t, _mm256_sub_pd(_mm256_loadu_pd(out + t), product));
  }
  if (t + 2 <= count) {
    const __m128d product = _mm_mul_pd(_mm256_castpd256_pd128(f4), _mm_loadu_pd(in + t));
    _mm_storeu_pd(out + t, _mm_sub_pd(_mm_loadu_pd(out + t), product));
    t += 2;
  }
  if (t < count) {
    const double product = factor * in[t];
    out[t] = out[t] - product;
  }
}

// A mask of the lanes of x (in order, lane 0 the lowest bit) with |x| > tol.
TRUSSEL_AVX2 inline int above(__m256d x, __m256d tol4) noexcept {
  const __m256d magnitude = _mm256_andnot_pd(_mm256_set1_pd(-0.0), x);
  return _mm256_movemask_pd(_mm256_cmp_pd(magnitude, tol4, _CMP_GT_OQ));
}

TRUSSEL_AVX2 bool reduce_avx2(double* row, const double* basis, std::size_t stride,
                              const std::size_t* pivots, std::size_t rank, std::size_t width,
                              double tol) noexcept {
  const __m256d tol4 = _mm256_set1_pd(tol);
  std::size_t k = 0;
  while (k < rank) {
    // The next basis row whose pivot entry in the row is above the tolerance, four at a time;
    // the row does not change between two reductions, so reading ahead is the same.
    while (k + 4 <= rank) {
      const __m256i columns = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pivots + k));
      const int hits = above(_mm256_i64gather_pd(row, columns, 8), tol4);
      if (hits != 0) {
        k += static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
        break;
      }
      k += 4;
    }
    while (k < rank && !(std::fabs(row[pivots[k]]) > tol)) ++k;
    if (k == rank) break;
    const double c = row[pivots[k]];
    if (!std::isfinite(c)) return false;
    subtract_avx2(row, c, basis + k * stride, width);
    ++k;
  }
  return true;
}

TRUSSEL_AVX2 std::size_t find_pivot_avx2(const double* row, std::size_t width,
                                         double tol) noexcept {
  const __m256d tol4 = _mm256_set1_pd(tol);
  std::size_t q = 0;
  for (; q + 4 <= width; q += 4) {
    const int hits = above(_mm256_loadu_pd(row + q), tol4);
    if (hits != 0) return q + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
  }
  while (q < width && !(std::fabs(row[q]) > tol)) ++q;
  return q;
}

TRUSSEL_AVX2 void normalize_avx2(double* row, std::size_t width, double v) noexcept {
  const __m256d v4 = _mm256_set1_pd(v);
  std::size_t t = 0;
  for (; t + 4 <= width; t += 4)
    _mm256_storeu_pd(row + t, _mm256_div_pd(_mm256_loadu_pd(row + t), v4));
  for (; t < width; ++t) row[t] = row[t] / v;
}

TRUSSEL_AVX2 void distance_row_avx2(const double* columns, std::size_t n, std::size_t d,
                                    std::size_t i, double* matrix) noexcept {
  std::size_t j = i + 1;
  for (; j + 4 <= n; j += 4) {
    __m256d sum = _mm256_setzero_pd();
    for (std::size_t c = 0; c < d; ++c) {
      const __m256d delta =
          _mm256_sub_pd(_mm256_set1_pd(columns[c * n + i]), _mm256_loadu_pd(columns + c * n + j));
      sum = _mm256_add_pd(sum, _mm256_mul_pd(delta, delta));
    }
    alignas(32) double distance[4];
    _mm256_store_pd(distance, _mm256_sqrt_pd(sum));
    _mm256_storeu_pd(matrix + i * n + j, _mm256_load_pd(distance));
    for (std::size_t u = 0; u < 4; ++u) matrix[(j + u) * n + i] = distance[u];
  }
  distances_from(columns, n, d, i, j, matrix);
}

// The back-elimination with the row held in registers, for widths up to 4 * Groups columns: every
// basis row is updated over whole groups of four, into the padding, where the row and the basis
// rows hold +0.0 and keep it.
template <std::size_t Groups>
TRUSSEL_AVX2 bool eliminate_held(double* basis, std::size_t stride, std::size_t rank,
                                 const double* row, std::size_t q, double tol) noexcept {
  __m256d held[Groups];
  for (std::size_t g = 0; g < Groups; ++g) held[g] = _mm256_loadu_pd(row + 4 * g);
  for (std::size_t k = 0; k < rank; ++k) {
    double* basis_row = basis + k * stride;
    const double f = basis_row[q];
    if (!(std::fabs(f) > tol)) continue;
    if (!std::isfinite(f)) return false;
    const __m256d f4 = _mm256_set1_pd(f);
    for (std::size_t g = 0; g < Groups; ++g) {
      const __m256d product = _mm256_mul_pd(f4, held[g]);
      _mm256_storeu_pd(basis_row + 4 * g,
                       _mm256_sub_pd(_mm256_loadu_pd(basis_row + 4 * g), product));
    }
  }
  return true;
}

using HeldKernel = bool (*)(double*, std::size_t, std::size_t, const double*, std::size_t,
                            double) noexcept;

// Register-held versions for up to this many groups of four columns.
constexpr std::size_t kHeldGroups = 12;

template <std::size_t... Groups>
constexpr std::array<HeldKernel, sizeof...(Groups)> held_kernels(
    std::index_sequence<Groups...>) noexcept {
  return {eliminate_held<Groups + 1>...};
}

TRUSSEL_AVX2 bool eliminate_avx2(double* basis, std::size_t stride, std::size_t rank,
                                 const double* row, std::size_t q, std::size_t width,
                                 double tol) noexcept {
  static constexpr std::array<HeldKernel, kHeldGroups> kHeld =
      held_kernels(std::make_index_sequence<kHeldGroups>());
  const std::size_t groups = (width + 3) / 4;
  if (groups >= 1 && groups <= kHeldGroups) {
    return kHeld[groups - 1](basis, stride, rank, row, q, tol);
  }
  for (std::size_t k = 0; k < rank; ++k) {
    double* basis_row = basis + k * stride;
    const double f = basis_row[q];
    if (!(std::fabs(f) > tol)) continue;
    if (!std::isfinite(f)) return false;
    subtract_avx2(basis_row, f, row, width);
  }
  return true;
}
#endif

constexpr CompactKernels kPlainKernels{reduce_plain, find_pivot_plain, normalize_plain,
                                       distance_row_plain, eliminate_plain};

CompactKernels choose_kernels() noexcept {
#if TRUSSEL_COMPACT_AVX2
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) {
    return {reduce_avx2, find_pivot_avx2, normalize_avx2, distance_row_avx2, eliminate_avx2};
  }
#endif
  return kPlainKernels;
}

}  // namespace

const CompactKernels& compact_kernels() noexcept {
  static const CompactKernels kernels = choose_kernels();
  return kernels;
}

const CompactKernels& plain_compact_kernels() noexcept { return kPlainKernels; }

}  // namespace trussel
