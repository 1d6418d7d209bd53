// Timings of the rigidity simulation: the fast path, the edge-by-edge procedure and simulate()'s
// path (the fast path, then the edge-by-edge procedure when it declines).
// Built with -DTRUSSEL_BUILD_BENCHMARKS=ON, as build/benchmarks/bench_simulation.
// Run without arguments for every case, or as `bench_simulation <n> <d> [collinear]` for one case
// (e.g. under /usr/bin/time -v for its peak memory). "collinear" puts node 2 on the line through
// nodes 0 and 1, so the fast path declines and simulate() falls back to the edge-by-edge procedure.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "rigidity/rigidity_row.hpp"
#include "simulation/simulation.hpp"

namespace {

using Clock = std::chrono::steady_clock;

trussel::NodeList random_nodes(std::uint64_t n, std::uint64_t d, std::uint64_t seed,
                               bool collinear) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  trussel::NodeList nodes(n);
  for (std::uint64_t k = 0; k < n; ++k) {
    nodes[k].index = k;
    for (std::uint64_t c = 0; c < d; ++c) nodes[k].coords.push_back(unit(rng));
  }
  if (collinear && n > 2) {
    // p2 = p0 + 2 (p1 - p0), exact enough that (1, 2) depends on (0, 1) and (0, 2).
    for (std::uint64_t c = 0; c < d; ++c) {
      nodes[2].coords[c] = nodes[0].coords[c] + 2.0 * (nodes[1].coords[c] - nodes[0].coords[c]);
    }
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

// FNV-1a of the labels, to compare results across builds.
std::uint64_t label_hash(const std::vector<std::uint8_t>& labels) {
  std::uint64_t hash = 14695981039346656037ull;
  for (std::uint8_t label : labels) {
    hash ^= label;
    hash *= 1099511628211ull;
  }
  return hash;
}

void run_case(std::uint64_t n, std::uint64_t d, bool collinear) {
  const trussel::NodeList nodes = random_nodes(n, d, 1000 + n + d, collinear);
  const std::uint64_t bound = trussel::max_rank(n, d);
  const int repeats = n <= 100 ? 9 : n <= 300 ? 3 : 1;
  bool fast_ok = false;
  const double fast = time_ms(repeats, [&] {
    fast_ok = trussel::run_fast_path(nodes, d, trussel::kSimulateTolerance, bound).has_value();
  });
  trussel::Labelling labelling;
  const double slow = time_ms(repeats, [&] {
    labelling = trussel::label_edge_by_edge(nodes, d, trussel::kSimulateTolerance, bound);
  });
  const double simulate_path = fast_ok ? fast : fast + slow;
  std::printf("%5llu %2llu %4s %9llu %9llu %10.1f%2s %14.1f %12.1f %6llu %016llx\n",
              static_cast<unsigned long long>(n), static_cast<unsigned long long>(d),
              collinear ? "yes" : "no", static_cast<unsigned long long>(bound),
              static_cast<unsigned long long>(trussel::pair_count(n)), fast, fast_ok ? "" : " *",
              slow, simulate_path, static_cast<unsigned long long>(labelling.final_rank),
              static_cast<unsigned long long>(label_hash(labelling.labels)));
  std::fflush(stdout);
}

void print_header() {
  std::printf("%5s %2s %4s %9s %9s %12s %14s %12s %6s %16s\n", "n", "d", "coll", "max_rank", "E",
              "fast ms", "edge-by-edge ms", "simulate ms", "rank", "label hash");
}

}  // namespace

int main(int argc, char** argv) {
  print_header();
  if (argc >= 3) {
    const bool collinear = argc >= 4 && std::strcmp(argv[3], "collinear") == 0;
    run_case(std::strtoull(argv[1], nullptr, 10), std::strtoull(argv[2], nullptr, 10), collinear);
    return 0;
  }
  for (std::uint64_t n : {50u, 200u, 500u, 1000u, 2000u}) run_case(n, 2, false);
  for (std::uint64_t n : {50u, 300u, 600u, 1000u}) run_case(n, 3, false);
  for (std::uint64_t n : {200u, 1000u}) run_case(n, 2, true);
  for (std::uint64_t n : {200u, 600u}) run_case(n, 3, true);
  std::printf("(* the fast path declined; simulate then adds the edge-by-edge time)\n");
  return 0;
}
