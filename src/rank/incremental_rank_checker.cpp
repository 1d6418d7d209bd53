// Incremental rank test of rigidity-matrix rows under an absolute tolerance.
#include "rank/incremental_rank_checker.hpp"

#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "common/errors.hpp"

namespace trussel {

namespace {

// target[t] -= factor * source[t] for every column in order. The product is rounded on its own
// before the subtraction (the build forbids contraction into a fused multiply-add).
void subtract_multiple(std::vector<double>& target, double factor,
                       const std::vector<double>& source) {
  double* out = target.data();
  const double* in = source.data();
  const std::size_t count = target.size();
  for (std::size_t t = 0; t < count; ++t) {
    const double product = factor * in[t];
    out[t] = out[t] - product;
  }
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

bool IncrementalRankChecker::add_row(std::vector<double> row) {
  const std::uint64_t length = row.size();
  if (length != ncols_) {
    const std::string left = std::to_string(length);
    const std::string right = std::to_string(ncols_);
    panic(equality_message("Row length " + left + " does not match ncols " + right, left, right));
  }

  // Reduce against the basis in acceptance order. The pivot entry is read once per basis row,
  // after the earlier rows have changed it; rows whose entry is within the tolerance are skipped.
  // `std::fabs(c) > tol_` is false for a NaN entry and for a NaN tolerance.
  for (std::size_t k = 0; k < basis_.size(); ++k) {
    const double c = row[static_cast<std::size_t>(pivots_[k])];
    if (std::fabs(c) > tol_) subtract_multiple(row, c, basis_[k]);
  }

  // The pivot is the first entry above the tolerance, by position, not the largest one.
  std::size_t q = 0;
  while (q < row.size() && !(std::fabs(row[q]) > tol_)) ++q;
  if (q == row.size()) return false;

  // A true division of every entry, small ones included, so the pivot entry becomes v / v.
  const double v = row[q];
  for (double& x : row) x = x / v;

  // Allocate before the basis changes, so that running out of memory leaves the checker intact.
  reserve_one_more(pivots_);
  reserve_one_more(basis_);

  // Clear the new pivot column from the earlier basis rows (Gauss-Jordan back-elimination).
  for (std::vector<double>& basis_row : basis_) {
    const double f = basis_row[q];
    if (std::fabs(f) > tol_) subtract_multiple(basis_row, f, row);
  }

  pivots_.push_back(static_cast<std::uint64_t>(q));
  basis_.push_back(std::move(row));
  return true;
}

}  // namespace trussel
