// Tests of the incremental rank checker: a bit-for-bit cross-check against a plain transcription
// of Gauss-Jordan elimination, on rigidity rows and on rows of awkward values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
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
  std::uint64_t ncols;
  double tol;
  Rows basis;
  std::vector<std::uint64_t> pivots;

  bool add_row(std::vector<double> row) {
    for (std::size_t k = 0; k < basis.size(); k++) {
      const double c = row[pivots[k]];
      if (std::fabs(c) > tol) {
        for (std::size_t t = 0; t < ncols; t++) {
          volatile double product = c * basis[k][t];  // rounded before the subtraction
          row[t] = row[t] - product;
        }
      }
    }
    std::size_t q = 0;
    while (q < ncols && !(std::fabs(row[q]) > tol)) ++q;
    if (q == ncols) return false;
    const double v = row[q];
    for (std::size_t t = 0; t < ncols; t++) row[t] = row[t] / v;
    for (std::size_t k = 0; k < basis.size(); k++) {
      const double f = basis[k][q];
      if (std::fabs(f) > tol) {
        for (std::size_t t = 0; t < ncols; t++) {
          volatile double product = f * row[t];
          basis[k][t] = basis[k][t] - product;
        }
      }
    }
    pivots.push_back(q);
    basis.push_back(row);
    return true;
  }
};

// Fails the test at the first differing bit pattern of the basis or pivots.
void expect_same_state(const IncrementalRankChecker& checker, const ReferenceChecker& reference) {
  ASSERT_EQ(checker.pivots(), reference.pivots);
  const Rows& basis = checker.basis();  // brings every row up to date
  ASSERT_EQ(basis.size(), reference.basis.size());
  for (std::size_t k = 0; k < basis.size(); ++k) {
    ASSERT_EQ(basis[k].size(), reference.basis[k].size());
    for (std::size_t t = 0; t < basis[k].size(); ++t) {
      if (bits(basis[k][t]) != bits(reference.basis[k][t])) {
        ASSERT_EQ(basis[k][t], reference.basis[k][t]) << "basis row " << k << ", column " << t;
      }
    }
  }
}

// When the cross-check compares the basis rows: reading them applies the checker's deferred
// updates, so comparing after every row checks the brought-up-to-date state each time, and
// comparing only at the end lets the updates pile up as they would in a simulation.
enum class Compare { kEveryRow, kAtEnd, kNowAndThen };

// Feeds the same rows to both and compares every answer, the rank and the pivots after each row,
// and the basis as `when` says (always at the end); counts accepted and rejected rows in `tally`.
void cross_check(std::uint64_t ncols, double tol, const Rows& rows, std::uint64_t tally[2],
                 Compare when) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(ncols, tol);
  ReferenceChecker reference{ncols, tol, {}, {}};
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const bool answer = checker.add_row(rows[r]);
    ASSERT_EQ(answer, reference.add_row(rows[r])) << "row " << r;
    ASSERT_EQ(checker.rank(), reference.basis.size());
    ASSERT_EQ(checker.pivots(), reference.pivots) << "after row " << r;
    if (when == Compare::kEveryRow || (when == Compare::kNowAndThen && r % 7 == 3)) {
      ASSERT_NO_FATAL_FAILURE(expect_same_state(checker, reference)) << "after row " << r;
    }
    ++tally[answer ? 0 : 1];
  }
  ASSERT_NO_FATAL_FAILURE(expect_same_state(checker, reference)) << "at the end";
}

// The rigidity rows of a random framework in candidate order: integer grids (exact cancellations
// and zeros), general position, collinear points, or points pushed off a line by about the
// tolerance; some points repeat earlier ones exactly.
Rows framework_rows(std::mt19937_64& rng, std::uint64_t n, std::uint64_t d, int kind) {
  std::uniform_int_distribution<int> grid(-3, 3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const double nudge[] = {0.0, 5e-10, 1e-9, 3e-9};
  NodeList nodes = make_nodes(std::vector<std::vector<double>>(n, std::vector<double>(d)));
  for (std::uint64_t k = 0; k < n; ++k) {
    for (std::uint64_t c = 0; c < d; ++c) {
      const double line = static_cast<double>(k % 4) * (c == 0 ? 1.0 : 0.5);
      const double kinds[] = {static_cast<double>(grid(rng)), unit(rng),
                              static_cast<double>(c + 1) * static_cast<double>(grid(rng)),
                              line + (c == 0 ? 0.0 : nudge[rng() % 4] * unit(rng))};
      nodes[k].coords[c] = kinds[kind];
    }
    if (k > 0 && rng() % 4 == 0) nodes[k].coords = nodes[rng() % k].coords;
  }
  Rows rows;
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = i + 1; j < n; ++j) rows.push_back(RigidityRow::make(nodes, i, j).values);
  }
  return rows;
}

// Rows of quarter-integers and exact zeros of both signs, with one entry in `one_in` drawn from
// awkward values (infinities, NaN, denormals, values about the tolerance).
Rows special_rows(std::mt19937_64& rng, std::size_t count, std::uint64_t ncols,
                  std::uint64_t one_in) {
  const double specials[] = {1e-9,  -1e-9,  1e-10,
                             kInf,  -kInf,  kNaN,
                             1e300, 1e-300, std::numeric_limits<double>::denorm_min()};
  Rows rows(count, std::vector<double>(ncols));
  for (auto& row : rows) {
    for (double& x : row) {
      const std::uint64_t r = rng() % one_in;
      x = r == 0       ? specials[rng() % std::size(specials)]
          : r % 3 == 0 ? (r % 2 == 0 ? 0.0 : -0.0)
                       : static_cast<double>(static_cast<int>(rng() % 9) - 4) / 4.0;
    }
  }
  return rows;
}

TEST(IncrementalRankChecker, MatchesTheTranscriptionBitForBit) {
  // Short sequences of many kinds, then long ones: far more accepted rows than the window of
  // deferred updates, and rows wider than one column block of the update kernel.
  const double tolerances[] = {1e-9, 1e-9, 0.0, -0.0, 1e-6, -1.0, kNaN, kInf, 1e-300};
  const Compare modes[] = {Compare::kEveryRow, Compare::kAtEnd, Compare::kNowAndThen};
  std::mt19937_64 rng(20240611);
  std::uint64_t tally[2] = {0, 0};
  std::uint64_t long_accepted = 0;
  std::size_t widest = 0;
  for (int trial = 0; trial < 1000; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const bool is_long = trial >= 980;
    const std::uint64_t d = 2 + static_cast<std::uint64_t>(trial % 2);
    Rows rows;
    std::uint64_t ncols = 0;
    if (trial % 2 == 0) {  // rigidity rows; the long ones shuffled and cut to 2nd rows
      const std::uint64_t n = is_long ? (trial == 980 ? 135 : 40 + rng() % 25) : 2 + rng() % 12;
      rows = framework_rows(rng, n, d, trial == 980 ? 1 : (trial / 2) % 4);
      if (is_long && trial > 982) std::shuffle(rows.begin(), rows.end(), rng);
      if (is_long) rows.resize(std::min<std::size_t>(rows.size(), 2 * n * d));
      ncols = n * d;
    } else {
      ncols = is_long ? 20 + rng() % 30 : 1 + rng() % 6;
      rows = special_rows(rng, is_long ? 60 + rng() % 60 : 1 + rng() % 10, ncols,
                          is_long ? (trial % 4 == 1 ? 400 : 40) : 3);
    }
    const std::uint64_t before = tally[0];
    ASSERT_NO_FATAL_FAILURE(
        cross_check(ncols, tolerances[trial % 9], rows, tally, modes[(trial / 2) % 3]));
    if (is_long) long_accepted += tally[0] - before;
    widest = std::max<std::size_t>(widest, ncols);
  }
  // Both answers occur often, so both branches were compared, and the long runs go far past
  // the window and past one column block.
  EXPECT_GT(tally[0], 3000u);
  EXPECT_GT(tally[1], 3000u);
  EXPECT_GT(long_accepted, 30 * IncrementalRankChecker::kWindow);
  EXPECT_GT(widest, 256u);
}

TEST(IncrementalRankChecker, ProductIsRoundedBeforeSubtraction) {
  // c * b = 1 + 2^-29 + 2^-60 rounds to 1 + 2^-29, so the remainder is exactly zero; a fused
  // multiply-add would leave -2^-60, above a tolerance of 0.
  const double c = 1.0 + std::ldexp(1.0, -30);
  IncrementalRankChecker checker = IncrementalRankChecker::make(2, 0.0);
  EXPECT_TRUE(checker.add_row({1.0, c}));
  EXPECT_FALSE(checker.add_row({c, 1.0 + std::ldexp(1.0, -29)}));
  EXPECT_PANIC(checker.add_row(std::vector<double>(5, 1.0)),
               "assertion `left == right` failed: Row length 5 does not match ncols 2\n"
               "  left: 5\n right: 2");
  EXPECT_EQ(checker.rank(), 1u);
}

}  // namespace
}  // namespace trussel
