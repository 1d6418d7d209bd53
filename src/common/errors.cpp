// The two failure kinds of computation code and the checks that raise them.
#include "common/errors.hpp"

#include <algorithm>
#include <limits>

namespace trussel {

void panic(const std::string& message) { throw Panic(message); }

std::string equality_message(std::string_view text, std::string_view left, std::string_view right) {
  std::string message = "assertion `left == right` failed: ";
  message.append(text);
  message.append("\n  left: ");
  message.append(left);
  message.append("\n right: ");
  message.append(right);
  return message;
}

std::size_t checked_bytes(std::uint64_t count, std::size_t element_size) {
  constexpr std::uint64_t kLimit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const std::uint64_t limit =
      std::min<std::uint64_t>(kLimit, std::numeric_limits<std::size_t>::max());
  if (element_size != 0 && count > limit / element_size) panic("capacity overflow");
  return static_cast<std::size_t>(count * element_size);
}

}  // namespace trussel
