// Incremental rank test of rigidity-matrix rows under an absolute tolerance.
#include "rank/incremental_rank_checker.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "common/errors.hpp"

// The subtraction kernel has an AVX2 version, chosen at run time, where GCC or Clang build for
// x86-64 ELF targets; elsewhere only the plain loop is built.
#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define TRUSSEL_RANK_AVX2 1
#include <immintrin.h>
#else
#define TRUSSEL_RANK_AVX2 0
#endif

// Why deferring the back-elimination changes no bit.
//
// The plain elimination, on accepting row r (pivot q), sets B_k[t] = B_k[t] - f * r[t] for every
// column t of every earlier basis row k with |f| > tol, where f is B_k[q] at that moment. Here r
// is copied into a window slot S as it is on acceptance, and (f, S) is appended to the pending
// list of row k instead; f is B_k[q] with k's pending updates applied to that one entry in order,
// which is exactly the value the plain elimination reads. Every entry of a basis row is changed
// only by these updates, so applying a row's pending list later, oldest first, runs for each entry
// the same operations on the same operands in the same order: x = x - f_i * S_i[t], the product
// rounded before the subtraction. The values therefore agree bit for bit (signed zeros and NaNs
// included), whenever the list is applied. A row is brought up to date before it is read in full
// (when it reduces a new row, and in basis()), and all rows are when the window is full, so that
// its slots can be reused. Updates of different columns are independent, so applying the list
// block of columns by block of columns is the same as applying it update by update.
//
// The AVX2 kernel computes the same rounded products and differences lane by lane: its multiply
// and subtract round like the scalar SSE2 ones, the target does not enable fused multiply-adds
// and the build forbids contraction. A NaN result takes the payload of the first operand of the
// subtraction in both, and the factor is never NaN (it passed |f| > tol).

namespace trussel {

namespace {

// Columns per block when a basis row is brought up to date: the block of the row stays in the
// first-level cache while the pending updates run over it.
constexpr std::size_t kBlock = 256;

using SubtractKernel = void (*)(double*, double, const double*, std::size_t) noexcept;

// out[t] -= factor * in[t] for t in [0, count) in order. The product is rounded on its own
// before the subtraction (the build forbids contraction into a fused multiply-add).
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

// The kernel for this processor, chosen once.
SubtractKernel subtract_kernel() noexcept {
  static const SubtractKernel kernel = choose_kernel();
  return kernel;
}

// Makes room for one more element, growing geometrically, so that a later push_back cannot throw.
template <class T>
void reserve_one_more(std::vector<T>& items) {
  if (items.size() == items.capacity()) items.reserve(items.size() * 2 + 1);
}

}  // namespace

IncrementalRankChecker IncrementalRankChecker::make(std::uint64_t ncols, double tol) {
  return IncrementalRankChecker(ncols, tol);
}

double IncrementalRankChecker::current_entry(std::size_t k, std::size_t column) const noexcept {
  double x = basis_[k][column];
  const PendingList& list = pending_[k];
  for (std::size_t u = 0; u < list.count; ++u) {
    const PendingUpdate& update = list.updates[u];
    const double product = update.factor * window_[update.slot][column];
    x = x - product;
  }
  return x;
}

void IncrementalRankChecker::flush_row(std::size_t k, double* row, double c) const noexcept {
  const SubtractKernel subtract = subtract_kernel();
  double* values = basis_[k].data();
  const std::size_t width = basis_[k].size();
  PendingList& list = pending_[k];
  if (list.count == 0) {
    if (row != nullptr) subtract(row, c, values, width);
    return;
  }
  for (std::size_t start = 0; start < width; start += kBlock) {
    const std::size_t count = std::min(kBlock, width - start);
    for (std::size_t u = 0; u < list.count; ++u) {
      const PendingUpdate& update = list.updates[u];
      subtract(values + start, update.factor, window_[update.slot].data() + start, count);
    }
    if (row != nullptr) subtract(row + start, c, values + start, count);
  }
  list.count = 0;
}

void IncrementalRankChecker::flush_all() const noexcept {
  for (std::size_t k = 0; k < basis_.size(); ++k) flush_row(k, nullptr, 0.0);
}

const std::vector<std::vector<double>>& IncrementalRankChecker::basis() const noexcept {
  flush_all();
  return basis_;
}

bool IncrementalRankChecker::add_row(std::vector<double> row) {
  const std::uint64_t length = row.size();
  if (length != ncols_) {
    const std::string left = std::to_string(length);
    const std::string right = std::to_string(ncols_);
    panic(equality_message("Row length " + left + " does not match ncols " + right, left, right));
  }

  // Reduce against the basis in acceptance order. The pivot entry is read once per basis row,
  // after the earlier rows have changed it; rows whose entry is within the tolerance are skipped.
  // `std::fabs(c) > tol_` is false for a NaN entry and for a NaN tolerance. A basis row that is
  // used is brought up to date on the way.
  for (std::size_t k = 0; k < basis_.size(); ++k) {
    const double c = row[static_cast<std::size_t>(pivots_[k])];
    if (std::fabs(c) > tol_) flush_row(k, row.data(), c);
  }

  // The pivot is the first entry above the tolerance, by position, not the largest one.
  std::size_t q = 0;
  while (q < row.size() && !(std::fabs(row[q]) > tol_)) ++q;
  if (q == row.size()) return false;

  // A true division of every entry, small ones included, so the pivot entry becomes v / v.
  const double v = row[q];
  for (double& x : row) x = x / v;

  // Allocate before the basis changes, so that running out of memory leaves the checker holding
  // the same rows. The slot at window_used_ is not referred to by any pending update.
  reserve_one_more(pivots_);
  reserve_one_more(basis_);
  reserve_one_more(pending_);
  if (window_.empty()) window_.resize(kWindow);
  const std::size_t slot = window_used_;
  window_[slot] = row;

  // Gauss-Jordan back-elimination of the new pivot column from the earlier rows, deferred.
  for (std::size_t k = 0; k < basis_.size(); ++k) {
    const double f = current_entry(k, q);
    if (std::fabs(f) > tol_) {
      PendingList& list = pending_[k];
      list.updates[list.count] = PendingUpdate{f, slot};
      ++list.count;
    }
  }

  pivots_.push_back(static_cast<std::uint64_t>(q));
  basis_.push_back(std::move(row));
  pending_.emplace_back();
  ++window_used_;
  if (window_used_ == kWindow) {
    flush_all();
    window_used_ = 0;
  }
  return true;
}

}  // namespace trussel
