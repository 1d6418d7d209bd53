// Reproducible batches of random frameworks put through the rigidity
// simulation.
#pragma once

#include <cstdint>
#include <vector>

#include "simulation/simulation.hpp"

namespace trussel {

/// Simulates n_graphs frameworks of n_nodes points in d dimensions, framework k
/// drawn from a CoordinateRng started at seed + k (mod 2^64), with the
/// tolerance kSimulateTolerance; entry k of the result is run_simulation() of
/// framework k, bit for bit, except that its `edges` is left empty. Returns an empty vector when
/// n_graphs is 0, without any other check. Otherwise throws, before drawing or allocating anything
/// and in this order of precedence, Panic "capacity overflow" when the result table's byte size
/// does not fit in a signed 64-bit integer, "Node list must not be empty" (n_nodes 0) and "Only d=2
/// and d=3 are supported". Touches no Python object: may run without the interpreter lock.
std::vector<SimulationResult> run_training_batch(std::uint64_t n_graphs, std::uint64_t n_nodes,
                                                 std::uint64_t d, std::uint64_t seed);

}  // namespace trussel
