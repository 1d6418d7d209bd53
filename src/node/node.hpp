// One point of a framework.
#pragma once

#include <cstdint>
#include <vector>

namespace trussel {

/// A framework's point: its coordinates (length = dimension) and its position in the node list.
struct Node {
  std::vector<double> coords;
  std::uint64_t index = 0;
};

/// A framework's points, node k at position k.
using NodeList = std::vector<Node>;

}  // namespace trussel
