// Tests of the incremental rank checker: a bit-for-bit cross-check against a plain transcription
// of Gauss-Jordan elimination, on rigidity rows and on rows of awkward values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "rank/incremental_rank_checker.hpp"
#include "rigidity/rigidity_row.hpp"
#include "test_util.hpp"

namespace trussel {
namespace {

using Rows = std::vector<std::vector<double>>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The elimination written out index by index, kept apart from the library on purpose.
struct ReferenceChecker {
  std::size_t ncols;
  double tol;
  Rows basis;
  std::vector<std::uint64_t> pivots;

  static void subtract(std::vector<double>& out, double factor, const std::vector<double>& in) {
    for (std::size_t t = 0; t < out.size(); t++) {
      volatile double product = factor * in[t];  // rounded before the subtraction
      out[t] = out[t] - product;
    }
  }

  bool add_row(std::vector<double> row) {
    for (std::size_t k = 0; k < basis.size(); k++) {
      if (std::fabs(row[pivots[k]]) > tol) subtract(row, row[pivots[k]], basis[k]);
    }
    std::size_t q = 0;
    while (q < ncols && !(std::fabs(row[q]) > tol)) ++q;
    if (q == ncols) return false;
    const double v = row[q];
    for (double& x : row) x = x / v;
    for (auto& b : basis) {
      if (std::fabs(b[q]) > tol) subtract(b, b[q], row);
    }
    pivots.push_back(q);
    basis.push_back(row);
    return true;
  }
};

// Feeds the same rows to both and compares every answer and the pivots, and the basis bits at the
// end and after every `every`-th row (reading the basis applies the checker's
// deferred updates, so rarer reads let more of them pile up); counts the answers in `tally`.
void cross_check(std::size_t ncols, double tol, const Rows& rows, std::size_t every,
                 std::uint64_t tally[2]) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(ncols, tol);
  ReferenceChecker reference{ncols, tol, {}, {}};
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const bool answer = checker.add_row(rows[r]);
    ASSERT_EQ(answer, reference.add_row(rows[r])) << "row " << r;
    ASSERT_EQ(checker.pivots(), reference.pivots) << "after row " << r;
    ++tally[answer ? 0 : 1];
    if (r + 1 != rows.size() && r % every != 0) continue;
    const Rows& basis = checker.basis();
    ASSERT_EQ(basis.size(), reference.basis.size());
    for (std::size_t k = 0; k < basis.size(); ++k) {
      for (std::size_t t = 0; t < ncols; ++t) {
        if (bits(basis[k][t]) != bits(reference.basis[k][t])) {
          ASSERT_EQ(basis[k][t], reference.basis[k][t])
              << "row " << r << ", basis " << k << ":" << t;
        }
      }
    }
  }
}

TEST(IncrementalRankChecker, MatchesTheTranscriptionBitForBit) {
  // Rigidity rows of frameworks on an integer grid (exact cancellations), in general position,
  // on a line, or on a line nudged by about the tolerance, some points repeated; and rows of
  // quarter-integers and signed zeros with rare infinities, NaNs, denormals and values about the
  // tolerance. The last trials are long: far more accepted rows than the window of deferred
  // updates, and rows wider than one column block of the update kernel.
  const double tolerances[] = {1e-9, 1e-9, 0.0, -0.0, 1e-6, -1.0, kNaN, kInf, 1e-300};
  const double specials[] = {1e-9, -1e-9, 1e-10, kInf, -kInf, kNaN, 1e300, 1e-300, 5e-324};
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uint64_t tally[2] = {0, 0};
  std::size_t widest = 0;
  for (int trial = 0; trial < 1000; ++trial) {
    const bool is_long = trial >= 980;
    const std::size_t d = 2 + static_cast<std::size_t>(trial % 2);
    Rows rows;
    if (trial % 2 == 0) {
      const std::size_t n = is_long ? (trial == 980 ? 135 : 40 + rng() % 25) : 2 + rng() % 12;
      std::vector<std::vector<double>> points(n, std::vector<double>(d));
      for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t c = 0; c < d; ++c) {
          const double grid = static_cast<double>(rng() % 7) - 3.0;
          const double kinds[] = {grid, unit(rng), static_cast<double>(c + 1) * grid,
                                  static_cast<double>(k % 4) + (c == 0 ? 0 : 2e-9 * unit(rng))};
          points[k][c] = kinds[trial == 980 ? 1 : (trial / 2) % 4];
        }
        if (k > 0 && rng() % 4 == 0) points[k] = points[rng() % k];
      }
      const NodeList nodes = make_nodes(points);
      for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j)
          rows.push_back(RigidityRow::make(nodes, i, j).values);
      }
      if (trial > 982) std::shuffle(rows.begin(), rows.end(), rng);
      if (is_long) rows.resize(std::min(rows.size(), 2 * n * d));
    } else {
      const std::size_t ncols = is_long ? 20 + rng() % 30 : 1 + rng() % 6;
      const std::uint64_t one_in = is_long ? (trial % 4 == 1 ? 400 : 40) : 3;
      rows.assign(is_long ? 60 + rng() % 60 : 1 + rng() % 10, std::vector<double>(ncols));
      for (auto& row : rows) {
        for (double& x : row) {
          const std::uint64_t r = rng() % one_in;
          x = r == 0       ? specials[rng() % 9]
              : r % 3 == 0 ? (r % 2 == 0 ? 0.0 : -0.0)
                           : static_cast<double>(rng() % 9) / 4 - 1;
        }
      }
    }
    widest = std::max(widest, rows[0].size());
    SCOPED_TRACE(trial);
    ASSERT_NO_FATAL_FAILURE(cross_check(rows[0].size(), tolerances[trial % 9], rows,
                                        std::size_t{1} << (trial / 2 % 3 * 3), tally));
  }
  EXPECT_GT(tally[0], 3000u);  // both answers are frequent, so both branches were compared
  EXPECT_GT(tally[1], 3000u);
  EXPECT_GT(widest, 256u);
}

}  // namespace
}  // namespace trussel
