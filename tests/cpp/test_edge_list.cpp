// Checks of caller-given edge lists: the first offending row, in row order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/errors.hpp"
#include "graph/edge_list.hpp"

namespace trussel {
namespace {

std::string message_of(std::uint64_t n, const std::vector<Edge>& edges, bool signed_values) {
  try {
    check_edge_list(n, edges, signed_values);
  } catch (const ValueError& e) {
    return e.what();
  }
  return "";
}

TEST(EdgeList, FirstOffendingRowWinsWhateverItsKind) {
  EXPECT_EQ(message_of(4, {{0, 1}, {1, 2}, {2, 1}, {3, 3}}, false),
            "edges row 2 is (2, 1): the same bar as row 1");
  EXPECT_EQ(message_of(4, {{0, 1}, {3, 3}, {1, 0}}, false),
            "edges row 1 is (3, 3): a bar cannot join a node to itself");
  // A row repeating an out-of-range row is not reported before that row.
  EXPECT_EQ(message_of(2, {{0, 1}, {5, 0}, {0, 5}}, false),
            "edges row 1 is (5, 0): node 5 is out of range for 2 nodes");
  EXPECT_EQ(message_of(3, {{0, 1}, {1, 2}, {0, 1}, {1, 0}, {2, 1}}, false),
            "edges row 2 is (0, 1): the same bar as row 0");
  EXPECT_EQ(message_of(3, {{0, 1}, {1, 2}}, false), "");
  EXPECT_EQ(message_of(0, {}, false), "");
}

TEST(EdgeList, RangeIsCheckedBeforeSelfLoopsAndPrintsNegativeValues) {
  const std::uint64_t minus_two = ~std::uint64_t{0} - 1;
  EXPECT_EQ(message_of(3, {{7, 7}}, false),
            "edges row 0 is (7, 7): node 7 is out of range for 3 nodes");
  EXPECT_EQ(message_of(3, {{1, minus_two}}, true),
            "edges row 0 is (1, -2): node -2 is out of range for 3 nodes");
  EXPECT_EQ(message_of(3, {{1, minus_two}}, false),
            "edges row 0 is (1, 18446744073709551614): node 18446744073709551614 is out of range "
            "for 3 nodes");
}

}  // namespace
}  // namespace trussel
