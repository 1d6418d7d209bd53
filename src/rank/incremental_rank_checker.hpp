// Incremental rank test of rigidity-matrix rows under an absolute tolerance.
#pragma once

#include <cstdint>
#include <vector>

namespace trussel {

/// Keeps accepted rows as a basis in reduced row-echelon form (Gauss-Jordan elimination under an
/// absolute tolerance: an entry x counts as non-zero exactly when |x| > tol) and reports whether
/// each new row raises the rank.
class IncrementalRankChecker {
 public:
  /// An empty checker for rows of `ncols` entries.
  static IncrementalRankChecker make(std::uint64_t ncols, double tol);

  /// Reduces `row` against the basis; returns true and keeps it when something above the
  /// tolerance is left (rank grows by one), false and drops it otherwise. Throws Panic with the
  /// equality message "Row length <len> does not match ncols <ncols>" on a length mismatch.
  bool add_row(std::vector<double> row);

  std::uint64_t rank() const noexcept { return static_cast<std::uint64_t>(pivots_.size()); }
  std::uint64_t ncols() const noexcept { return ncols_; }
  double tol() const noexcept { return tol_; }
  /// The basis rows in acceptance order, and the pivot column of each.
  const std::vector<std::vector<double>>& basis() const noexcept { return basis_; }
  const std::vector<std::uint64_t>& pivots() const noexcept { return pivots_; }

 private:
  IncrementalRankChecker(std::uint64_t ncols, double tol) : ncols_(ncols), tol_(tol) {}

  std::uint64_t ncols_ = 0;
  double tol_ = 0.0;
  std::vector<std::vector<double>> basis_;
  std::vector<std::uint64_t> pivots_;
};

}  // namespace trussel
