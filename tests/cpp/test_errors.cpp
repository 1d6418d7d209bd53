// Tests of the two failure kinds, the equality-check message and the byte-size check.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

#include "common/errors.hpp"

namespace trussel {
namespace {

TEST(Errors, FailureKindsAreDistinct) {
  static_assert(!std::is_base_of_v<ValueError, Panic>);
  static_assert(!std::is_base_of_v<Panic, ValueError>);
  EXPECT_THROW(panic("boom"), Panic);
  try {
    panic("exact text");
  } catch (const Panic& e) {
    EXPECT_EQ(std::string(e.what()), "exact text");
  }
}

TEST(Errors, CheckThrowsOnlyWhenFalse) {
  EXPECT_NO_THROW(check(true, "unused"));
  try {
    check(false, "Node list must not be empty");
    FAIL() << "expected Panic";
  } catch (const Panic& e) {
    EXPECT_EQ(std::string(e.what()), "Node list must not be empty");
  }
}

TEST(Errors, EqualityMessageHasThreeLines) {
  EXPECT_EQ(equality_message("Nodes must all have the same dimension", "2", "3"),
            "assertion `left == right` failed: Nodes must all have the same dimension\n"
            "  left: 2\n"
            " right: 3");
  EXPECT_EQ(equality_message("", "", ""), "assertion `left == right` failed: \n  left: \n right: ");
}

TEST(Errors, CheckEqReportsBothValues) {
  EXPECT_NO_THROW(check_eq(7, 7, "unused"));
  try {
    check_eq(UINT64_MAX, 0, "sizes differ");
    FAIL() << "expected Panic";
  } catch (const Panic& e) {
    EXPECT_EQ(std::string(e.what()),
              "assertion `left == right` failed: sizes differ\n"
              "  left: 18446744073709551615\n"
              " right: 0");
  }
}

TEST(Errors, CheckedBytesMultipliesWithinLimit) {
  EXPECT_EQ(checked_bytes(0, 8), 0u);
  EXPECT_EQ(checked_bytes(10, 8), 80u);
  EXPECT_EQ(checked_bytes(UINT64_MAX, 0), 0u);
  const std::uint64_t int64_max =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if constexpr (sizeof(std::size_t) == 8) {
    EXPECT_EQ(checked_bytes(int64_max, 1), int64_max);
    EXPECT_EQ(checked_bytes(int64_max / 8, 8), int64_max / 8 * 8);
  }
}

TEST(Errors, CheckedBytesPanicsWithCapacityOverflow) {
  const std::uint64_t int64_max =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const std::uint64_t too_many[][2] = {
      {int64_max + 1, 1}, {int64_max / 8 + 1, 8}, {UINT64_MAX, 2}, {std::uint64_t{1} << 62, 4}};
  for (const auto& [count, size] : too_many) {
    try {
      checked_bytes(count, static_cast<std::size_t>(size));
      FAIL() << "expected Panic for " << count << " x " << size;
    } catch (const Panic& e) {
      EXPECT_EQ(std::string(e.what()), "capacity overflow");
    }
  }
}

}  // namespace
}  // namespace trussel
