// Timings of label_edges(): greedy labels and redundancy on random graphs, random geometric
// graphs and bond-diluted triangular lattices, edges in lexicographic order of spatially random
// node indices. Built with -DTRUSSEL_BUILD_BENCHMARKS=ON, as build/benchmarks/bench_label_edges.
// Run without arguments for every curve, or as `bench_label_edges <kind> <n>` for one case,
// kind being random, geometric or lattice.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/edge.hpp"
#include "common/matrix.hpp"
#include "graph/label_edges.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using trussel::Edge;
using trussel::FloatMatrix;

struct Framework {
  FloatMatrix coords;
  std::vector<Edge> edges;
};

void sort_edges(std::vector<Edge>& edges) {
  for (Edge& e : edges) {
    if (e.i > e.j) std::swap(e.i, e.j);
  }
  std::sort(edges.begin(), edges.end(),
            [](const Edge& a, const Edge& b) { return a.i != b.i ? a.i < b.i : a.j < b.j; });
}

FloatMatrix random_points(std::uint64_t n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  FloatMatrix coords(n, 2);
  for (std::uint64_t k = 0; k < n; ++k) {
    coords.at(k, 0) = unit(rng);
    coords.at(k, 1) = unit(rng);
  }
  return coords;
}

// n uniform points, 2.5 n distinct uniformly random pairs.
Framework random_graph(std::uint64_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  Framework f{random_points(n, rng), {}};
  std::uniform_int_distribution<std::uint64_t> node(0, n - 1);
  std::unordered_set<std::uint64_t> seen;
  while (f.edges.size() < n * 5 / 2) {
    std::uint64_t i = node(rng), j = node(rng);
    if (i == j) continue;
    if (i > j) std::swap(i, j);
    if (seen.insert(i * n + j).second) f.edges.push_back({i, j});
  }
  sort_edges(f.edges);
  return f;
}

// n uniform points in the unit square joined when closer than r, mean degree about 5.
Framework geometric_graph(std::uint64_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  Framework f{random_points(n, rng), {}};
  const double r = std::sqrt(5.0 / (3.141592653589793 * static_cast<double>(n)));
  const auto cells = static_cast<std::uint64_t>(std::max(1.0, std::floor(1.0 / r)));
  std::vector<std::vector<std::uint64_t>> grid(cells * cells);
  auto cell_of = [&](double x) {
    return std::min(cells - 1, static_cast<std::uint64_t>(x * static_cast<double>(cells)));
  };
  for (std::uint64_t k = 0; k < n; ++k) {
    grid[cell_of(f.coords.at(k, 0)) * cells + cell_of(f.coords.at(k, 1))].push_back(k);
  }
  for (std::uint64_t k = 0; k < n; ++k) {
    const std::uint64_t cx = cell_of(f.coords.at(k, 0)), cy = cell_of(f.coords.at(k, 1));
    for (std::uint64_t x = cx == 0 ? 0 : cx - 1; x <= std::min(cells - 1, cx + 1); ++x) {
      for (std::uint64_t y = cy == 0 ? 0 : cy - 1; y <= std::min(cells - 1, cy + 1); ++y) {
        for (const std::uint64_t m : grid[x * cells + y]) {
          if (m <= k) continue;
          const double dx = f.coords.at(k, 0) - f.coords.at(m, 0);
          const double dy = f.coords.at(k, 1) - f.coords.at(m, 1);
          if (dx * dx + dy * dy < r * r) f.edges.push_back({k, m});
        }
      }
    }
  }
  sort_edges(f.edges);
  return f;
}

// A triangular lattice of about n sites, each bond kept with probability 5/6 (mean degree 5),
// site indices randomly permuted.
Framework diluted_lattice(std::uint64_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const auto side = static_cast<std::uint64_t>(std::round(std::sqrt(static_cast<double>(n))));
  const std::uint64_t sites = side * side;
  std::vector<std::uint64_t> label(sites);
  for (std::uint64_t k = 0; k < sites; ++k) label[k] = k;
  std::shuffle(label.begin(), label.end(), rng);
  Framework f{FloatMatrix(sites, 2), {}};
  std::bernoulli_distribution keep(5.0 / 6.0);
  for (std::uint64_t row = 0; row < side; ++row) {
    for (std::uint64_t col = 0; col < side; ++col) {
      const std::uint64_t s = label[row * side + col];
      f.coords.at(s, 0) = static_cast<double>(col) + 0.5 * static_cast<double>(row);
      f.coords.at(s, 1) = static_cast<double>(row) * 0.8660254037844386;
      if (col + 1 < side && keep(rng)) f.edges.push_back({s, label[row * side + col + 1]});
      if (row + 1 < side && keep(rng)) f.edges.push_back({s, label[(row + 1) * side + col]});
      if (row + 1 < side && col > 0 && keep(rng)) {
        f.edges.push_back({s, label[(row + 1) * side + col - 1]});
      }
    }
  }
  sort_edges(f.edges);
  return f;
}

Framework make(const std::string& kind, std::uint64_t n, std::uint64_t seed) {
  if (kind == "random") return random_graph(n, seed);
  if (kind == "geometric") return geometric_graph(n, seed);
  return diluted_lattice(n, seed);
}

void run_case(const std::string& kind, std::uint64_t n) {
  const Framework f = make(kind, n, 12345 + n);
  const Clock::time_point start = Clock::now();
  const trussel::EdgeLabelling result = trussel::label_edges(f.coords, f.edges, 1e-9);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::uint64_t redundant = 0;
  for (const std::uint8_t r : result.redundant) redundant += r;
  std::printf("%-9s n=%7llu E=%7zu rank=%7llu max_rank=%7llu redundant=%7llu  %9.3f s\n",
              kind.c_str(), static_cast<unsigned long long>(f.coords.rows()), f.edges.size(),
              static_cast<unsigned long long>(result.rank),
              static_cast<unsigned long long>(result.max_rank),
              static_cast<unsigned long long>(redundant), seconds);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3) {
    run_case(argv[1], std::strtoull(argv[2], nullptr, 10));
    return 0;
  }
  for (const std::uint64_t n : {250, 500, 1000, 2000, 4000}) run_case("random", n);
  for (const std::uint64_t n : {1000, 3000, 10000, 30000, 100000}) run_case("geometric", n);
  for (const std::uint64_t n : {1000, 3000, 10000, 30000, 100000}) run_case("lattice", n);
  return 0;
}
