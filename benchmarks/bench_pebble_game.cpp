// Times play_pebble_game for a few node counts.
// Built with -DTRUSSEL_BUILD_BENCHMARKS=ON; run build/benchmarks/bench_pebble_game.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <numeric>

#include "pebble/pebble_game.hpp"

namespace {

void time_game(std::uint64_t n, trussel::PebbleGameMode mode, const char* name) {
  trussel::check_pebble_game_size(n);
  const auto start = std::chrono::steady_clock::now();
  const trussel::PebbleGameResult result = trussel::play_pebble_game(n, mode);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const std::uint64_t ones =
      std::accumulate(result.labels.begin(), result.labels.end(), std::uint64_t{0});
  std::printf("%-10s n = %6llu  labels = %10zu  accepted = %6llu  time = %.4f s\n", name,
              static_cast<unsigned long long>(n), result.labels.size(),
              static_cast<unsigned long long>(ones), elapsed.count());
}

}  // namespace

int main() {
  for (std::uint64_t n : {1000u, 10000u, 20000u}) {
    time_game(n, trussel::PebbleGameMode::kStopAtFullCount, "game");
  }
  // For comparison: every candidate offered, no stop after 2n-3 bars.
  time_game(500, trussel::PebbleGameMode::kOfferAll, "full game");
  return 0;
}
