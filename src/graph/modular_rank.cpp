// Exact rank of sparse rows over the prime field of 2^61 - 1, for generic rigidity.
#include "graph/modular_rank.hpp"

#include <algorithm>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace trussel {
namespace modular {

std::uint64_t mul(std::uint64_t a, std::uint64_t b) {
#if defined(_MSC_VER) && !defined(__clang__)
  std::uint64_t high = 0;
  const std::uint64_t low = _umul128(a, b, &high);
#else
  __extension__ using Wide = unsigned __int128;
  const Wide product = static_cast<Wide>(a) * b;
  const auto low = static_cast<std::uint64_t>(product);
  const auto high = static_cast<std::uint64_t>(product >> 64);
#endif
  // a, b < 2^61, so high < 2^58; 2^64 = 8 (mod p) and 2^61 = 1 (mod p).
  std::uint64_t r = (low & kPrime) + (low >> 61) + (high << 3);
  r = (r & kPrime) + (r >> 61);
  return r >= kPrime ? r - kPrime : r;
}

std::uint64_t inverse(std::uint64_t a) {
  std::uint64_t result = 1, base = a, exponent = kPrime - 2;
  while (exponent != 0) {
    if ((exponent & 1) != 0) result = mul(result, base);
    base = mul(base, base);
    exponent >>= 1;
  }
  return result;
}

std::uint64_t draw(std::uint64_t& state) {
  for (;;) {
    state += 0x9E3779B97F4A7C15u;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z = (z ^ (z >> 31)) >> 3;
    if (z < kPrime) return z;
  }
}

}  // namespace modular

ModularRankEliminator::ModularRankEliminator(std::uint64_t ncols,
                                             std::vector<std::uint64_t> priority)
    : ncols_(ncols), priority_(std::move(priority)) {
  check(ncols < kNoRow, "capacity overflow");
  const auto size = static_cast<std::size_t>(ncols);
  checked_bytes(ncols, 2 * sizeof(std::uint64_t) + 2 * sizeof(std::uint32_t) + 1);
  if (priority_.empty()) {
    priority_.resize(size);
    for (std::size_t c = 0; c < size; ++c) priority_[c] = c;
  }
  check(priority_.size() == size, "priority must hold one key per column");
  row_of_col_.assign(size, kNoRow);
  work_.assign(size, 0);
  in_support_.assign(size, 0);
}

void ModularRankEliminator::push_column(std::uint32_t c) {
  heap_.push_back(c);
  std::push_heap(heap_.begin(), heap_.end(),
                 [this](std::uint32_t a, std::uint32_t b) { return priority_[a] > priority_[b]; });
}

std::uint32_t ModularRankEliminator::pop_column() {
  if (heap_.empty()) return kNoRow;
  std::pop_heap(heap_.begin(), heap_.end(),
                [this](std::uint32_t a, std::uint32_t b) { return priority_[a] > priority_[b]; });
  const std::uint32_t c = heap_.back();
  heap_.pop_back();
  return c;
}

void ModularRankEliminator::clear_work() {
  for (const std::uint32_t c : support_) {
    work_[c] = 0;
    in_support_[c] = 0;
  }
  support_.clear();
  heap_.clear();
  pending_rows_.clear();
  pending_values_.clear();
}

bool ModularRankEliminator::add_row(const std::uint32_t* cols, const std::uint64_t* values,
                                    std::size_t count) {
  for (std::size_t t = 0; t < count; ++t) {
    const std::uint32_t c = cols[t];
    if (c >= ncols_ || in_support_[c] != 0) {
      clear_work();
      panic("row columns must be distinct and below ncols");
    }
    work_[c] = values[t];
    in_support_[c] = 1;
    support_.push_back(c);
    push_column(c);
  }
  for (std::uint32_t c = pop_column(); c != kNoRow; c = pop_column()) {
    const std::uint64_t x = work_[c];
    if (x == 0) continue;
    const std::uint32_t k = row_of_col_[c];
    if (k == kNoRow) {
      // The surviving entry of least key is the pivot; every other survivor has a larger key.
      const auto stored = static_cast<std::uint32_t>(pivot_col_.size());
      pivot_col_.push_back(c);
      pivot_inverse_.push_back(modular::inverse(x));
      row_of_col_[c] = stored;
      for (const std::uint32_t other : support_) {
        if (other == c || work_[other] == 0 || priority_[other] < priority_[c]) continue;
        row_cols_.push_back(other);
        row_values_.push_back(work_[other]);
      }
      row_start_.push_back(row_cols_.size());
      mult_row_.insert(mult_row_.end(), pending_rows_.begin(), pending_rows_.end());
      mult_value_.insert(mult_value_.end(), pending_values_.begin(), pending_values_.end());
      mult_start_.push_back(mult_row_.size());
      clear_work();
      return true;
    }
    const std::uint64_t g = modular::mul(x, pivot_inverse_[k]);
    work_[c] = 0;
    pending_rows_.push_back(k);
    pending_values_.push_back(g);
    for (std::size_t t = row_start_[k]; t < row_start_[k + 1]; ++t) {
      const std::uint32_t col = row_cols_[t];
      work_[col] = modular::sub(work_[col], modular::mul(g, row_values_[t]));
      if (in_support_[col] == 0) {
        in_support_[col] = 1;
        support_.push_back(col);
        push_column(col);
      }
    }
    poll_interrupt(row_start_[k + 1] - row_start_[k] + 1);
  }
  clear_work();
  return false;
}

std::vector<std::uint64_t> ModularRankEliminator::span_coefficients(
    std::vector<std::uint64_t> target) const {
  check(target.size() == ncols_, "target must hold one entry per column");
  const std::size_t rank = pivot_col_.size();
  // Forward: reduce the target by the stored rows in increasing key order of their pivots.
  std::vector<std::uint32_t> order(rank);
  for (std::size_t k = 0; k < rank; ++k) order[k] = static_cast<std::uint32_t>(k);
  std::sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) {
    return priority_[pivot_col_[a]] < priority_[pivot_col_[b]];
  });
  std::vector<std::uint64_t> reduced(rank, 0);
  for (const std::uint32_t k : order) {
    const std::uint64_t x = target[pivot_col_[k]];
    if (x == 0) continue;
    const std::uint64_t g = modular::mul(x, pivot_inverse_[k]);
    reduced[k] = g;
    target[pivot_col_[k]] = 0;
    for (std::size_t t = row_start_[k]; t < row_start_[k + 1]; ++t) {
      target[row_cols_[t]] = modular::sub(target[row_cols_[t]], modular::mul(g, row_values_[t]));
    }
    poll_interrupt(row_start_[k + 1] - row_start_[k] + 1);
  }
  for (const std::uint64_t x : target) check(x == 0, "target is not in the span of the rows");
  // Backward: stored row j = offered row j - sum of its multipliers times earlier stored rows.
  std::vector<std::uint64_t> coefficients(rank, 0);
  std::vector<std::uint64_t> accounted(rank, 0);
  for (std::size_t k = rank; k-- > 0;) {
    const std::uint64_t b = modular::sub(reduced[k], accounted[k]);
    coefficients[k] = b;
    if (b == 0) continue;
    for (std::size_t t = mult_start_[k]; t < mult_start_[k + 1]; ++t) {
      accounted[mult_row_[t]] =
          modular::add(accounted[mult_row_[t]], modular::mul(mult_value_[t], b));
    }
  }
  return coefficients;
}

}  // namespace trussel
