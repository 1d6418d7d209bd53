// Supernodal multifrontal Cholesky factorisation of sparse symmetric positive definite matrices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/edge.hpp"
#include "common/matrix.hpp"

namespace trussel {

/// The lower triangle of a symmetric n x n matrix in compressed columns: column j holds the
/// entries value[t] at rows row[t] >= j for start[j] <= t < start[j + 1]. Rows need not be sorted
/// within a column; entries at the same position are summed.
struct SymmetricMatrix {
  std::uint64_t n = 0;
  std::vector<std::size_t> start{0};
  std::vector<std::uint32_t> row;
  std::vector<double> value;
};

/// RᵀR + ridge·I for the rigidity matrix R of the bars `edges` between the points `coords`
/// (n x d; one row per bar, p_i - p_j in node i's columns i*d .. i*d + d - 1, its negation in
/// node j's), as the lower triangle in compressed columns, each column's rows in increasing
/// order. Edges must be valid and without loops; sums run over the bars at a node in the order
/// of `edges`. Throws Panic "capacity overflow" when n*d does not fit in 32 bits.
SymmetricMatrix rigidity_normal_matrix(const FloatMatrix& coords, const std::vector<Edge>& edges,
                                       double ridge);

/// A Cholesky factorisation P A Pᵀ = L Lᵀ of a sparse symmetric positive definite matrix A.
///
/// The analysis orders the columns by the given keys (a fill-reducing order, ties by index),
/// reorders that within the elimination tree into a postorder (same fill), and groups columns
/// into supernodes: runs of columns whose factor columns share their structure below the run,
/// relaxed to take in a few explicit zeros where that makes larger dense blocks. The numeric
/// factorisation is multifrontal: each supernode's frontal matrix gathers its columns of A and
/// the update matrices of its children, its columns are factored by a blocked right-looking
/// Cholesky whose trailing updates run in a register-tiled dense kernel, and what remains is
/// its own update matrix for its parent. Every sum runs in a fixed order, so the same input gives
/// the same bits.
class SparseCholesky {
 public:
  /// The symbolic analysis of the pattern of `a` (the values are not read) in the order of the
  /// keys `priority` (one per column: the column with the least key is eliminated first). Throws
  /// Panic when the pattern is malformed (a row above its column or not below n, starts not
  /// increasing) or `priority` has the wrong length, Panic "capacity overflow" when n is not below
  /// 2^32 or the factor's size does not fit in 64 bits; std::bad_alloc when memory runs out.
  SparseCholesky(const SymmetricMatrix& a, const std::vector<std::uint64_t>& priority);

  /// Factors the matrix with the analysed pattern and the values `value` (one per entry of the
  /// pattern, as SymmetricMatrix::value). Returns false when a pivot is not positive (zero,
  /// negative or NaN: the matrix is not positive definite in floating point), which leaves the
  /// factor unusable until the next successful call. Throws Panic when `value` has the wrong
  /// length; polls for interrupts.
  bool factorize(const std::vector<double>& value);

  /// The solution x of A x = b (n entries, in the original numbering of the columns), by forward
  /// and backward substitution with the factor. Throws Panic when b has the wrong length or no
  /// factorisation has succeeded.
  std::vector<double> solve(std::vector<double> b) const;

  /// Takes the portable kernel even where the processor has AVX2 (for tests: both kernels give
  /// the same bits).
  void use_portable_kernel(bool portable) noexcept { portable_kernel_ = portable; }

  std::uint64_t size() const noexcept { return n_; }
  /// Entries of L below and on the diagonal counted by the symbolic structure (explicit zeros
  /// of relaxed supernodes included, the unused upper parts of their diagonal blocks not).
  std::uint64_t factor_entries() const noexcept { return factor_entries_; }
  /// Floating-point operations of the numeric factorisation, as counted by the structure: for
  /// each column with c entries below the diagonal, c² + 3c + 1 (update, scaling, square root).
  double factor_flops() const noexcept { return factor_flops_; }
  std::uint64_t supernode_count() const noexcept { return first_col_.size() - 1; }

 private:
  struct Workspace;
  // The frontal work of supernode s: assemble, factor its columns, push its update matrix.
  // Returns false on a non-positive pivot.
  bool factor_supernode(std::size_t s, const std::vector<double>& value, Workspace& work);

  std::uint64_t n_ = 0;
  std::size_t entry_count_ = 0;
  std::vector<std::uint32_t> perm_;  // perm_[k]: the original column at position k
  // The pattern of A in the final order, lower triangle by columns; source_[t] is the index of
  // the entry in the caller's value array.
  std::vector<std::size_t> a_start_;
  std::vector<std::uint32_t> a_row_;
  std::vector<std::size_t> a_source_;
  // Supernode s holds columns first_col_[s] .. first_col_[s + 1] - 1; its rows (the columns
  // first, then the rows below them, increasing) are row_[row_start_[s] ..
  // row_start_[s + 1]); its values are a column-major m x k block at value_start_[s].
  std::vector<std::uint32_t> first_col_;
  std::vector<std::uint32_t> super_parent_;  // kNone for a root
  std::vector<std::size_t> row_start_;
  std::vector<std::uint32_t> row_;
  std::vector<std::size_t> value_start_;
  std::vector<std::size_t> child_start_;  // the children of s: child_[child_start_[s] ..]
  std::vector<std::uint32_t> child_;
  std::unique_ptr<double[]> factor_;
  std::size_t stack_size_ = 0;  // doubles: the peak of the pending update matrices
  std::size_t front_size_ = 0;  // doubles: the largest update matrix
  std::uint64_t factor_entries_ = 0;
  double factor_flops_ = 0.0;
  bool factored_ = false;
  bool portable_kernel_ = false;
};

}  // namespace trussel
