// Row-major float64 matrix that owns its storage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/errors.hpp"

namespace trussel {

/// A rows x cols matrix of doubles, row-major, owning a std::vector. Construction checks the
/// byte size ("capacity overflow" Panic) before allocating; allocation failure throws bad_alloc.
class FloatMatrix {
 public:
  FloatMatrix() = default;
  FloatMatrix(std::uint64_t rows, std::uint64_t cols, double fill = 0.0)
      : rows_(rows), cols_(cols) {
    const std::uint64_t count = rows == 0 ? 0 : checked_count(rows, cols);
    checked_bytes(count, sizeof(double));
    data_.assign(static_cast<std::size_t>(count), fill);
  }

  std::uint64_t rows() const noexcept { return rows_; }
  std::uint64_t cols() const noexcept { return cols_; }
  double& at(std::uint64_t i, std::uint64_t j) noexcept {
    return data_[static_cast<std::size_t>(i * cols_ + j)];
  }
  double at(std::uint64_t i, std::uint64_t j) const noexcept {
    return data_[static_cast<std::size_t>(i * cols_ + j)];
  }
  double* row(std::uint64_t i) noexcept { return data_.data() + i * cols_; }
  const double* row(std::uint64_t i) const noexcept { return data_.data() + i * cols_; }
  const std::vector<double>& values() const noexcept { return data_; }
  /// Hands over the storage; the matrix is left empty (0 x 0).
  std::vector<double> take() noexcept {
    rows_ = 0;
    cols_ = 0;
    return std::exchange(data_, {});
  }

 private:
  static std::uint64_t checked_count(std::uint64_t rows, std::uint64_t cols) {
    if (cols != 0 && rows > UINT64_MAX / cols) panic("capacity overflow");
    return rows * cols;
  }

  std::uint64_t rows_ = 0;
  std::uint64_t cols_ = 0;
  std::vector<double> data_;
};

}  // namespace trussel
