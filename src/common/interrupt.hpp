// Cooperative interruption of long computations by the code that started them.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>

namespace trussel {

/// Thrown out of a computation when the caller's interrupt check asked it to stop. The caller
/// has recorded why (the boundary: a pending Python exception such as KeyboardInterrupt), so the
/// exception carries nothing; unwinding frees everything the computation held.
struct Interrupted : std::exception {
  const char* what() const noexcept override { return "computation interrupted"; }
};

/// A caller's check: returns true when the computation must stop. Runs on the computing thread.
using InterruptCheck = bool (*)(void* context);

/// How often, at most, a computation runs its thread's interrupt check.
inline constexpr std::chrono::milliseconds kInterruptInterval{50};

namespace detail {

// The interrupt check of one thread; `budget` counts work units down to the next look at the
// clock, so a poll is one subtraction in the common case.
struct InterruptState {
  InterruptCheck check = nullptr;
  void* context = nullptr;
  std::uint64_t budget = 0;
  std::chrono::steady_clock::duration interval{};
  std::chrono::steady_clock::time_point last{};
};

inline thread_local InterruptState interrupt_state;

void poll_interrupt_slow();

}  // namespace detail

/// Installs `check` as the current thread's interrupt check for the life of the scope, restoring
/// the previous one afterwards. `interval` is the least time between two runs of the check.
class InterruptScope {
 public:
  InterruptScope(InterruptCheck check, void* context,
                 std::chrono::steady_clock::duration interval = kInterruptInterval) noexcept;
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  detail::InterruptState saved_;
};

/// Called between steps of a long loop with an estimate of the work done since the last poll
/// (about one unit per floating-point operation or visited element). Once enough work has been
/// done to make a look at the clock cheap, and at least the scope's interval has passed since
/// the check last ran, runs the check and throws Interrupted if it says stop. Does nothing when
/// the thread has no check installed. Never changes a computed value.
inline void poll_interrupt(std::uint64_t work = 1) {
  detail::InterruptState& state = detail::interrupt_state;
  if (state.check == nullptr) return;
  if (work < state.budget) {
    state.budget -= work;
    return;
  }
  detail::poll_interrupt_slow();
}

}  // namespace trussel
