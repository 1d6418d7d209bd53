// The two failure kinds of computation code and the checks that raise them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace trussel {

/// An argument value refused before a computation starts; raised as ValueError.
struct ValueError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// A check that failed inside a computation; raised as PanicException.
struct Panic : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// Throws Panic with `message`.
[[noreturn]] void panic(const std::string& message);

/// Throws Panic with `message` unless `condition` holds.
inline void check(bool condition, const char* message) {
  if (!condition) panic(message);
}

/// The three-line message of a failed equality check:
/// "assertion `left == right` failed: <text>\n  left: <left>\n right: <right>".
std::string equality_message(std::string_view text, std::string_view left, std::string_view right);

/// Throws Panic with the equality message unless `left == right`.
inline void check_eq(std::uint64_t left, std::uint64_t right, const char* text) {
  if (left != right) panic(equality_message(text, std::to_string(left), std::to_string(right)));
}

/// The product a*b; throws Panic "capacity overflow" when it does not fit in 64 bits.
inline std::uint64_t checked_mul(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) panic("capacity overflow");
  return a * b;
}

/// The byte size of `count` elements of `element_size` bytes; throws Panic "capacity overflow"
/// when it would not fit in a signed 64-bit integer (nor in size_t).
std::size_t checked_bytes(std::uint64_t count, std::size_t element_size);

}  // namespace trussel
