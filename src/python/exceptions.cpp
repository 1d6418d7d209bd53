// PanicException and the single map from C++ exceptions to Python exceptions.
#include "python/exceptions.hpp"

namespace trussel::py {
namespace {

constexpr const char* kPanicDoc =
    "The exception raised when trussel's native code, called from Python, fails an internal "
    "check.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that it typically "
    "propagates all the way through the stack and makes the interpreter exit instead of being "
    "caught by an `except Exception` clause.";

// Created under the interpreter lock at the first failure and kept for the life of the process.
PyObject* panic_type = nullptr;

}  // namespace

PyObject* panic_exception_type() noexcept {
  if (panic_type == nullptr) {
    panic_type = PyErr_NewExceptionWithDoc("trussel.PanicException", kPanicDoc, PyExc_BaseException,
                                           nullptr);
  }
  return panic_type;
}

void raise_panic(const char* message) noexcept {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // the creation failure is the pending exception
  PyErr_SetString(type, message);
}

}  // namespace trussel::py
