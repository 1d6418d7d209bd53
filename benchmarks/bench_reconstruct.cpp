// Timings of classical MDS reconstruction (double centering, Jacobi, stress) for growing n.
// Built with -DTRUSSEL_BUILD_BENCHMARKS=ON; run build/benchmarks/bench_reconstruct.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>

#include "reconstruct/classical_mds.hpp"
#include "reconstruct/double_centering.hpp"
#include "reconstruct/jacobi.hpp"

namespace {

trussel::FloatMatrix random_distances(std::uint64_t n, std::uint64_t d, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
  trussel::FloatMatrix points(n, d);
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t k = 0; k < d; ++k) points.at(i, k) = coordinate(rng);
  }
  trussel::FloatMatrix dist(n, n);
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = 0; j < n; ++j) {
      double sum = 0.0;
      for (std::uint64_t k = 0; k < d; ++k) {
        const double diff = points.at(i, k) - points.at(j, k);
        sum += diff * diff;
      }
      dist.at(i, j) = std::sqrt(sum);
    }
  }
  return dist;
}

template <class Body>
double best_seconds(int repeats, Body&& body) {
  double best = INFINITY;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count());
  }
  return best;
}

}  // namespace

int main() {
  std::mt19937_64 rng(2024);
  std::printf("%6s %3s %14s %14s %14s %14s %10s\n", "n", "d", "reconstruct_s", "center_s",
              "jacobi_s", "jacobi_scan_s", "rotations");
  for (const std::uint64_t n : {100u, 500u, 1000u}) {
    const std::uint64_t d = 3;
    const trussel::FloatMatrix dist = random_distances(n, d, rng);
    const int repeats = n <= 100 ? 20 : 5;
    double stress = 0.0;
    const double total =
        best_seconds(repeats, [&] { stress = trussel::reconstruct_coords(dist, d).stress; });
    const trussel::FloatMatrix gram = trussel::double_center(dist);
    const double center = best_seconds(repeats, [&] { (void)trussel::double_center(dist); });
    std::uint64_t rotations = 0;
    const double jacobi =
        best_seconds(repeats, [&] { rotations = trussel::jacobi_eigen(gram).rotations; });
    const trussel::JacobiOptions scan{trussel::kJacobiRotationLimit,
                                      trussel::PivotSearch::kFullScan};
    const double jacobi_scan =
        best_seconds(repeats, [&] { (void)trussel::jacobi_eigen(gram, scan); });
    std::printf("%6llu %3llu %14.6f %14.6f %14.6f %14.6f %10llu   (stress %.3g)\n",
                static_cast<unsigned long long>(n), static_cast<unsigned long long>(d), total,
                center, jacobi, jacobi_scan, static_cast<unsigned long long>(rotations), stress);
  }
  return 0;
}
