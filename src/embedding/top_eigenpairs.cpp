// The largest eigenpairs of a real symmetric matrix, iterated to convergence, fixed to the bit.
#include "embedding/top_eigenpairs.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "reconstruct/jacobi.hpp"

// The matrix-block product has an AVX2 version, chosen at run time, where GCC or Clang build for
// x86-64 ELF targets; elsewhere only the plain loop is built. Both compute every element of the
// product with the same operations in the same order: the AVX2 multiply and add round like the
// scalar ones, the target does not enable fused multiply-adds and the build forbids contraction.
#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define TRUSSEL_EIGEN_AVX2 1
#include <immintrin.h>
#else
#define TRUSSEL_EIGEN_AVX2 0
#endif

namespace trussel {
namespace {

constexpr std::size_t kWidth = kEigenBlockWidth;
// The Krylov basis holds at most this many blocks (48 vectors) ...
constexpr std::size_t kMaxBlocks = 6;
// ... and a restart keeps the Ritz vectors of this many blocks' worth of the largest values.
constexpr std::size_t kKeptBlocks = 3;
constexpr std::uint64_t kMaxSweeps = 100;
// A new basis vector that kept less than this fraction of its norm through the orthogonalisation
// carries no reliable new direction; a fresh pseudo-random vector replaces it.
constexpr double kDependent = 1e-10;

// n rows of kWidth values, row-major: the kWidth vectors of one block side by side, so that one
// pass over a matrix row serves all of them.
using Block = std::vector<double>;

Block new_block(std::size_t n) {
  Block block;
  block.resize(checked_bytes(n, kWidth * sizeof(double)) / sizeof(double));
  return block;
}

using ProductKernel = void (*)(const double*, std::size_t, const double*, double*) noexcept;

// Rows [first, n) of y = A x for the row-major n x n A and the n x kWidth block x: y[i][c] is
// the sum over j = 0 .. n-1, in this order and from -0.0, of A[i][j] * x[j][c], each product
// rounded before it is added. The vectors of the block are independent, so the loop over c
// vectorises.
void multiply_rows(const double* a, std::size_t n, const double* x, double* y,
                   std::size_t first) noexcept {
  for (std::size_t i = first; i < n; ++i) {
    const double* row = a + i * n;
    double sum[kWidth];
    for (double& s : sum) s = -0.0;
    for (std::size_t j = 0; j < n; ++j) {
      const double aij = row[j];
      const double* xj = x + j * kWidth;
      for (std::size_t c = 0; c < kWidth; ++c) {
        const double product = aij * xj[c];
        sum[c] = sum[c] + product;
      }
    }
    for (std::size_t c = 0; c < kWidth; ++c) y[i * kWidth + c] = sum[c];
  }
}

void multiply_plain(const double* a, std::size_t n, const double* x, double* y) noexcept {
  multiply_rows(a, n, x, y, 0);
}

#if TRUSSEL_EIGEN_AVX2
// The same sums four lanes at a time, four matrix rows at once so that eight independent
// accumulators hide the latency of the additions.
__attribute__((target("avx2"))) void multiply_avx2(const double* a, std::size_t n, const double* x,
                                                   double* y) noexcept {
  static_assert(kWidth == 8, "the AVX2 kernel holds a block row in two registers");
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const double* r0 = a + i * n;
    const double* r1 = r0 + n;
    const double* r2 = r1 + n;
    const double* r3 = r2 + n;
    const __m256d zero = _mm256_set1_pd(-0.0);
    __m256d s00 = zero, s01 = zero, s10 = zero, s11 = zero;
    __m256d s20 = zero, s21 = zero, s30 = zero, s31 = zero;
    for (std::size_t j = 0; j < n; ++j) {
      const __m256d x0 = _mm256_loadu_pd(x + j * kWidth);
      const __m256d x1 = _mm256_loadu_pd(x + j * kWidth + 4);
      const __m256d a0 = _mm256_set1_pd(r0[j]);
      const __m256d a1 = _mm256_set1_pd(r1[j]);
      const __m256d a2 = _mm256_set1_pd(r2[j]);
      const __m256d a3 = _mm256_set1_pd(r3[j]);
      s00 = _mm256_add_pd(s00, _mm256_mul_pd(a0, x0));
      s01 = _mm256_add_pd(s01, _mm256_mul_pd(a0, x1));
      s10 = _mm256_add_pd(s10, _mm256_mul_pd(a1, x0));
      s11 = _mm256_add_pd(s11, _mm256_mul_pd(a1, x1));
      s20 = _mm256_add_pd(s20, _mm256_mul_pd(a2, x0));
      s21 = _mm256_add_pd(s21, _mm256_mul_pd(a2, x1));
      s30 = _mm256_add_pd(s30, _mm256_mul_pd(a3, x0));
      s31 = _mm256_add_pd(s31, _mm256_mul_pd(a3, x1));
    }
    double* out = y + i * kWidth;
    _mm256_storeu_pd(out, s00);
    _mm256_storeu_pd(out + 4, s01);
    _mm256_storeu_pd(out + 8, s10);
    _mm256_storeu_pd(out + 12, s11);
    _mm256_storeu_pd(out + 16, s20);
    _mm256_storeu_pd(out + 20, s21);
    _mm256_storeu_pd(out + 24, s30);
    _mm256_storeu_pd(out + 28, s31);
  }
  multiply_rows(a, n, x, y, i);
}
#endif

ProductKernel choose_kernel() noexcept {
#if TRUSSEL_EIGEN_AVX2
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return multiply_avx2;
#endif
  return multiply_plain;
}

// The kernel for this processor, chosen once.
ProductKernel product_kernel() noexcept {
  static const ProductKernel kernel = choose_kernel();
  return kernel;
}

// The splitmix64 step: a fixed bijective mixing of 64-bit integers.
std::uint64_t mix(std::uint64_t z) noexcept {
  z += 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// Entry `index` of the fixed pseudo-random vector number `stream`, uniform in [-1, 1): the top
// 53 bits of the mixed pair, scaled exactly, so the value is the same on every machine.
double start_entry(std::uint64_t stream, std::uint64_t index) noexcept {
  const std::uint64_t z = mix(mix(stream) + index);
  return static_cast<double>(z >> 11) * 0x1.0p-52 - 1.0;
}

// Left-to-right sums from -0.0 over the rows, for column c of a block (stride kWidth).
double dot_columns(const Block& x, std::size_t cx, const Block& y, std::size_t cy,
                   std::size_t n) noexcept {
  double sum = -0.0;
  for (std::size_t i = 0; i < n; ++i) sum = sum + x[i * kWidth + cx] * y[i * kWidth + cy];
  return sum;
}

double column_norm(const Block& x, std::size_t c, std::size_t n) noexcept {
  return std::sqrt(dot_columns(x, c, x, c, n));
}

// x[., cx] -= factor * y[., cy].
void subtract_column(Block& x, std::size_t cx, double factor, const Block& y, std::size_t cy,
                     std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    const double product = factor * y[i * kWidth + cy];
    x[i * kWidth + cx] = x[i * kWidth + cx] - product;
  }
}

// One classical Gram-Schmidt pass of all vectors of z against the basis blocks: the
// coefficients of every basis vector are taken from z as it was before the pass, then
// subtracted, basis vector by basis vector in basis order.
void project_block(const std::vector<Block>& basis, Block& z, std::size_t n) {
  const std::size_t blocks = basis.size();
  std::vector<double> coef(blocks * kWidth * kWidth, -0.0);
  for (std::size_t b = 0; b < blocks; ++b) {
    double* c_b = coef.data() + b * kWidth * kWidth;
    const double* q = basis[b].data();
    for (std::size_t i = 0; i < n; ++i) {
      const double* qi = q + i * kWidth;
      const double* zi = z.data() + i * kWidth;
      for (std::size_t a = 0; a < kWidth; ++a) {
        const double qa = qi[a];
        double* c_row = c_b + a * kWidth;
        for (std::size_t c = 0; c < kWidth; ++c) {
          const double product = qa * zi[c];
          c_row[c] = c_row[c] + product;
        }
      }
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    double* zi = z.data() + i * kWidth;
    for (std::size_t b = 0; b < blocks; ++b) {
      const double* qi = basis[b].data() + i * kWidth;
      const double* c_b = coef.data() + b * kWidth * kWidth;
      for (std::size_t a = 0; a < kWidth; ++a) {
        const double qa = qi[a];
        const double* c_row = c_b + a * kWidth;
        for (std::size_t c = 0; c < kWidth; ++c) {
          const double product = qa * c_row[c];
          zi[c] = zi[c] - product;
        }
      }
    }
  }
}

// Column c of z against every basis vector and the columns of z before it, one classical pass.
void project_column(const std::vector<Block>& basis, Block& z, std::size_t c, std::size_t n) {
  std::vector<double> coef;
  coef.reserve((basis.size() + 1) * kWidth);
  for (const Block& q : basis) {
    for (std::size_t a = 0; a < kWidth; ++a) coef.push_back(dot_columns(q, a, z, c, n));
  }
  for (std::size_t e = 0; e < c; ++e) coef.push_back(dot_columns(z, e, z, c, n));
  std::size_t k = 0;
  for (const Block& q : basis) {
    for (std::size_t a = 0; a < kWidth; ++a) subtract_column(z, c, coef[k++], q, a, n);
  }
  for (std::size_t e = 0; e < c; ++e) subtract_column(z, c, coef[k++], z, e, n);
}

// Makes the vectors of z orthonormal and orthogonal to the basis, z having already been
// projected against the basis twice. Each vector is orthogonalised twice against the earlier
// ones of its block; one that lost too much of `raw_norms` (its norm before any projection) is
// replaced by the next fixed pseudo-random vector, orthogonalised twice against everything.
void orthonormalize(const std::vector<Block>& basis, Block& z, const std::vector<double>& raw_norms,
                    std::uint64_t& stream, std::size_t n) {
  for (std::size_t c = 0; c < kWidth; ++c) {
    for (int pass = 0; pass < 2; ++pass) {
      for (std::size_t e = 0; e < c; ++e)
        subtract_column(z, c, dot_columns(z, e, z, c, n), z, e, n);
    }
    double norm = column_norm(z, c, n);
    // Written so that a zero or NaN norm also counts as dependent.
    for (int attempt = 0; !(norm > kDependent * raw_norms[c]) || norm == 0.0; ++attempt) {
      // The basis never fills the space (n exceeds its largest size by a block), so a random
      // vector keeps almost all of its norm; two failures in a row mean broken arithmetic.
      if (attempt == 2) panic("The eigensolver could not extend its basis");
      for (std::size_t i = 0; i < n; ++i) z[i * kWidth + c] = start_entry(stream, i);
      ++stream;
      const double fresh = column_norm(z, c, n);
      project_column(basis, z, c, n);
      project_column(basis, z, c, n);
      norm = column_norm(z, c, n);
      if (norm > 0.5 * fresh) break;
    }
    for (std::size_t i = 0; i < n; ++i) z[i * kWidth + c] = z[i * kWidth + c] / norm;
  }
}

std::vector<double> column_norms(const Block& z, std::size_t n) {
  std::vector<double> norms(kWidth);
  for (std::size_t c = 0; c < kWidth; ++c) norms[c] = column_norm(z, c, n);
  return norms;
}

// The Krylov basis Q (blocks of orthonormal vectors), W = A Q block by block, and the projected
// matrix T = Q^T A Q, of which the leading m x m part is in use.
struct KrylovState {
  ProductKernel multiply = multiply_plain;
  std::vector<Block> q;
  std::vector<Block> w;
  FloatMatrix t{kMaxBlocks * kWidth, kMaxBlocks* kWidth};
  std::uint64_t products = 0;
  std::size_t size() const { return q.size() * kWidth; }
};

// Appends the block z to the basis, multiplies it by A and fills the new column block of T
// (and its mirror): T[a][new] = q_a^T (A q_new), summed over the rows in order. The new
// diagonal block is made exactly symmetric by averaging each element with its mirror.
void append_block(KrylovState& s, const FloatMatrix& a, Block z) {
  const std::size_t n = static_cast<std::size_t>(a.rows());
  Block w = new_block(n);
  s.multiply(a.row(0), n, z.data(), w.data());
  ++s.products;
  poll_interrupt(static_cast<std::uint64_t>(n) * n * kWidth);
  s.q.push_back(std::move(z));
  s.w.push_back(std::move(w));
  const std::size_t fresh = s.q.size() - 1;
  const std::size_t first = fresh * kWidth;
  const Block& w_new = s.w[fresh];
  for (std::size_t b = 0; b <= fresh; ++b) {
    double sums[kWidth * kWidth];
    for (double& x : sums) x = -0.0;
    const double* q = s.q[b].data();
    for (std::size_t i = 0; i < n; ++i) {
      const double* qi = q + i * kWidth;
      const double* wi = w_new.data() + i * kWidth;
      for (std::size_t r = 0; r < kWidth; ++r) {
        const double qr = qi[r];
        for (std::size_t c = 0; c < kWidth; ++c) {
          const double product = qr * wi[c];
          sums[r * kWidth + c] = sums[r * kWidth + c] + product;
        }
      }
    }
    for (std::size_t r = 0; r < kWidth; ++r) {
      for (std::size_t c = 0; c < kWidth; ++c) {
        s.t.at(b * kWidth + r, first + c) = sums[r * kWidth + c];
        if (b != fresh) s.t.at(first + c, b * kWidth + r) = sums[r * kWidth + c];
      }
    }
  }
  for (std::size_t r = 0; r < kWidth; ++r) {
    for (std::size_t c = r + 1; c < kWidth; ++c) {
      const double mean = (s.t.at(first + r, first + c) + s.t.at(first + c, first + r)) * 0.5;
      s.t.at(first + r, first + c) = mean;
      s.t.at(first + c, first + r) = mean;
    }
  }
}

// sum_a blocks[a / kWidth][i][a % kWidth] * y[a][k] for the `columns` columns k of y, as blocks
// of kWidth (columns beyond `columns` are zero). Sums run over a in order from -0.0.
std::vector<Block> combine(const std::vector<Block>& blocks, const FloatMatrix& y,
                           std::size_t columns, std::size_t n) {
  const std::size_t count = (columns + kWidth - 1) / kWidth;
  std::vector<Block> out;
  for (std::size_t k = 0; k < count; ++k) out.push_back(new_block(n));
  const std::size_t m = blocks.size() * kWidth;
  std::vector<double> sum(columns);
  for (std::size_t i = 0; i < n; ++i) {
    std::fill(sum.begin(), sum.end(), -0.0);
    for (std::size_t a = 0; a < m; ++a) {
      const double x = blocks[a / kWidth][i * kWidth + a % kWidth];
      const double* y_row = y.row(a);
      for (std::size_t k = 0; k < columns; ++k) {
        const double product = x * y_row[k];
        sum[k] = sum[k] + product;
      }
    }
    for (std::size_t k = 0; k < columns; ++k) out[k / kWidth][i * kWidth + k % kWidth] = sum[k];
  }
  return out;
}

// Thick restart: the basis becomes the Ritz vectors of the kKeptBlocks * kWidth largest Ritz
// values, W their images (combined from W, no new product), T the diagonal of those values.
void restart(KrylovState& s, const SymmetricEigen& ritz, std::size_t n) {
  const std::size_t kept = kKeptBlocks * kWidth;
  s.q = combine(s.q, ritz.vectors, kept, n);
  s.w = combine(s.w, ritz.vectors, kept, n);
  s.t = FloatMatrix(kMaxBlocks * kWidth, kMaxBlocks * kWidth);
  for (std::size_t k = 0; k < kept; ++k) s.t.at(k, k) = ritz.values[k];
}

FloatMatrix leading(const FloatMatrix& t, std::size_t m) {
  FloatMatrix out(m, m);
  for (std::size_t i = 0; i < m; ++i) std::copy(t.row(i), t.row(i) + m, out.row(i));
  return out;
}

// Unit columns (divided by their norms, summed in row order) with the sign rule applied.
void normalize_columns(FloatMatrix& v) {
  const std::uint64_t n = v.rows();
  for (std::uint64_t j = 0; j < v.cols(); ++j) {
    double sum = -0.0;
    for (std::uint64_t i = 0; i < n; ++i) sum = sum + v.at(i, j) * v.at(i, j);
    const double norm = std::sqrt(sum);
    if (norm > 0.0) {
      for (std::uint64_t i = 0; i < n; ++i) v.at(i, j) = v.at(i, j) / norm;
    }
    fix_sign(&v.at(0, j), n, v.cols());
  }
}

TopEigenpairs dense_top(const FloatMatrix& a, std::uint64_t count) {
  SymmetricEigen eigen = symmetric_eigen(a);
  const std::uint64_t n = a.rows();
  TopEigenpairs result;
  result.values.assign(eigen.values.begin(),
                       eigen.values.begin() + static_cast<std::ptrdiff_t>(count));
  result.vectors = FloatMatrix(n, count);
  for (std::uint64_t i = 0; i < n; ++i) {
    std::copy(eigen.vectors.row(i), eigen.vectors.row(i) + count, result.vectors.row(i));
  }
  normalize_columns(result.vectors);
  return result;
}

TopEigenpairs krylov_top(const FloatMatrix& a, std::uint64_t count,
                         const TopEigenOptions& options) {
  const std::size_t n = static_cast<std::size_t>(a.rows());
  const std::size_t wanted = static_cast<std::size_t>(count);
  const std::uint64_t product_limit = options.product_limit;
  KrylovState s;
  if (!options.portable_product) s.multiply = product_kernel();
  // Block Krylov iteration from a fixed pseudo-random block.
  std::uint64_t stream = 0;
  Block z = new_block(n);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t c = 0; c < kWidth; ++c) z[i * kWidth + c] = start_entry(c, i);
  }
  stream = kWidth;
  orthonormalize(s.q, z, column_norms(z, n), stream, n);
  append_block(s, a, std::move(z));

  for (;;) {
    // Rayleigh-Ritz on the whole basis: the Ritz vectors u = Q y of the kWidth largest Ritz
    // values and their residuals r = A u - theta u = W y - theta Q y.
    SymmetricEigen ritz = symmetric_eigen(leading(s.t, s.size()));
    double scale = 0.0;
    for (const double theta : ritz.values) scale = std::max(scale, std::fabs(theta));
    const Block u = std::move(combine(s.q, ritz.vectors, kWidth, n)[0]);
    z = std::move(combine(s.w, ritz.vectors, kWidth, n)[0]);
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t k = 0; k < kWidth; ++k) {
        const double product = ritz.values[k] * u[i * kWidth + k];
        z[i * kWidth + k] = z[i * kWidth + k] - product;
      }
    }
    const std::vector<double> residuals = column_norms(z, n);
    bool converged = s.q.size() >= 2;
    for (std::size_t k = 0; k < wanted; ++k) {
      converged = converged && residuals[k] <= kEigenResidualTolerance * scale;
    }
    if (converged) {
      TopEigenpairs result;
      result.values.assign(ritz.values.begin(),
                           ritz.values.begin() + static_cast<std::ptrdiff_t>(wanted));
      result.vectors = FloatMatrix(n, count);
      for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < wanted; ++k) result.vectors.at(i, k) = u[i * kWidth + k];
      }
      normalize_columns(result.vectors);
      result.products = s.products;
      return result;
    }
    if (s.products >= product_limit) {
      panic("The eigensolver did not converge within " + std::to_string(product_limit) +
            " matrix products");
    }
    // The next block continues the Krylov space from the residuals (in exact arithmetic they
    // span the same directions as A times the last block, projected). Unlike A times the last
    // block they also carry the Ritz vectors' errors along eigenvectors that a restart dropped,
    // so that those errors can still be removed. Orthogonalised twice against the basis before
    // a restart replaces it (the kept Ritz vectors lie in the old basis' span).
    project_block(s.q, z, n);
    project_block(s.q, z, n);
    if (s.q.size() == kMaxBlocks) restart(s, ritz, n);
    orthonormalize(s.q, z, residuals, stream, n);
    append_block(s, a, std::move(z));
  }
}

}  // namespace

void fix_sign(double* vector, std::uint64_t n, std::uint64_t stride) {
  double largest = 0.0;
  double chosen = 0.0;
  for (std::uint64_t i = 0; i < n; ++i) {
    const double x = vector[i * stride];
    if (std::fabs(x) > largest) {
      largest = std::fabs(x);
      chosen = x;
    }
  }
  if (chosen < 0.0) {
    for (std::uint64_t i = 0; i < n; ++i) vector[i * stride] = -vector[i * stride];
  }
}

SymmetricEigen symmetric_eigen(FloatMatrix a) {
  const std::uint64_t n = a.rows();
  FloatMatrix v(n, n);
  for (std::uint64_t i = 0; i < n; ++i) v.at(i, i) = 1.0;

  // Cyclic Jacobi: every pair (p, q) in row-major order, sweep after sweep, each rotation
  // annihilating a[p][q]. Its tangent comes from a square root only, so no library function of
  // uncertain last bit enters. A sweep that rotates nothing ends the iteration.
  bool converged = false;
  for (std::uint64_t sweep = 0; sweep < kMaxSweeps && !converged; ++sweep) {
    converged = true;
    for (std::uint64_t p = 0; p < n; ++p) {
      for (std::uint64_t q = p + 1; q < n; ++q) {
        const double apq = a.at(p, q);
        if (apq == 0.0) continue;
        const double app = a.at(p, p);
        const double aqq = a.at(q, q);
        const double g = 100.0 * std::fabs(apq);
        // Negligible beside both diagonal elements: it cannot move either eigenvalue.
        if (std::fabs(app) + g == std::fabs(app) && std::fabs(aqq) + g == std::fabs(aqq)) {
          a.at(p, q) = 0.0;
          a.at(q, p) = 0.0;
          continue;
        }
        converged = false;
        const double h = aqq - app;
        double t;  // tan of the rotation angle, the smaller root of t^2 + 2 theta t - 1 = 0
        if (std::fabs(h) + g == std::fabs(h)) {
          t = apq / h;  // theta would overflow when squared; t = 1 / (2 theta) to working precision
        } else {
          const double theta = 0.5 * h / apq;
          t = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
          if (theta < 0.0) t = -t;
        }
        const double c = 1.0 / std::sqrt(t * t + 1.0);
        const double s = t * c;
        const double tau = s / (1.0 + c);
        a.at(p, p) = app - t * apq;
        a.at(q, q) = aqq + t * apq;
        a.at(p, q) = 0.0;
        a.at(q, p) = 0.0;
        for (std::uint64_t k = 0; k < n; ++k) {
          if (k == p || k == q) continue;
          const double akp = a.at(k, p);
          const double akq = a.at(k, q);
          const double new_kp = akp - s * (akq + akp * tau);
          const double new_kq = akq + s * (akp - akq * tau);
          a.at(k, p) = new_kp;
          a.at(p, k) = new_kp;
          a.at(k, q) = new_kq;
          a.at(q, k) = new_kq;
        }
        for (std::uint64_t k = 0; k < n; ++k) {
          double* row = v.row(k);
          const double vkp = row[p];
          const double vkq = row[q];
          row[p] = vkp - s * (vkq + vkp * tau);
          row[q] = vkq + s * (vkp - vkq * tau);
        }
      }
    }
  }
  if (!converged) panic("The symmetric eigensolver did not converge within 100 sweeps");

  EigenDecomposition sorted = sort_eigenpairs(a, v);
  return {std::move(sorted.values), std::move(sorted.vectors)};
}

TopEigenpairs top_eigenpairs(const FloatMatrix& a, std::uint64_t count) {
  return top_eigenpairs(a, count, TopEigenOptions{});
}

TopEigenpairs top_eigenpairs(const FloatMatrix& a, std::uint64_t count,
                             const TopEigenOptions& options) {
  const std::uint64_t n = a.rows();
  check(count >= 1 && count <= kEigenBlockWidth - 2 && count <= n,
        "top_eigenpairs needs 1 <= count <= 6 and count <= n");
  // The Krylov basis, plus one block, must fit in the space with room to spare.
  if (n <= options.dense_limit || n < (kMaxBlocks + 2) * kWidth) return dense_top(a, count);
  return krylov_top(a, count, options);
}

}  // namespace trussel
