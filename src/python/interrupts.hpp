// Releasing the interpreter lock around a computation that Ctrl-C can interrupt.
#pragma once

#include "python/ref.hpp"

#include <optional>

#include "common/interrupt.hpp"

namespace trussel::py {

/// Releases the interpreter lock for one scope, like GilRelease, and makes the computation in
/// the scope interruptible. On the main thread (the only one that runs signal handlers), about
/// every kInterruptInterval of computing it takes the lock back for a moment to run the
/// interpreter's signal check; when a handler raises (KeyboardInterrupt for Ctrl-C), that
/// exception stays pending and the computation ends with trussel::Interrupted, which guarded()
/// turns into the pending exception. On other threads it only releases the lock.
class InterruptibleRelease {
 public:
  /// Throws ErrorAlreadySet when the first call's look-up of the main thread raises (a signal
  /// handler may run then).
  InterruptibleRelease();
  ~InterruptibleRelease() { PyEval_RestoreThread(state_); }
  InterruptibleRelease(const InterruptibleRelease&) = delete;
  InterruptibleRelease& operator=(const InterruptibleRelease&) = delete;

 private:
  static bool run_signal_handlers(void* self) noexcept;

  PyThreadState* state_ = nullptr;
  std::optional<InterruptScope> scope_;
};

}  // namespace trussel::py
