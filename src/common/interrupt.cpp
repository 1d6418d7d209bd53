// Cooperative interruption of long computations by the code that started them.
#include "common/interrupt.hpp"

namespace trussel {
namespace {

// Work units between two looks at the clock: about 10 microseconds of arithmetic, so reading
// the clock costs well under one percent.
constexpr std::uint64_t kWorkPerClockRead = 16384;

}  // namespace

namespace detail {

void poll_interrupt_slow() {
  InterruptState& state = interrupt_state;
  state.budget = kWorkPerClockRead;
  const auto now = std::chrono::steady_clock::now();
  if (now - state.last < state.interval) return;
  state.last = now;
  if (state.check(state.context)) throw Interrupted{};
  // The check may have waited (for the interpreter lock, say): the interval starts afresh.
  state.last = std::chrono::steady_clock::now();
}

}  // namespace detail

InterruptScope::InterruptScope(InterruptCheck check, void* context,
                               std::chrono::steady_clock::duration interval) noexcept
    : saved_(detail::interrupt_state) {
  detail::interrupt_state = {check, context, kWorkPerClockRead, interval,
                             std::chrono::steady_clock::now()};
}

InterruptScope::~InterruptScope() { detail::interrupt_state = saved_; }

}  // namespace trussel
