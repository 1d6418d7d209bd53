// Tests of the equality-check message and the overflow-checked sizes.
#include <gtest/gtest.h>

#include <cstdint>

#include "common/edge.hpp"
#include "common/errors.hpp"
#include "test_util.hpp"

namespace trussel {
namespace {

constexpr std::uint64_t kInt64Max = (std::uint64_t{1} << 63) - 1;

TEST(Errors, CheckEqGivesTheThreeLineMessage) {
  EXPECT_NO_THROW(check_eq(7, 7, "unused"));
  EXPECT_PANIC(check_eq(UINT64_MAX, 0, "sizes differ"),
               "assertion `left == right` failed: sizes differ\n"
               "  left: 18446744073709551615\n"
               " right: 0");
}

TEST(Errors, SizesOverflowIntoCapacityOverflow) {
  EXPECT_EQ(checked_bytes(UINT64_MAX, 0), 0u);
  EXPECT_EQ(checked_bytes(kInt64Max / 8, 8), kInt64Max / 8 * 8);
  EXPECT_PANIC(checked_bytes(kInt64Max / 8 + 1, 8), "capacity overflow");
  EXPECT_PANIC(checked_bytes(kInt64Max + 1, 1), "capacity overflow");
  EXPECT_EQ(checked_mul(UINT64_MAX / 3, 3), UINT64_MAX / 3 * 3);
  EXPECT_EQ(checked_mul(0, UINT64_MAX), 0u);
  EXPECT_PANIC(checked_mul(UINT64_MAX / 3 + 1, 3), "capacity overflow");
  // The even factor is halved before multiplying, so n = 2^32 still fits.
  for (std::uint64_t n = 0; n < 9; ++n) EXPECT_EQ(pair_count(n), n * (n - 1) / 2);
  EXPECT_EQ(pair_count(std::uint64_t{1} << 32),
            (std::uint64_t{1} << 31) * ((std::uint64_t{1} << 32) - 1));
  EXPECT_PANIC(pair_count(std::uint64_t{1} << 33), "capacity overflow");
  EXPECT_PANIC(pair_count(UINT64_MAX), "capacity overflow");
}

}  // namespace
}  // namespace trussel
