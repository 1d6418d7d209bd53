// Eigen-decomposition of a real symmetric matrix by the classical Jacobi method.
#include "reconstruct/jacobi.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

#include "common/interrupt.hpp"

namespace trussel {
namespace {

struct Pivot {
  double magnitude = 0.0;
  std::uint64_t p = 0;
  std::uint64_t q = 1;
};

// The pivot as a plain row-major scan of the strict upper triangle finds it: strictly greater
// magnitudes win, so the first of equal maxima is kept and NaN (never greater) is never chosen.
// With n < 2 nothing is visited and the magnitude stays 0.0, which ends the iteration.
Pivot scan_all(const FloatMatrix& a) {
  Pivot best;
  const std::uint64_t n = a.rows();
  for (std::uint64_t i = 0; i < n; ++i) {
    const double* row = a.row(i);
    for (std::uint64_t j = i + 1; j < n; ++j) {
      const double magnitude = std::fabs(row[j]);
      if (magnitude > best.magnitude) best = {magnitude, i, j};
    }
  }
  return best;
}

// First maximum of each row's strict upper part, with the same strict comparison from 0.0 as the
// full scan. Taking the first row whose maximum is strictly greater than all rows before it then
// yields exactly the full scan's pivot: the largest magnitude, first in row-major order.
class RowMaxima {
 public:
  explicit RowMaxima(const FloatMatrix& a)
      : n_(a.rows()),
        best_(static_cast<std::size_t>(n_), 0.0),
        column_(static_cast<std::size_t>(n_), n_) {
    for (std::uint64_t i = 0; i < n_; ++i) {
      rescan(a, i);
      poll_interrupt(n_ - i);
    }
  }

  Pivot pivot() const {
    Pivot best;
    for (std::uint64_t i = 0; i < n_; ++i) {
      const auto k = static_cast<std::size_t>(i);
      if (best_[k] > best.magnitude) best = {best_[k], i, column_[k]};
    }
    return best;
  }

  // After a rotation in the plane (p, q), p < q: rows p and q changed wholly; a row k < q also
  // changed in column q, and in column p when k < p. Rows below q have no changed upper element.
  void update(const FloatMatrix& a, std::uint64_t p, std::uint64_t q) {
    rescan(a, p);
    rescan(a, q);
    for (std::uint64_t k = 0; k < q; ++k) {
      if (k == p) continue;
      const auto slot = static_cast<std::size_t>(k);
      const std::uint64_t column = column_[slot];
      if (column == p || column == q) {
        // The old first maximum itself changed. If it did not shrink, it still beats every
        // earlier column (all were smaller than it) and matches or beats every later one, so
        // it stays; otherwise only a full look at the row finds the new maximum.
        const double magnitude = std::fabs(a.at(k, column));
        if (!(magnitude >= best_[slot])) {
          rescan(a, k);
          continue;
        }
        best_[slot] = magnitude;
      }
      // Otherwise the old first maximum lies among the unchanged elements and is still their
      // first maximum. Either way the changed elements can only beat the kept one (or tie it
      // from an earlier column).
      if (k < p) offer(slot, p, std::fabs(a.at(k, p)));
      offer(slot, q, std::fabs(a.at(k, q)));
    }
  }

 private:
  void rescan(const FloatMatrix& a, std::uint64_t i) {
    double best = 0.0;
    std::uint64_t column = n_;  // n_ means no element above 0.0
    const double* row = a.row(i);
    for (std::uint64_t j = i + 1; j < n_; ++j) {
      const double magnitude = std::fabs(row[j]);
      if (magnitude > best) {
        best = magnitude;
        column = j;
      }
    }
    best_[static_cast<std::size_t>(i)] = best;
    column_[static_cast<std::size_t>(i)] = column;
  }

  // Keeps the larger magnitude, and of equal ones (above 0.0) the earlier column. NaN compares
  // false both ways and is never taken.
  void offer(std::size_t slot, std::uint64_t column, double magnitude) {
    const double best = best_[slot];
    if (magnitude > best || (best > 0.0 && magnitude == best && column < column_[slot])) {
      best_[slot] = magnitude;
      column_[slot] = column;
    }
  }

  std::uint64_t n_;
  std::vector<double> best_;
  std::vector<std::uint64_t> column_;
};

// A <- J^T A J in place. Every right-hand value is read before its element is written: the
// loop reads only columns p and q of rows other than p and q, and writes those elements and
// their mirrors in rows p and q; the diagonal pair and A[p][q] are read before the loop.
void rotate(FloatMatrix& a, std::uint64_t p, std::uint64_t q, double c, double s) {
  const std::uint64_t n = a.rows();
  const double app = a.at(p, p);
  const double aqq = a.at(q, q);
  const double apq = a.at(p, q);
  for (std::uint64_t k = 0; k < n; ++k) {
    if (k == p || k == q) continue;
    const double akp = a.at(k, p);
    const double akq = a.at(k, q);
    const double new_kp = c * akp - s * akq;
    const double new_kq = s * akp + c * akq;
    a.at(k, p) = new_kp;
    a.at(p, k) = new_kp;
    a.at(k, q) = new_kq;
    a.at(q, k) = new_kq;
  }
  const double two_s = s + s;
  a.at(p, p) = (c * c * app - (c * two_s) * apq) + s * s * aqq;
  a.at(q, q) = (s * s * app + (c * two_s) * apq) + c * c * aqq;
  a.at(p, q) = 0.0;
  a.at(q, p) = 0.0;
}

// V <- V J.
void accumulate(FloatMatrix& v, std::uint64_t p, std::uint64_t q, double c, double s) {
  const std::uint64_t n = v.rows();
  for (std::uint64_t k = 0; k < n; ++k) {
    double* row = v.row(k);
    const double vkp = row[p];
    const double vkq = row[q];
    row[p] = c * vkp - s * vkq;
    row[q] = s * vkp + c * vkq;
  }
}

struct EigenRecord {
  double value;
  std::uint64_t index;
};

// Descending by an ordered comparison (a before b exactly when b < a), so equal values keep
// their index order under a stable sort. NaN is unordered, which would leave the order
// undefined; it is placed after every number instead. This is a strict weak ordering (the NaNs
// form one class after all numbers) and agrees with the plain comparison whenever both values
// are numbers.
bool goes_before(const EigenRecord& a, const EigenRecord& b) {
  const bool a_nan = std::isnan(a.value);
  const bool b_nan = std::isnan(b.value);
  if (a_nan || b_nan) return !a_nan && b_nan;
  return b.value < a.value;
}

}  // namespace

EigenDecomposition jacobi_eigen(const FloatMatrix& m) { return jacobi_eigen(m, JacobiOptions{}); }

EigenDecomposition jacobi_eigen(const FloatMatrix& m, const JacobiOptions& options) {
  const std::uint64_t n = m.rows();
  FloatMatrix a = m;
  FloatMatrix v(n, n);
  for (std::uint64_t i = 0; i < n; ++i) v.at(i, i) = 1.0;

  // Classical Jacobi: annihilate the largest off-diagonal element, one plane rotation at a time.
  const bool tracked = options.pivot_search == PivotSearch::kRowMaxima;
  std::optional<RowMaxima> maxima;
  if (tracked) maxima.emplace(a);
  std::uint64_t rotations = 0;
  while (rotations < options.rotation_limit) {
    const Pivot pivot = tracked ? maxima->pivot() : scan_all(a);
    // Tested before every rotation, so a diagonal input takes none.
    if (pivot.magnitude < kJacobiThreshold) break;
    const std::uint64_t p = pivot.p;
    const std::uint64_t q = pivot.q;
    const double app = a.at(p, p);
    const double aqq = a.at(q, q);
    const double apq = a.at(p, q);
    const double theta = std::fabs(aqq - app) < kJacobiEqualDiagonal
                             ? kJacobiFixedAngle
                             : 0.5 * std::atan((apq + apq) / (aqq - app));
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    rotate(a, p, q, c, s);
    accumulate(v, p, q, c, s);
    if (tracked) maxima->update(a, p, q);
    ++rotations;
    poll_interrupt(8 * n);
  }

  EigenDecomposition result = sort_eigenpairs(a, v);
  result.rotations = rotations;
  return result;
}

EigenDecomposition sort_eigenpairs(const FloatMatrix& a, const FloatMatrix& v) {
  const std::uint64_t n = a.rows();
  std::vector<EigenRecord> records;
  records.reserve(static_cast<std::size_t>(n));
  for (std::uint64_t k = 0; k < n; ++k) records.push_back({a.at(k, k), k});
  std::stable_sort(records.begin(), records.end(), goes_before);

  EigenDecomposition result;
  result.values.reserve(static_cast<std::size_t>(n));
  for (const EigenRecord& record : records) result.values.push_back(record.value);
  result.vectors = FloatMatrix(n, n);
  for (std::uint64_t i = 0; i < n; ++i) {
    const double* source = v.row(i);
    double* target = result.vectors.row(i);
    for (std::uint64_t j = 0; j < n; ++j)
      target[j] = source[records[static_cast<std::size_t>(j)].index];
    poll_interrupt(n);
  }
  return result;
}

}  // namespace trussel
