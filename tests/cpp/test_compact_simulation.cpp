// Tests of the compact simulation of batches: a bit-for-bit cross-check against run_simulation()
// on random, degenerate and non-finite frameworks and under awkward tolerances.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "batch/coordinate_rng.hpp"
#include "simulation/compact_simulation.hpp"
#include "test_util.hpp"

namespace trussel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kOtherNaN = std::bit_cast<double>(std::uint64_t{0xFFF8000000000123});

NodeList nodes_of(const FloatMatrix& coords) {
  NodeList nodes(coords.rows());
  for (std::uint64_t k = 0; k < coords.rows(); ++k) {
    nodes[k] = Node{{coords.row(k), coords.row(k) + coords.cols()}, k};
  }
  return nodes;
}

// Every value that the batch passes on, compared bit for bit.
void expect_same_as_run_simulation(CompactSimulator& simulator, const FloatMatrix& coords,
                                   double tol, const std::string& where) {
  const SimulationResult plain = run_simulation(nodes_of(coords), coords.cols(), tol);
  const SimulationResult compact = simulator.simulate(coords);
  EXPECT_EQ(compact.labels, plain.labels) << where;
  EXPECT_EQ(compact.accepted_edges, plain.accepted_edges) << where;
  EXPECT_EQ(compact.final_rank, plain.final_rank) << where;
  EXPECT_EQ(compact.max_rank, plain.max_rank) << where;
  EXPECT_EQ(compact.is_rigid, plain.is_rigid) << where;
  EXPECT_EQ(compact.n_nodes, plain.n_nodes) << where;
  ASSERT_EQ(compact.distance_matrix.values().size(), plain.distance_matrix.values().size());
  for (std::size_t k = 0; k < plain.distance_matrix.values().size(); ++k) {
    EXPECT_EQ(bits(compact.distance_matrix.values()[k]), bits(plain.distance_matrix.values()[k]))
        << where << " distance entry " << k;
  }
}

// The kernels for this processor and the plain loops that other processors use.
const std::vector<const CompactKernels*> kKernels = {&compact_kernels(), &plain_compact_kernels()};

// Random frameworks of every small size; the same simulator serves one size after another.
TEST(CompactSimulation, AgreesWithRunSimulationOnDrawnFrameworks) {
  for (std::uint64_t d : {2u, 3u}) {
    for (std::uint64_t n = 1; n <= 24; ++n) {
      CompactSimulator simulator(n, d, kSimulateTolerance, *kKernels[n % 2]);
      for (std::uint64_t seed = 0; seed < 6; ++seed) {
        CoordinateRng rng(seed * 1000 + n);
        expect_same_as_run_simulation(simulator, draw_coordinates(rng, n, d), kSimulateTolerance,
                                      std::to_string(n) + " nodes, d " + std::to_string(d));
      }
    }
  }
}

// Coordinates rounded to a coarse grid (coincident and collinear points, exact cancellations,
// zeros of both signs), scaled to extremes (factors that overflow), or not finite, under
// tolerances that accept tiny remainders, refuse everything, or are not >= 0.
TEST(CompactSimulation, AgreesWithRunSimulationOnAwkwardFrameworks) {
  const std::vector<double> tolerances = {kSimulateTolerance, 0.0, 0.5, kInf, -1.0, kNaN};
  const std::vector<double> scales = {1.0, 1e-300, 1e154, 0.9e308};
  for (std::uint64_t d : {2u, 3u}) {
    for (std::uint64_t n : {3u, 7u, 12u}) {
      for (double tol : tolerances) {
        for (const CompactKernels* kernels : kKernels) {
          CompactSimulator simulator(n, d, tol, *kernels);
          for (std::uint64_t seed = 0; seed < 4; ++seed) {
            for (double scale : scales) {
              CoordinateRng rng(seed);
              FloatMatrix coords = draw_coordinates(rng, n, d);
              for (std::uint64_t k = 0; k < n * d; ++k) {
                double& x = coords.at(k / d, k % d);
                x = (std::floor(x * 0.6) - 1.0) * scale;  // -1, 0, 1 or 2 grid steps
              }
              if (seed == 3) coords.at(n - 1, 0) = n % 2 == 0 ? kNaN : -kInf;
              if (seed == 3 && n % 2 == 0) coords.at(0, 0) = kOtherNaN;  // two NaN payloads
              expect_same_as_run_simulation(simulator, coords, tol,
                                            std::to_string(n) + " nodes, d " + std::to_string(d) +
                                                ", tol " + std::to_string(tol) + ", scale " +
                                                std::to_string(scale));
            }
          }
        }
      }
    }
  }
}

TEST(CompactSimulation, RefusesWhatRunSimulationRefuses) {
  EXPECT_PANIC(CompactSimulator(0, 7, kSimulateTolerance), "Node list must not be empty");
  EXPECT_PANIC(CompactSimulator(5, 4, kSimulateTolerance), "Only d=2 and d=3 are supported");
  EXPECT_PANIC(CompactSimulator(std::uint64_t{1} << 33, 2, kSimulateTolerance),
               "capacity overflow");
}

}  // namespace
}  // namespace trussel
