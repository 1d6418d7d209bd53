// Releasing the interpreter lock around a computation that Ctrl-C can interrupt.
#include "python/interrupts.hpp"

#include <pythread.h>

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#endif

namespace trussel::py {
namespace {

// The identity of the interpreter's main thread, looked up at the first interruptible call.
// Forgotten in the child of a fork: when a thread other than the main one forks, the forking
// thread becomes the child's main thread.
unsigned long main_thread_ident = 0;

void forget_main_thread() noexcept { main_thread_ident = 0; }

// Whether the calling thread is the main thread. The first call runs Python code, which may run
// a signal handler that raises: that exception is the call's result, never swallowed.
bool on_main_thread() {
  if (main_thread_ident == 0) {
#if defined(__unix__) || defined(__APPLE__)
    static const int registered = pthread_atfork(nullptr, nullptr, forget_main_thread);
    static_cast<void>(registered);  // a failure only keeps the old behaviour: no reset on fork
#endif
    PyRef threading = check_new(PyImport_ImportModule("threading"));
    PyRef main = check_new(PyObject_CallMethod(threading.get(), "main_thread", nullptr));
    PyRef ident = check_new(PyObject_GetAttrString(main.get(), "ident"));
    const unsigned long value = PyLong_AsUnsignedLong(ident.get());
    if (PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    main_thread_ident = value;
  }
  return PyThread_get_thread_ident() == main_thread_ident;
}

}  // namespace

InterruptibleRelease::InterruptibleRelease() {
  const bool poll = on_main_thread();
  state_ = PyEval_SaveThread();
  if (poll) scope_.emplace(&InterruptibleRelease::run_signal_handlers, this);
}

bool InterruptibleRelease::run_signal_handlers(void* self) noexcept {
  auto* release = static_cast<InterruptibleRelease*>(self);
  PyEval_RestoreThread(release->state_);
  const int status = PyErr_CheckSignals();
  release->state_ = PyEval_SaveThread();
  return status != 0;
}

}  // namespace trussel::py
