// The row update of Gauss-Jordan elimination, out -= factor * in, with the best kernel for the
// processor.
#include "rank/subtract_kernel.hpp"

// The kernel has an AVX2 version, chosen at run time, where GCC or Clang build for x86-64 ELF
// targets; elsewhere only the plain loop is built.
#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define TRUSSEL_RANK_AVX2 1
#include <immintrin.h>
#else
#define TRUSSEL_RANK_AVX2 0
#endif

// The AVX2 kernel computes the same rounded products and differences lane by lane: its multiply
// and subtract round like the scalar SSE2 ones, the target does not enable fused multiply-adds
// and the build forbids contraction. A NaN result takes the payload of the first operand of the
// subtraction in both; callers never pass a NaN factor (it passed |f| > tol).

namespace trussel {
namespace {

void subtract_plain(double* out, double factor, const double* in, std::size_t count) noexcept {
  for (std::size_t t = 0; t < count; ++t) {
    const double product = factor * in[t];
    out[t] = out[t] - product;
  }
}

#if TRUSSEL_RANK_AVX2
// The same operations four lanes at a time (separate multiply and subtract, no FMA).
__attribute__((target("avx2"))) void subtract_avx2(double* out, double factor, const double* in,
                                                   std::size_t count) noexcept {
  const __m256d f = _mm256_set1_pd(factor);
  std::size_t t = 0;
  for (; t + 4 <= count; t += 4) {
    const __m256d product = _mm256_mul_pd(f, _mm256_loadu_pd(in + t));
    _mm256_storeu_pd(out + t, _mm256_sub_pd(_mm256_loadu_pd(out + t), product));
  }
  for (; t < count; ++t) {
    const double product = factor * in[t];
    out[t] = out[t] - product;
  }
}
#endif

SubtractKernel choose_kernel() noexcept {
#if TRUSSEL_RANK_AVX2
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return subtract_avx2;
#endif
  return subtract_plain;
}

}  // namespace

SubtractKernel subtract_kernel() noexcept {
  static const SubtractKernel kernel = choose_kernel();
  return kernel;
}

}  // namespace trussel
