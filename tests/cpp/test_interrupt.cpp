// Tests of cooperative interruption: every long computation polls, and polling changes nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "batch/coordinate_rng.hpp"
#include "batch/training_batch.hpp"
#include "common/interrupt.hpp"
#include "pebble/pebble_game.hpp"
#include "reconstruct/classical_mds.hpp"
#include "reconstruct/double_centering.hpp"
#include "rigidity/rigidity_row.hpp"
#include "simulation/simulation.hpp"

namespace trussel {
namespace {

struct Counter {
  int calls = 0;
  int stop_at = 0;  // the call that says stop; 0 never stops
};

bool count_and_maybe_stop(void* context) {
  auto* counter = static_cast<Counter*>(context);
  return ++counter->calls == counter->stop_at;
}

NodeList framework(std::uint64_t n, std::uint64_t d, std::uint64_t seed) {
  CoordinateRng rng(seed);
  return draw_framework(rng, n, d);
}

// Each computation on an input big enough to pass several polls.
TEST(Interrupt, EveryLongComputationStopsWhenItsCheckSaysSo) {
  const std::vector<std::pair<std::string, std::function<void()>>> calls = {
      {"label_edge_by_edge",
       [] { label_edge_by_edge(framework(40, 3, 1), 3, kSimulateTolerance, max_rank(40, 3)); }},
      {"run_fast_path", [] { run_fast_path(framework(40, 3, 2), 3, kSimulateTolerance, 114); }},
      {"run_training_batch", [] { run_training_batch(20, 12, 2, 7); }},
      {"play_pebble_game", [] { play_pebble_game(300, PebbleGameMode::kOfferAll); }},
      {"reconstruct_coords", [] { reconstruct_coords(distance_matrix(framework(120, 2, 3)), 2); }},
  };
  for (const auto& [name, run] : calls) {
    Counter counter{0, 2};
    InterruptScope scope(count_and_maybe_stop, &counter, std::chrono::nanoseconds(0));
    EXPECT_THROW(run(), Interrupted) << name;
    EXPECT_EQ(counter.calls, 2) << name;
  }
}

TEST(Interrupt, PollingChangesNoResult) {
  const NodeList nodes = framework(30, 2, 11);
  const Labelling plain = label_edge_by_edge(nodes, 2, kSimulateTolerance, max_rank(30, 2));
  const FloatMatrix gram = double_center(distance_matrix(nodes));
  Counter counter;
  InterruptScope scope(count_and_maybe_stop, &counter, std::chrono::nanoseconds(0));
  const Labelling polled = label_edge_by_edge(nodes, 2, kSimulateTolerance, max_rank(30, 2));
  EXPECT_EQ(polled.labels, plain.labels);
  EXPECT_EQ(polled.final_rank, plain.final_rank);
  EXPECT_EQ(double_center(distance_matrix(nodes)).values(), gram.values());
  EXPECT_GT(counter.calls, 0);
}

TEST(Interrupt, ScopesNestAndTheIntervalSpacesTheChecks) {
  Counter outer, inner;
  InterruptScope outer_scope(count_and_maybe_stop, &outer, std::chrono::nanoseconds(0));
  {
    InterruptScope inner_scope(count_and_maybe_stop, &inner, std::chrono::hours(1));
    for (int k = 0; k < 100; ++k) poll_interrupt(1 << 20);
  }
  EXPECT_EQ(inner.calls, 0);  // an hour has not passed
  for (int k = 0; k < 3; ++k) poll_interrupt(1 << 20);
  EXPECT_EQ(outer.calls, 3);
  EXPECT_EQ(inner.calls, 0);
}

}  // namespace
}  // namespace trussel
