// Incremental rank test of sparse rows: elimination in arrival order with threshold pivoting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trussel {

/// Decides, one sparse row at a time, whether a row raises the rank of the rows offered before
/// it, and keeps what is needed to express a vector of their span in the accepted rows.
///
/// Each accepted row is stored reduced against the rows accepted before it (LU factorisation of
/// the accepted rows, rows in arrival order): a new row is reduced against the stored rows in
/// their acceptance order, each one clearing its own pivot column, so the remainder is zero at
/// every pivot column and is what the row adds to the span. The row raises the rank when some
/// entry of the remainder exceeds `zero_tol` in magnitude. Its pivot is chosen by threshold
/// partial pivoting: among the entries within a factor kPivotThreshold of the largest, the one
/// whose column holds the fewest stored entries so far (ties: the smaller `priority`, then the
/// smaller column), so multipliers stay below 1 / kPivotThreshold and fill-in stays low.
class SparseRankEliminator {
 public:
  /// An entry is a pivot candidate when its magnitude is at least this fraction of the largest.
  /// A small fraction leaves the choice of the sparsest column wide open, which is what keeps the
  /// fill-in down when rows arrive in random order (a shuffled 200 x 200 lattice: 4 s at 0.01,
  /// 55 s when keeping to a nested-dissection order instead), while multipliers up to 100 keep
  /// the growth of the entries bounded.
  static constexpr double kPivotThreshold = 0.01;
  /// Entries of a reduced row at or below zero_tol times this factor are rounding noise (left by
  /// exact cancellations, as on lattices) and are not stored, which keeps the fill-in down.
  static constexpr double kDropFactor = 1e-6;

  /// An eliminator over `ncols` columns (below 2^32; Panic "capacity overflow" otherwise).
  /// `priority` holds one key per column (empty: the column index).
  SparseRankEliminator(std::uint64_t ncols, double zero_tol, std::vector<std::uint64_t> priority);

  /// Reduces the row with entries `values[t]` at distinct columns `cols[t]` (t < count); returns
  /// true and stores it when it raises the rank, false otherwise. Comparisons with a NaN count as
  /// false, so a NaN tolerance makes every row dependent. Throws Panic, changing nothing, when a
  /// column repeats or is not below ncols.
  bool add_row(const std::uint32_t* cols, const double* values, std::size_t count);

  /// The number of stored (accepted) rows.
  std::uint64_t rank() const noexcept { return static_cast<std::uint64_t>(pivot_col_.size()); }

  /// The pivot column of each stored row, in acceptance order.
  const std::vector<std::uint32_t>& pivot_columns() const noexcept { return pivot_col_; }

  /// Coefficients b (one per accepted row, in acceptance order) such that the sum of b[k] times
  /// the k-th accepted row, as offered, equals `target` (ncols entries), for a target in their
  /// span: forward reduction against the stored rows, then the transposed triangular solve with
  /// the stored multipliers. Throws Panic when `target` has the wrong length.
  std::vector<double> span_coefficients(std::vector<double> target) const;

 private:
  static constexpr std::uint32_t kNoRow = 0xFFFFFFFFu;

  // Adds `g` times stored row k (its off-pivot entries) negated to the work vector, recording
  // new columns in the support and new pivot columns in the heap.
  void subtract_stored_row(std::uint32_t k, double g);
  void clear_work();

  std::uint64_t ncols_;
  double zero_tol_;
  double drop_tol_;
  std::vector<std::uint64_t> priority_;

  // Stored rows: pivot column and value, off-pivot entries in rows_start_[k] .. rows_start_[k+1].
  std::vector<std::uint32_t> pivot_col_;
  std::vector<double> pivot_value_;
  std::vector<std::size_t> row_start_{0};
  std::vector<std::uint32_t> row_cols_;
  std::vector<double> row_values_;
  // Multipliers of each stored row: the row as offered is its stored form plus the sum of
  // mult_value_ times stored row mult_row_, over mult_start_[k] .. mult_start_[k+1].
  std::vector<std::size_t> mult_start_{0};
  std::vector<std::uint32_t> mult_row_;
  std::vector<double> mult_value_;

  std::vector<std::uint32_t> row_of_col_;    // stored row whose pivot is the column, or kNoRow
  std::vector<std::uint32_t> column_count_;  // stored entries per column
  std::vector<double> work_;                 // dense work row, all zero between calls
  std::vector<std::uint8_t> in_support_;     // 1 where the work row may be non-zero
  std::vector<std::uint32_t> support_;       // columns with in_support_ set
  std::vector<std::uint32_t> heap_;          // stored rows still to apply (min-heap)
  std::vector<std::uint32_t> pending_rows_;  // multipliers of the row being reduced
  std::vector<double> pending_values_;
};

}  // namespace trussel
