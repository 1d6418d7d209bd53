// Timings of the sparse Cholesky factorisation of RᵀR + μI in the nested-dissection order, as
// label_edges uses it: a bond-diluted jittered triangular lattice in the plane and random
// geometric graphs in space. Built with -DTRUSSEL_BUILD_BENCHMARKS=ON, as
// build/benchmarks/bench_sparse_cholesky. Run without arguments for the default cases, or as
// `bench_sparse_cholesky lattice <side>` or `bench_sparse_cholesky geometric <n> <degree>`.
// Prints the analysis, factorisation and one solve in seconds, the entries of L, the
// factorisation's flop count and rate, and the number of supernodes.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/edge.hpp"
#include "common/matrix.hpp"
#include "graph/elimination_order.hpp"
#include "graph/sparse_cholesky.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using trussel::Edge;
using trussel::FloatMatrix;

struct Framework {
  FloatMatrix coords;
  std::vector<Edge> edges;
};

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// side x side triangular lattice, each bar kept with probability 5/6, sites moved by up to 0.05.
Framework lattice(std::uint64_t side, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0), jitter(-0.05, 0.05);
  Framework f{FloatMatrix(side * side, 2), {}};
  for (std::uint64_t i = 0; i < side; ++i) {
    for (std::uint64_t j = 0; j < side; ++j) {
      f.coords.at(i * side + j, 0) =
          static_cast<double>(i) + 0.5 * static_cast<double>(j) + jitter(rng);
      f.coords.at(i * side + j, 1) = static_cast<double>(j) * std::sqrt(3.0) / 2 + jitter(rng);
    }
  }
  auto add = [&](std::uint64_t a, std::uint64_t b) {
    if (unit(rng) < 5.0 / 6.0) f.edges.push_back({a, b});
  };
  for (std::uint64_t i = 0; i < side; ++i) {
    for (std::uint64_t j = 0; j < side; ++j) {
      if (i + 1 < side) add(i * side + j, (i + 1) * side + j);
      if (j + 1 < side) add(i * side + j, i * side + j + 1);
      if (i + 1 < side && j > 0) add(i * side + j, (i + 1) * side + j - 1);
    }
  }
  return f;
}

// n uniform points in the unit cube joined when closer than the radius of mean degree `degree`.
Framework geometric(std::uint64_t n, double degree, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Framework f{FloatMatrix(n, 3), {}};
  for (std::uint64_t k = 0; k < n; ++k) {
    for (std::uint64_t c = 0; c < 3; ++c) f.coords.at(k, c) = unit(rng);
  }
  const double r = std::cbrt(degree / (static_cast<double>(n) * 4.0 * 3.141592653589793 / 3.0));
  const auto cells = static_cast<std::int64_t>(std::max(1.0, std::floor(1.0 / r)));
  auto cell_of = [&](double x) {
    return std::min<std::int64_t>(cells - 1,
                                  static_cast<std::int64_t>(x * static_cast<double>(cells)));
  };
  std::vector<std::vector<std::uint64_t>> grid(static_cast<std::size_t>(cells * cells * cells));
  auto index = [&](std::int64_t a, std::int64_t b, std::int64_t c) {
    return static_cast<std::size_t>((a * cells + b) * cells + c);
  };
  for (std::uint64_t k = 0; k < n; ++k) {
    grid[index(cell_of(f.coords.at(k, 0)), cell_of(f.coords.at(k, 1)), cell_of(f.coords.at(k, 2)))]
        .push_back(k);
  }
  for (std::uint64_t k = 0; k < n; ++k) {
    const std::int64_t a = cell_of(f.coords.at(k, 0)), b = cell_of(f.coords.at(k, 1)),
                       c = cell_of(f.coords.at(k, 2));
    for (std::int64_t x = std::max<std::int64_t>(0, a - 1); x <= std::min(cells - 1, a + 1); ++x) {
      for (std::int64_t y = std::max<std::int64_t>(0, b - 1); y <= std::min(cells - 1, b + 1);
           ++y) {
        for (std::int64_t z = std::max<std::int64_t>(0, c - 1); z <= std::min(cells - 1, c + 1);
             ++z) {
          for (const std::uint64_t other : grid[index(x, y, z)]) {
            if (other <= k) continue;
            double square = 0.0;
            for (std::uint64_t t = 0; t < 3; ++t) {
              const double delta = f.coords.at(k, t) - f.coords.at(other, t);
              square += delta * delta;
            }
            if (square < r * r) f.edges.push_back({k, other});
          }
        }
      }
    }
  }
  return f;
}

void run(const char* name, const Framework& f) {
  const std::uint64_t n = f.coords.rows(), d = f.coords.cols();
  const trussel::SymmetricMatrix a = trussel::rigidity_normal_matrix(f.coords, f.edges, 1e-12);
  auto start = Clock::now();
  const std::vector<std::uint64_t> priority =
      trussel::column_priority(trussel::nested_dissection_order(n, f.edges), d);
  const double order_time = seconds_since(start);
  start = Clock::now();
  trussel::SparseCholesky cholesky(a, priority);
  const double analysis_time = seconds_since(start);
  start = Clock::now();
  const bool ok = cholesky.factorize(a.value);
  const double factor_time = seconds_since(start);
  start = Clock::now();
  const std::vector<double> x = cholesky.solve(std::vector<double>(n * d, 1.0));
  const double solve_time = seconds_since(start);
  std::printf(
      "%-34s %7llu cols %8zu bars  order %.3fs  analysis %.3fs  factor %.3fs (%s)  solve %.3fs  "
      "L %.2fM entries  %.2f GFlop  %.2f GFlop/s  %llu supernodes\n",
      name, static_cast<unsigned long long>(n * d), f.edges.size(), order_time, analysis_time,
      factor_time, ok ? "ok" : "not positive definite", solve_time,
      static_cast<double>(cholesky.factor_entries()) * 1e-6, cholesky.factor_flops() * 1e-9,
      cholesky.factor_flops() * 1e-9 / factor_time,
      static_cast<unsigned long long>(cholesky.supernode_count()));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "lattice") == 0) {
    const std::uint64_t side = std::strtoull(argv[2], nullptr, 10);
    run(("lattice " + std::to_string(side)).c_str(), lattice(side, 1));
    return 0;
  }
  if (argc >= 4 && std::strcmp(argv[1], "geometric") == 0) {
    const std::uint64_t n = std::strtoull(argv[2], nullptr, 10);
    run(("geometric space n=" + std::to_string(n)).c_str(),
        geometric(n, std::strtod(argv[3], nullptr), 1));
    return 0;
  }
  run("lattice 316x316, p=5/6", lattice(316, 1));
  run("geometric space n=1000, degree 12", geometric(1000, 12.0, 1));
  run("geometric space n=3000, degree 12", geometric(3000, 12.0, 1));
  run("geometric space n=10^4, degree 12", geometric(10000, 12.0, 1));
  return 0;
}
