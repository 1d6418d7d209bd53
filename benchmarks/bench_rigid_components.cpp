// Times find_rigid_components on random graphs with E = 2.5 n distinct bars in random order.
// Built with -DTRUSSEL_BUILD_BENCHMARKS=ON; run build/benchmarks/bench_rigid_components [n ...]
// (pin it to one core with taskset). Sizes after the first one that takes over a minute are
// skipped.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <unordered_set>
#include <vector>

#include "graph/rigid_components.hpp"

namespace {

std::uint64_t split_mix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::vector<trussel::Edge> random_edges(std::uint64_t n, std::uint64_t count, std::uint64_t seed) {
  std::vector<trussel::Edge> edges;
  std::unordered_set<std::uint64_t> seen;
  while (edges.size() < count) {
    const std::uint64_t i = split_mix(seed) % n, j = split_mix(seed) % n;
    if (i == j || !seen.insert(i < j ? i * n + j : j * n + i).second) continue;
    edges.push_back({i, j});
  }
  return edges;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::uint64_t> sizes;
  for (int k = 1; k < argc; ++k) sizes.push_back(std::strtoull(argv[k], nullptr, 10));
  if (sizes.empty()) sizes = {1000, 2000, 5000, 10000, 20000, 50000, 100000};
  for (std::uint64_t n : sizes) {
    const std::vector<trussel::Edge> edges = random_edges(n, n * 5 / 2, n);
    const auto start = std::chrono::steady_clock::now();
    const trussel::RigidComponentsResult result = trussel::find_rigid_components(n, edges);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const std::uint64_t redundant =
        std::accumulate(result.redundant.begin(), result.redundant.end(), std::uint64_t{0});
    std::printf(
        "n = %7llu  E = %7zu  rank = %7llu  redundant = %7llu  components = %6llu  "
        "time = %.3f s\n",
        static_cast<unsigned long long>(n), edges.size(),
        static_cast<unsigned long long>(result.rank), static_cast<unsigned long long>(redundant),
        static_cast<unsigned long long>(result.n_components), elapsed.count());
    std::fflush(stdout);
    if (elapsed.count() > 60.0) break;
  }
  return 0;
}
