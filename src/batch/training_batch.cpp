// Reproducible batches of random frameworks put through the rigidity
// simulation.
#include "batch/training_batch.hpp"

#include <cstddef>
#include <optional>

#include "batch/coordinate_rng.hpp"
#include "common/errors.hpp"
#include "node/node.hpp"
#include "simulation/compact_simulation.hpp"

namespace trussel {

std::vector<SimulationResult> run_training_batch(std::uint64_t n_graphs, std::uint64_t n_nodes,
                                                 std::uint64_t d, std::uint64_t seed) {
  std::vector<SimulationResult> results;
  if (n_graphs == 0) return results;
  // The result table is sized for n_graphs records before any framework is looked at, so a
  // table that cannot exist is refused first, whatever n_nodes and d are.
  const std::size_t table_bytes = checked_bytes(n_graphs, sizeof(SimulationResult));
  // run_simulation() makes the same two checks, but only after a framework has
  // been drawn; an absurd d must be refused before draw_framework() tries to
  // allocate n_nodes * d coordinates.
  check(n_nodes != 0, "Node list must not be empty");
  check(d == 2 || d == 3, "Only d=2 and d=3 are supported");
  results.reserve(table_bytes / sizeof(SimulationResult));
  // Refused at the size of run_simulation()'s node list, which a framework may need.
  checked_bytes(n_nodes, sizeof(Node));
  std::optional<CompactSimulator> simulator;
  for (std::uint64_t k = 0; k < n_graphs; ++k) {
    // seed + k wraps modulo 2^64, so framework k of seed s equals framework k -
    // 1 of seed s + 1.
    CoordinateRng rng(seed + k);
    const FloatMatrix coords = draw_coordinates(rng, n_nodes, d);
    // Made after the first framework is drawn, so that its checks come in their old order.
    if (!simulator) simulator.emplace(n_nodes, d, kSimulateTolerance);
    results.push_back(simulator->simulate(coords));
  }
  return results;
}

}  // namespace trussel
