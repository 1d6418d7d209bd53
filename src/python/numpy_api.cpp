// The NumPy C-API table and array views and results; the only users of NumPy's headers.
#include "python/numpy_api.hpp"

#include <numpy/arrayobject.h>

#include <algorithm>
#include <string>

#include "common/errors.hpp"

namespace trussel::py {
namespace {

constexpr const char* kCapsuleError = "Failed to access NumPy array API capsule";

// The text of the pending Python exception (which is cleared), for a Panic message.
std::string take_error_text() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyRef owned_type = PyRef::steal(type), owned_value = PyRef::steal(value),
        owned_traceback = PyRef::steal(traceback);
  if (!owned_value) return {};
  PyRef text = PyRef::steal(PyObject_Str(owned_value.get()));
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return {};
  }
  return utf8;
}

[[noreturn]] void fail_capsule(const std::string& detail) {
  panic(detail.empty() ? std::string(kCapsuleError) : std::string(kCapsuleError) + ": " + detail);
}

// Imports NumPy and returns its C-API capsule: the multiarray module is numpy.core.multiarray
// before NumPy 2 and numpy._core.multiarray from NumPy 2 on.
PyRef load_array_api_capsule() {
  PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
  if (!numpy) fail_capsule(take_error_text());
  PyRef version_text = PyRef::steal(PyObject_GetAttrString(numpy.get(), "__version__"));
  PyRef lib = version_text ? PyRef::steal(PyObject_GetAttrString(numpy.get(), "lib")) : PyRef();
  PyRef version_type =
      lib ? PyRef::steal(PyObject_GetAttrString(lib.get(), "NumpyVersion")) : PyRef();
  PyRef version = version_type ? PyRef::steal(PyObject_CallFunctionObjArgs(
                                     version_type.get(), version_text.get(), nullptr))
                               : PyRef();
  PyRef major = version ? PyRef::steal(PyObject_GetAttrString(version.get(), "major")) : PyRef();
  const long major_value = major ? PyLong_AsLong(major.get()) : -1;
  if (major_value == -1 && PyErr_Occurred()) fail_capsule(take_error_text());
  const char* module_name = major_value < 2 ? "numpy.core.multiarray" : "numpy._core.multiarray";
  PyRef multiarray = PyRef::steal(PyImport_ImportModule(module_name));
  if (!multiarray) fail_capsule(take_error_text());
  PyRef capsule = PyRef::steal(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
  if (!capsule) fail_capsule(take_error_text());
  return capsule;
}

// Frees a result buffer when the array that uses it (through its base capsule) is freed.
template <class T>
void free_buffer(PyObject* capsule) {
  delete static_cast<std::vector<T>*>(PyCapsule_GetPointer(capsule, "trussel.buffer"));
}

// Makes an array of `nd` dimensions over the buffer and attaches a capsule that owns it.
template <class T>
PyRef new_array_over(std::vector<T>&& values, int type_number, int nd, const npy_intp* dims,
                     const npy_intp* strides) {
  ensure_numpy();
  if (values.capacity() == 0) values.reserve(1);  // a real pointer even for an empty array
  auto* buffer = new std::vector<T>(std::move(values));
  PyObject* raw_capsule = PyCapsule_New(buffer, "trussel.buffer", &free_buffer<T>);
  if (raw_capsule == nullptr) {
    delete buffer;
    throw_error_already_set();
  }
  PyRef capsule = PyRef::steal(raw_capsule);
  PyArray_Descr* descr = PyArray_DescrFromType(type_number);
  if (descr == nullptr) throw_error_already_set();
  // NewFromDescr takes over the descriptor reference, also when it fails.
  PyRef array = check_new(PyArray_NewFromDescr(
      &PyArray_Type, descr, nd, const_cast<npy_intp*>(dims), const_cast<npy_intp*>(strides),
      buffer->data(), NPY_ARRAY_WRITEABLE, nullptr));
  // SetBaseObject takes over the capsule reference, also when it fails.
  check_status(
      PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), capsule.release()));
  return array;
}

}  // namespace

void ensure_numpy() {
  if (PyArray_API != nullptr) return;
  PyRef capsule = load_array_api_capsule();
  if (!PyCapsule_CheckExact(capsule.get())) fail_capsule("_ARRAY_API is not a capsule");
  void** table = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
  if (table == nullptr) fail_capsule(take_error_text());
  // The checks of NumPy's own import_array(), against the table before it is published.
  PyArray_API = table;
  const unsigned int abi_version = PyArray_GetNDArrayCVersion();
  const unsigned int feature_version = PyArray_GetNDArrayCFeatureVersion();
  const int endianness = PyArray_GetEndianness();
  PyArray_API = nullptr;
  if (NPY_VERSION < abi_version) fail_capsule("NumPy's ABI version is newer than this module's");
  if (NPY_FEATURE_VERSION > feature_version) fail_capsule("NumPy is older than 1.23");
#if NPY_BYTE_ORDER == NPY_BIG_ENDIAN
  if (endianness != NPY_CPU_BIG) fail_capsule("NumPy's byte order differs from this module's");
#else
  if (endianness != NPY_CPU_LITTLE) fail_capsule("NumPy's byte order differs from this module's");
#endif
  PyArray_RUNTIME_VERSION = static_cast<int>(feature_version);
  PyArray_API = table;
}

FloatMatrix FloatArrayView::copy() const {
  FloatMatrix result(rows(), cols());
  for (std::uint64_t i = 0; i < rows(); ++i) {
    double* out = result.row(i);
    for (std::uint64_t j = 0; j < cols(); ++j) out[j] = at(i, j);
  }
  return result;
}

FloatArrayView as_float_array(PyObject* obj) {
  ensure_numpy();
  bool accepted = false;
  if (PyArray_Check(obj)) {
    auto* array = reinterpret_cast<PyArrayObject*>(obj);
    if (PyArray_NDIM(array) == 2) {
      PyArray_Descr* float64 = PyArray_DescrFromType(NPY_DOUBLE);
      if (float64 == nullptr) throw_error_already_set();
      accepted =
          PyArray_DESCR(array) == float64 || PyArray_EquivTypes(PyArray_DESCR(array), float64) != 0;
      Py_DECREF(float64);
    }
  }
  if (!accepted) {
    PyRef name = PyRef::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (!name) PyErr_Clear();
    PyRef message = name ? PyRef::steal(PyUnicode_FromFormat(
                               "'%U' object cannot be converted to 'PyArray<T, D>'", name.get()))
                         : PyRef::steal(PyUnicode_FromString(
                               "'<failed to extract type name>' object cannot be converted to "
                               "'PyArray<T, D>'"));
    if (message) PyErr_SetObject(PyExc_TypeError, message.get());
    throw_error_already_set();
  }
  auto* array = reinterpret_cast<PyArrayObject*>(obj);
  const npy_intp* dims = PyArray_DIMS(array);
  const npy_intp* strides = PyArray_STRIDES(array);
  return FloatArrayView(PyRef::borrow(obj), static_cast<const char*>(PyArray_DATA(array)), dims[0],
                        dims[1], strides[0], strides[1]);
}

EdgeList as_edge_array(PyObject* obj, const char* name) {
  ensure_numpy();
  PyRef array_object = check_new(PyArray_FromAny(obj, nullptr, 0, 0, 0, nullptr));
  auto* array = reinterpret_cast<PyArrayObject*>(array_object.get());
  const int nd = PyArray_NDIM(array);
  const npy_intp* dims = PyArray_DIMS(array);
  EdgeList result;
  if ((nd == 1 && dims[0] == 0) || (nd == 2 && dims[0] == 0 && dims[1] == 2)) return result;
  const int type = PyArray_TYPE(array);
  if (!PyTypeNum_ISINTEGER(type)) {
    PyRef dtype = check_new(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(array))));
    // Strings and objects are usually node labels, as a networkx graph has them.
    const char* hint = PyTypeNum_ISSTRING(type) || PyTypeNum_ISOBJECT(type)
                           ? "; node labels must be integers 0..n-1: for a networkx graph with "
                             "other labels use trussel_dataset.from_networkx(G)"
                           : "";
    PyRef message = check_new(PyUnicode_FromFormat(
        "expected an integer array of shape (E, 2), got dtype %U%s", dtype.get(), hint));
    PyErr_SetObject(PyExc_TypeError, message.get());
    throw ErrorAlreadySet{};
  }
  if (nd != 2 || dims[1] != 2) {
    PyRef shape = check_new(PyObject_GetAttrString(array_object.get(), "shape"));
    PyRef text = check_new(PyObject_Str(shape.get()));
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), nullptr);
    if (utf8 == nullptr) throw_error_already_set();
    throw ValueError(std::string(name) + " must have shape (E, 2), got " + utf8 +
                     "; for a networkx graph G pass G.edges, or trussel_dataset.from_networkx(G)");
  }
  const auto rows = static_cast<std::uint64_t>(dims[0]);
  checked_bytes(rows, sizeof(Edge));
  const auto size = static_cast<std::size_t>(PyArray_ITEMSIZE(array));
  const bool is_signed = PyTypeNum_ISSIGNED(type);
  const bool swapped = !PyArray_ISNOTSWAPPED(array);
  const char* data = static_cast<const char*>(PyArray_DATA(array));
  const npy_intp* strides = PyArray_STRIDES(array);
  // One element as a 64-bit pattern: bytes in native order, then sign- or zero-extended.
  auto read = [&](const char* at) {
    unsigned char bytes[8] = {};
    std::memcpy(bytes, at, size);
    if (swapped) std::reverse(bytes, bytes + size);
    std::uint64_t value = 0;
    for (std::size_t b = 0; b < size; ++b) {
#if NPY_BYTE_ORDER == NPY_BIG_ENDIAN
      value = (value << 8) | bytes[b];
#else
      value |= static_cast<std::uint64_t>(bytes[b]) << (8 * b);
#endif
    }
    if (is_signed && size < 8 && (value >> (8 * size - 1)) != 0) {
      value |= ~std::uint64_t{0} << (8 * size);
    }
    return value;
  };
  result.signed_values = is_signed;
  result.edges.resize(static_cast<std::size_t>(rows));
  for (std::uint64_t k = 0; k < rows; ++k) {
    const char* row = data + static_cast<std::int64_t>(k) * strides[0];
    result.edges[k] = Edge{read(row), read(row + strides[1])};
  }
  return result;
}

PyRef new_float64_array(FloatMatrix&& matrix) {
  const npy_intp dims[2] = {static_cast<npy_intp>(matrix.rows()),
                            static_cast<npy_intp>(matrix.cols())};
  const npy_intp strides[2] = {static_cast<npy_intp>(matrix.cols() * sizeof(double)),
                               static_cast<npy_intp>(sizeof(double))};
  return new_array_over(matrix.take(), NPY_DOUBLE, 2, dims, strides);
}

PyRef new_float64_vector(std::vector<double>&& values) {
  const npy_intp dims[1] = {static_cast<npy_intp>(values.size())};
  const npy_intp strides[1] = {static_cast<npy_intp>(sizeof(double))};
  return new_array_over(std::move(values), NPY_DOUBLE, 1, dims, strides);
}

PyRef new_uint8_array(std::vector<std::uint8_t>&& values) {
  const npy_intp dims[1] = {static_cast<npy_intp>(values.size())};
  const npy_intp strides[1] = {values.empty() ? 0 : 1};
  return new_array_over(std::move(values), NPY_UBYTE, 1, dims, strides);
}

PyRef new_int64_array(std::vector<std::int64_t>&& values) {
  const npy_intp dims[1] = {static_cast<npy_intp>(values.size())};
  const npy_intp strides[1] = {values.empty() ? 0 : static_cast<npy_intp>(sizeof(std::int64_t))};
  return new_array_over(std::move(values), NPY_INT64, 1, dims, strides);
}

}  // namespace trussel::py
