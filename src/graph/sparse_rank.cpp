// Incremental rank test of sparse rows: elimination in arrival order with threshold pivoting.
#include "graph/sparse_rank.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

#include "common/errors.hpp"

namespace trussel {

SparseRankEliminator::SparseRankEliminator(std::uint64_t ncols, double zero_tol,
                                           std::vector<std::uint64_t> priority)
    : ncols_(ncols),
      zero_tol_(zero_tol),
      drop_tol_(zero_tol * kDropFactor),
      priority_(std::move(priority)) {
  check(ncols < kNoRow, "capacity overflow");
  const auto size = static_cast<std::size_t>(ncols);
  checked_bytes(ncols, sizeof(double) + 2 * sizeof(std::uint32_t) + 1);
  if (priority_.empty()) {
    priority_.resize(size);
    for (std::size_t c = 0; c < size; ++c) priority_[c] = c;
  }
  check(priority_.size() == size, "priority must hold one key per column");
  row_of_col_.assign(size, kNoRow);
  column_count_.assign(size, 0);
  work_.assign(size, 0.0);
  in_support_.assign(size, 0);
}

void SparseRankEliminator::subtract_stored_row(std::uint32_t k, double g) {
  for (std::size_t t = row_start_[k]; t < row_start_[k + 1]; ++t) {
    const std::uint32_t c = row_cols_[t];
    const double product = g * row_values_[t];
    work_[c] = work_[c] - product;
    if (in_support_[c] == 0) {
      in_support_[c] = 1;
      support_.push_back(c);
      if (row_of_col_[c] != kNoRow) {
        heap_.push_back(row_of_col_[c]);
        std::push_heap(heap_.begin(), heap_.end(), std::greater<>());
      }
    }
  }
}

void SparseRankEliminator::clear_work() {
  for (const std::uint32_t c : support_) {
    work_[c] = 0.0;
    in_support_[c] = 0;
  }
  support_.clear();
  heap_.clear();
  pending_rows_.clear();
  pending_values_.clear();
}

bool SparseRankEliminator::add_row(const std::uint32_t* cols, const double* values,
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
    if (row_of_col_[c] != kNoRow) heap_.push_back(row_of_col_[c]);
  }
  std::make_heap(heap_.begin(), heap_.end(), std::greater<>());

  // Stored row k is zero at the pivots of the rows stored before it, so once k is applied its
  // pivot column is never filled again: applying rows in increasing k clears every pivot column.
  while (!heap_.empty()) {
    std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
    const std::uint32_t k = heap_.back();
    heap_.pop_back();
    const std::uint32_t p = pivot_col_[k];
    const double x = work_[p];
    if (x == 0.0) continue;
    const double g = x / pivot_value_[k];
    work_[p] = 0.0;
    pending_rows_.push_back(k);
    pending_values_.push_back(g);
    subtract_stored_row(k, g);
  }

  double largest = 0.0;
  for (const std::uint32_t c : support_) largest = std::max(largest, std::fabs(work_[c]));
  if (!(largest > zero_tol_)) {
    clear_work();
    return false;
  }

  // Threshold partial pivoting, the sparsest eligible column first.
  const double eligible = largest * kPivotThreshold;
  std::uint32_t pivot = kNoRow;
  for (const std::uint32_t c : support_) {
    if (!(std::fabs(work_[c]) >= eligible) || work_[c] == 0.0) continue;
    if (pivot == kNoRow || column_count_[c] < column_count_[pivot] ||
        (column_count_[c] == column_count_[pivot] &&
         (priority_[c] < priority_[pivot] || (priority_[c] == priority_[pivot] && c < pivot)))) {
      pivot = c;
    }
  }

  const auto k = static_cast<std::uint32_t>(pivot_col_.size());
  pivot_col_.push_back(pivot);
  pivot_value_.push_back(work_[pivot]);
  row_of_col_[pivot] = k;
  ++column_count_[pivot];
  for (const std::uint32_t c : support_) {
    if (c == pivot || !(std::fabs(work_[c]) > drop_tol_)) continue;
    row_cols_.push_back(c);
    row_values_.push_back(work_[c]);
    ++column_count_[c];
  }
  row_start_.push_back(row_cols_.size());
  mult_row_.insert(mult_row_.end(), pending_rows_.begin(), pending_rows_.end());
  mult_value_.insert(mult_value_.end(), pending_values_.begin(), pending_values_.end());
  mult_start_.push_back(mult_row_.size());
  clear_work();
  return true;
}

std::vector<double> SparseRankEliminator::span_coefficients(std::vector<double> target) const {
  check(target.size() == ncols_, "target must hold one entry per column");
  const std::size_t rank = pivot_col_.size();
  // Forward: target = sum of reduced[k] times stored row k (plus a remainder outside the span).
  std::vector<double> reduced(rank, 0.0);
  for (std::size_t k = 0; k < rank; ++k) {
    const double x = target[pivot_col_[k]];
    if (x == 0.0) continue;
    const double g = x / pivot_value_[k];
    reduced[k] = g;
    target[pivot_col_[k]] = 0.0;
    for (std::size_t t = row_start_[k]; t < row_start_[k + 1]; ++t) {
      const double product = g * row_values_[t];
      target[row_cols_[t]] = target[row_cols_[t]] - product;
    }
  }
  // Backward: stored row j = offered row j - sum over its multipliers, so the coefficient of
  // offered row k is reduced[k] minus what the later offered rows already account for.
  std::vector<double> coefficients(rank, 0.0);
  std::vector<double> accounted(rank, 0.0);
  for (std::size_t k = rank; k-- > 0;) {
    const double b = reduced[k] - accounted[k];
    coefficients[k] = b;
    if (b == 0.0) continue;
    for (std::size_t t = mult_start_[k]; t < mult_start_[k + 1]; ++t) {
      const double product = mult_value_[t] * b;
      accounted[mult_row_[t]] = accounted[mult_row_[t]] + product;
    }
  }
  return coefficients;
}

}  // namespace trussel
