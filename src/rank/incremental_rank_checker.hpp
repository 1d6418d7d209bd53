// Incremental rank test of rigidity-matrix rows under an absolute tolerance.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace trussel {

/// Keeps accepted rows as a basis in reduced row-echelon form (Gauss-Jordan elimination under an
/// absolute tolerance: an entry x counts as non-zero exactly when |x| > tol) and reports whether
/// each new row raises the rank.
///
/// The back-elimination of a basis row is deferred until the row is next read in full, and is
/// then applied with exactly the operations, in exactly the order, of an immediate update, so
/// every answer, pivot and basis bit is that of the plain elimination.
///
/// Exception safety: add_row either completes or, when it throws (a length Panic, or
/// std::bad_alloc), leaves the checker holding the same rows as before the call; it may have
/// applied deferred updates by then, which changes no value that can be observed.
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
  /// The basis rows in acceptance order, fully updated: applies the deferred back-elimination
  /// first (no allocation), so it is not a plain read; like every member, not for concurrent use.
  const std::vector<std::vector<double>>& basis() const noexcept;
  /// The pivot column of each basis row.
  const std::vector<std::uint64_t>& pivots() const noexcept { return pivots_; }

  /// How many accepted rows the deferred updates may refer to before every basis row is brought
  /// up to date and the copies of those rows are reused.
  static constexpr std::size_t kWindow = 16;

 private:
  // One deferred back-elimination: subtract `factor` times the accepted row kept in window
  // `slot` (as it was when accepted).
  struct PendingUpdate {
    double factor = 0.0;
    std::size_t slot = 0;
  };
  // The deferred updates of one basis row, oldest first; at most one per window slot.
  struct PendingList {
    std::array<PendingUpdate, kWindow> updates;
    std::size_t count = 0;
  };

  IncrementalRankChecker(std::uint64_t ncols, double tol) : ncols_(ncols), tol_(tol) {}

  // Entry `column` of basis row k as the plain elimination would hold it now.
  double current_entry(std::size_t k, std::size_t column) const noexcept;
  // Applies the deferred updates of basis row k; if `row` is not null, then subtracts `c` times
  // the updated basis row from it, column block by column block, reading the basis row once.
  void flush_row(std::size_t k, double* row, double c) const noexcept;
  void flush_all() const noexcept;

  std::uint64_t ncols_ = 0;
  double tol_ = 0.0;
  // The basis rows with their deferred updates not yet applied; brought up to date in place
  // without changing any observable value, hence mutable.
  mutable std::vector<std::vector<double>> basis_;
  mutable std::vector<PendingList> pending_;
  std::vector<std::uint64_t> pivots_;
  // Copies of the last accepted rows as they were when accepted; `window_used_` slots are live.
  std::vector<std::vector<double>> window_;
  std::size_t window_used_ = 0;
};

}  // namespace trussel
