// Exact rank of sparse rows over the prime field of 2^61 - 1, for generic rigidity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trussel {

/// Arithmetic modulo the Mersenne prime 2^61 - 1 (values are kept in 0 .. p - 1).
namespace modular {
inline constexpr std::uint64_t kPrime = (std::uint64_t{1} << 61) - 1;

inline std::uint64_t add(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t sum = a + b;
  return sum >= kPrime ? sum - kPrime : sum;
}
inline std::uint64_t sub(std::uint64_t a, std::uint64_t b) {
  return a >= b ? a - b : a + kPrime - b;
}
std::uint64_t mul(std::uint64_t a, std::uint64_t b);
/// The inverse of a non-zero a (a^(p-2)).
std::uint64_t inverse(std::uint64_t a);
/// A value of 0 .. p - 1 drawn from the 64-bit state (SplitMix64, advancing the state).
std::uint64_t draw(std::uint64_t& state);
}  // namespace modular

/// Decides, one sparse row at a time, whether a row over GF(2^61 - 1) raises the rank of the rows
/// offered before it. Arithmetic is exact, so the pivot of each stored row is simply its
/// non-zero entry of the smallest column key (a static, fill-reducing order): a new row is reduced
/// against the stored rows in increasing key order of their pivots, and raises the rank when an
/// entry without a stored pivot survives. The stored rows, and the multipliers that produced
/// them, express any vector of the span in the accepted rows (span_coefficients).
class ModularRankEliminator {
 public:
  /// An eliminator over `ncols` columns (below 2^32) with one key per column in `priority`
  /// (distinct keys; empty: the column index). Throws Panic "capacity overflow" otherwise.
  ModularRankEliminator(std::uint64_t ncols, std::vector<std::uint64_t> priority);

  /// Reduces the row with entries values[t] (below p) at distinct columns cols[t]; returns true
  /// and stores it when it raises the rank. Throws Panic, changing nothing, on a repeated column
  /// or one not below ncols.
  bool add_row(const std::uint32_t* cols, const std::uint64_t* values, std::size_t count);

  std::uint64_t rank() const noexcept { return static_cast<std::uint64_t>(pivot_col_.size()); }

  /// Coefficients b (one per accepted row, in acceptance order) with sum b[k] * row k = target
  /// (ncols entries below p). Throws Panic when the target is not in the span of the rows or has
  /// the wrong length.
  std::vector<std::uint64_t> span_coefficients(std::vector<std::uint64_t> target) const;

 private:
  static constexpr std::uint32_t kNoRow = 0xFFFFFFFFu;

  // The work row's column of least key not yet reduced, or kNoRow.
  std::uint32_t pop_column();
  void push_column(std::uint32_t c);
  void clear_work();

  std::uint64_t ncols_;
  std::vector<std::uint64_t> priority_;

  std::vector<std::uint32_t> pivot_col_;
  std::vector<std::uint64_t> pivot_inverse_;
  std::vector<std::size_t> row_start_{0};
  std::vector<std::uint32_t> row_cols_;
  std::vector<std::uint64_t> row_values_;
  std::vector<std::size_t> mult_start_{0};
  std::vector<std::uint32_t> mult_row_;
  std::vector<std::uint64_t> mult_value_;

  std::vector<std::uint32_t> row_of_col_;
  std::vector<std::uint64_t> work_;
  std::vector<std::uint8_t> in_support_;
  std::vector<std::uint32_t> support_;
  std::vector<std::uint32_t> heap_;  // support columns by increasing key
  std::vector<std::uint32_t> pending_rows_;
  std::vector<std::uint64_t> pending_values_;
};

}  // namespace trussel
