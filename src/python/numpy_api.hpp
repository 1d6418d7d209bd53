// The NumPy C-API table and array views and results; the only users of NumPy's headers.
#pragma once

#include "python/ref.hpp"

#include <cstdint>
#include <cstring>
#include <vector>

#include "common/matrix.hpp"
#include "graph/edge_list.hpp"

namespace trussel::py {

/// Loads NumPy's C-API table at its first use (never at import). Throws Panic "Failed to access
/// NumPy array API capsule: ..." when NumPy cannot be loaded.
void ensure_numpy();

/// A read-only view of a caller's 2-D float64 array: the array (kept alive), shape and strides.
class FloatArrayView {
 public:
  FloatArrayView(PyRef array, const char* data, std::int64_t rows, std::int64_t cols,
                 std::int64_t row_stride, std::int64_t col_stride) noexcept
      : array_(std::move(array)),
        data_(data),
        rows_(rows),
        cols_(cols),
        row_stride_(row_stride),
        col_stride_(col_stride) {}

  std::uint64_t rows() const noexcept { return static_cast<std::uint64_t>(rows_); }
  std::uint64_t cols() const noexcept { return static_cast<std::uint64_t>(cols_); }
  /// Element (i, j), read through the strides (any memory order, unaligned data allowed).
  double at(std::uint64_t i, std::uint64_t j) const noexcept {
    double value;
    std::memcpy(&value,
                data_ + static_cast<std::int64_t>(i) * row_stride_ +
                    static_cast<std::int64_t>(j) * col_stride_,
                sizeof value);
    return value;
  }
  /// Copies the array into an owned row-major matrix.
  FloatMatrix copy() const;

 private:
  PyRef array_;
  const char* data_;
  std::int64_t rows_, cols_, row_stride_, col_stride_;
};

/// Returns a view if `obj` is a NumPy array (or subtype) with 2 dimensions and a dtype equivalent
/// to float64; otherwise sets TypeError "'<qualname>' object cannot be converted to
/// 'PyArray<T, D>'" and throws ErrorAlreadySet.
FloatArrayView as_float_array(PyObject* obj);

/// Reads an edge-list argument: `obj` as numpy.asarray(obj) would make it, an (E, 2) array of
/// any integer type (signed or unsigned, any byte order and memory layout, read through its
/// strides); a size-0 array of shape (0,) or (0, 2) of any dtype is the empty list. Another dtype
/// sets TypeError "expected an integer array of shape (E, 2), got dtype <dtype>" (for strings and
/// objects, node labels, followed by a pointer to trussel_dataset.from_networkx) and throws
/// ErrorAlreadySet; another shape throws ValueError "<name> must have shape (E, 2), got <shape>"
/// followed by how to pass a networkx graph.
/// Exceptions of the conversion itself pass unchanged.
EdgeList as_edge_array(PyObject* obj, const char* name);

/// New writeable C-contiguous arrays that take over the given buffers (the array's base object
/// owns and frees them): 2-D float64 (rows x cols), 1-D float64, 1-D uint8.
PyRef new_float64_array(FloatMatrix&& matrix);
PyRef new_float64_vector(std::vector<double>&& values);
PyRef new_uint8_array(std::vector<std::uint8_t>&& values);
PyRef new_int64_array(std::vector<std::int64_t>&& values);

}  // namespace trussel::py
