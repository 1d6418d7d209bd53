// Reproducible batches of random frameworks put through the rigidity simulation.
#pragma once

#include <cstdint>
#include <vector>

#include "simulation/simulation.hpp"

namespace trussel {

/// Simulates n_graphs frameworks of n_nodes points in d dimensions, framework k drawn from a
/// CoordinateRng started at seed + k (mod 2^64), with the tolerance kSimulateTolerance. Throws
/// Panic "Node list must not be empty" or "Only d=2 and d=3 are supported" (in this order of
/// precedence) before drawing anything; returns an empty vector when n_graphs is 0.
std::vector<SimulationResult> run_training_batch(std::uint64_t n_graphs, std::uint64_t n_nodes,
                                                 std::uint64_t d, std::uint64_t seed);

}  // namespace trussel
