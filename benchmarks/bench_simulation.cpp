// Timings of the rigidity simulation, the fast path and the edge-by-edge procedure.
// Build (after building build-rank): g++ -std=c++20 -O2 -ffp-contract=off -Isrc
//   benchmarks/bench_simulation.cpp build-rank/libtrussel_core.a -o build-rank/bench_simulation
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <vector>

#include "rigidity/rigidity_row.hpp"
#include "simulation/simulation.hpp"

namespace {

using Clock = std::chrono::steady_clock;

trussel::NodeList random_nodes(std::uint64_t n, std::uint64_t d, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  trussel::NodeList nodes(n);
  for (std::uint64_t k = 0; k < n; ++k) {
    nodes[k].index = k;
    for (std::uint64_t c = 0; c < d; ++c) nodes[k].coords.push_back(unit(rng));
  }
  return nodes;
}

// Median of `repeats` runs of `body`, in milliseconds.
template <class Body>
double time_ms(int repeats, Body&& body) {
  std::vector<double> samples;
  for (int r = 0; r < repeats; ++r) {
    const Clock::time_point start = Clock::now();
    body();
    samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

}  // namespace

int main() {
  std::printf("%4s %3s %9s %8s %12s %14s %15s\n", "n", "d", "max_rank", "E", "fast ms",
              "edge-by-edge ms", "run_simulation ms");
  for (std::uint64_t d : {2u, 3u}) {
    for (std::uint64_t n : {50u, 100u, 200u}) {
      const trussel::NodeList nodes = random_nodes(n, d, 1000 + n + d);
      const std::uint64_t bound = trussel::max_rank(n, d);
      const int repeats = n <= 100 ? 9 : 3;
      bool fast_ok = false;
      const double fast = time_ms(repeats, [&] {
        fast_ok = trussel::run_fast_path(nodes, d, trussel::kSimulateTolerance, bound).has_value();
      });
      const double slow = time_ms(repeats, [&] {
        trussel::label_edge_by_edge(nodes, d, trussel::kSimulateTolerance, bound);
      });
      const double full =
          time_ms(repeats, [&] { trussel::run_simulation(nodes, d, trussel::kSimulateTolerance); });
      std::printf("%4llu %3llu %9llu %8llu %9.2f%3s %14.2f %15.2f\n",
                  static_cast<unsigned long long>(n), static_cast<unsigned long long>(d),
                  static_cast<unsigned long long>(bound),
                  static_cast<unsigned long long>(trussel::candidate_count(n)), fast,
                  fast_ok ? "" : " *", slow, full);
    }
  }
  std::printf("(* the fast path declined; its time is then wasted before the fallback)\n");
  return 0;
}
