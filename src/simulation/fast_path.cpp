// simulate()'s fast path: only the first max_rank candidates, enough in general position.
#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "rank/incremental_rank_checker.hpp"
#include "rigidity/rigidity_row.hpp"
#include "simulation/simulation.hpp"

namespace trussel {

std::optional<Labelling> run_fast_path(const NodeList& nodes, std::uint64_t d, double tol,
                                       std::uint64_t max_rank) {
  const std::uint64_t n = nodes.size();
  const std::uint64_t count = pair_count(n);
  const std::uint64_t ncols = checked_mul(n, d);
  // The edge-by-edge procedure compares the rank only after a candidate, so with a bound of 0 it
  // still tests the first candidate; this path cannot reproduce that.
  if (max_rank == 0 && count != 0) return std::nullopt;
  const std::uint64_t k = std::min(max_rank, count);

  // The labels at their final size: the first k set, the rest 0.
  Labelling result;
  checked_bytes(count, sizeof(std::uint8_t));
  result.labels.assign(static_cast<std::size_t>(count), 0);
  std::fill_n(result.labels.begin(), static_cast<std::size_t>(k), std::uint8_t{1});
  checked_bytes(k, sizeof(Edge));
  result.accepted_edges.reserve(static_cast<std::size_t>(k));

  IncrementalRankChecker checker = IncrementalRankChecker::make(ncols, tol);
  Edge candidate{0, 1};
  for (std::uint64_t position = 0; position < k; ++position) {
    result.accepted_edges.push_back(candidate);
    RigidityRow row = RigidityRow::make(nodes, candidate.i, candidate.j);
    // The answers are not needed: the rank reaches max_rank after k rows only if each raised it.
    static_cast<void>(checker.add_row(std::move(row.values)));
    candidate = next_candidate(candidate, n);
    poll_interrupt(ncols * (checker.rank() + 1));
  }
  if (checker.rank() != max_rank) return std::nullopt;
  result.final_rank = max_rank;
  return result;
}

}  // namespace trussel
