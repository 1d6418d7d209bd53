// Owning references to Python objects, the interpreter-lock release scope, and error signalling.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace trussel::py {

/// Owns one strong reference to a Python object; move-only.
class PyRef {
 public:
  PyRef() noexcept = default;
  /// Takes over a new reference.
  static PyRef steal(PyObject* obj) noexcept { return PyRef(obj); }
  /// Adds a reference to a borrowed object.
  static PyRef borrow(PyObject* obj) noexcept {
    Py_XINCREF(obj);
    return PyRef(obj);
  }
  PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {  // safe on self-move; drops the old value last
    PyObject* old = std::exchange(obj_, std::exchange(other.obj_, nullptr));
    Py_XDECREF(old);
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(obj_); }

  PyObject* get() const noexcept { return obj_; }
  /// Gives up ownership, for calls that steal a reference.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
  explicit operator bool() const noexcept { return obj_ != nullptr; }

 private:
  explicit PyRef(PyObject* obj) noexcept : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

/// Thrown after a Python exception has been set; the boundary just returns NULL.
struct ErrorAlreadySet {};

/// Throws ErrorAlreadySet, first setting SystemError if the failed call left no exception.
[[noreturn]] inline void throw_error_already_set() {
  if (PyErr_Occurred() == nullptr) {
    PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
  }
  throw ErrorAlreadySet{};
}

/// Wraps a C-API call that returns a new reference or NULL with an exception set.
inline PyRef check_new(PyObject* obj) {
  if (obj == nullptr) throw_error_already_set();
  return PyRef::steal(obj);
}

/// Wraps a C-API call that returns 0 on success and -1 with an exception set.
inline void check_status(int status) {
  if (status < 0) throw_error_already_set();
}

/// Releases the interpreter lock for one scope and re-acquires it on every way out.
class GilRelease {
 public:
  GilRelease() noexcept : state_(PyEval_SaveThread()) {}
  ~GilRelease() { PyEval_RestoreThread(state_); }
  GilRelease(const GilRelease&) = delete;
  GilRelease& operator=(const GilRelease&) = delete;

 private:
  PyThreadState* state_;
};

}  // namespace trussel::py
