// Helpers shared by the C++ tests: bit patterns, node lists and the Panic-message check.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "node/node.hpp"

namespace trussel {

/// The IEEE-754 bit pattern of x, so that -0.0 and NaN compare exactly.
inline std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

/// Node k has the coordinates points[k] and index k.
inline NodeList make_nodes(const std::vector<std::vector<double>>& points) {
  NodeList nodes;
  for (std::size_t k = 0; k < points.size(); ++k) nodes.push_back(Node{points[k], k});
  return nodes;
}

/// The message of the Panic that `run` throws, or "no Panic".
template <class Run>
std::string panic_message(const Run& run) {
  try {
    run();
  } catch (const Panic& e) {
    return e.what();
  }
  return "no Panic";
}

}  // namespace trussel

/// Expects `statement` to throw Panic with exactly `message`.
#define EXPECT_PANIC(statement, message) \
  EXPECT_EQ(::trussel::panic_message([&] { static_cast<void>(statement); }), message)
