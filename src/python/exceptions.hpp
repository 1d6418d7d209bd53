// PanicException and the single map from C++ exceptions to Python exceptions.
#pragma once

#include "python/ref.hpp"

#include <new>
#include <stdexcept>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace trussel::py {

/// The trussel.PanicException type, created at the first request; a borrowed reference, or NULL
/// with an exception set when it cannot be created.
PyObject* panic_exception_type() noexcept;

/// Raises trussel.PanicException (created at its first use) with `message` as its only argument.
void raise_panic(const char* message) noexcept;

/// Runs `body` (which returns a PyRef) and turns every C++ exception into a Python exception:
/// ValueError -> ValueError, Interrupted -> the pending exception, Panic and other std::exception
/// -> PanicException, bad_alloc -> MemoryError. Returns the new reference, or NULL with an
/// exception set.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body().release();
  } catch (const ErrorAlreadySet&) {
  } catch (const Interrupted&) {  // a signal handler raised: its exception is pending
    if (PyErr_Occurred() == nullptr) raise_panic("computation interrupted");
  } catch (const ValueError& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const Panic& e) {
    raise_panic(e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::length_error&) {  // a container asked for more than it can ever hold
    raise_panic("capacity overflow");
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unknown C++ exception");
  }
  return nullptr;
}

}  // namespace trussel::py
