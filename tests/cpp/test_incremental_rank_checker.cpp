// Tests of the incremental rank checker: worked rows, tolerance edges, and a bit-for-bit
// cross-check against a plain transcription of Gauss-Jordan elimination.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "node/node.hpp"
#include "rank/incremental_rank_checker.hpp"
#include "rigidity/rigidity_row.hpp"

namespace trussel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// The elimination written out index by index, kept apart from the library on purpose.
struct ReferenceChecker {
  std::uint64_t ncols;
  double tol;
  std::vector<std::vector<double>> basis;
  std::vector<std::uint64_t> pivots;

  bool add_row(std::vector<double> row) {
    for (std::size_t k = 0; k < basis.size(); k++) {
      double c = row[pivots[k]];
      if (std::fabs(c) > tol) {
        for (std::size_t t = 0; t < ncols; t++) {
          volatile double product = c * basis[k][t];
          row[t] = row[t] - product;
        }
      }
    }
    std::size_t q = ncols;
    for (std::size_t t = 0; t < ncols; t++) {
      if (std::fabs(row[t]) > tol) {
        q = t;
        break;
      }
    }
    if (q == ncols) return false;
    double v = row[q];
    for (std::size_t t = 0; t < ncols; t++) row[t] = row[t] / v;
    for (std::size_t k = 0; k < basis.size(); k++) {
      double f = basis[k][q];
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
  ASSERT_EQ(checker.basis().size(), reference.basis.size());
  ASSERT_EQ(checker.rank(), reference.basis.size());
  for (std::size_t k = 0; k < reference.basis.size(); ++k) {
    ASSERT_EQ(checker.basis()[k].size(), reference.basis[k].size());
    for (std::size_t t = 0; t < reference.basis[k].size(); ++t) {
      const std::uint64_t got = bits(checker.basis()[k][t]);
      const std::uint64_t want = bits(reference.basis[k][t]);
      if (got != want) {
        ASSERT_EQ(got, want) << "basis row " << k << ", column " << t;
      }
    }
  }
}

// When the cross-check compares the basis rows: reading them applies the checker's deferred
// updates, so comparing after every row checks the brought-up-to-date state each time, and
// comparing only at the end lets the updates pile up as they would in a simulation.
enum class Compare { kEveryRow, kAtEnd, kNowAndThen };

// Feeds the same rows to both and compares every answer, the rank and the pivots after each row,
// and the basis as `when` says (always at the end); adds the number of accepted and rejected rows
// to `tally`.
void cross_check(std::uint64_t ncols, double tol, const std::vector<std::vector<double>>& rows,
                 std::uint64_t* tally = nullptr, Compare when = Compare::kEveryRow) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(ncols, tol);
  ReferenceChecker reference{ncols, tol, {}, {}};
  std::mt19937_64 rng(rows.size());
  std::uint64_t accepted = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const bool answer = checker.add_row(rows[r]);
    ASSERT_EQ(answer, reference.add_row(rows[r])) << "row " << r;
    accepted += answer ? 1 : 0;
    ASSERT_EQ(checker.rank(), accepted);
    ASSERT_EQ(checker.pivots(), reference.pivots) << "after row " << r;
    if (when == Compare::kEveryRow || (when == Compare::kNowAndThen && rng() % 7 == 0)) {
      ASSERT_NO_FATAL_FAILURE(expect_same_state(checker, reference)) << "after row " << r;
    }
    if (tally != nullptr) ++tally[answer ? 0 : 1];
  }
  ASSERT_NO_FATAL_FAILURE(expect_same_state(checker, reference)) << "at the end";
}

constexpr Compare kCompareModes[] = {Compare::kEveryRow, Compare::kAtEnd, Compare::kNowAndThen};

TEST(IncrementalRankChecker, StartsEmpty) {
  const IncrementalRankChecker checker = IncrementalRankChecker::make(6, 1e-9);
  EXPECT_EQ(checker.rank(), 0u);
  EXPECT_EQ(checker.ncols(), 6u);
  EXPECT_EQ(bits(checker.tol()), bits(1e-9));
  EXPECT_TRUE(checker.basis().empty());
  EXPECT_TRUE(checker.pivots().empty());
}

TEST(IncrementalRankChecker, AllZeroRowIsDependentEvenFirst) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(4, 1e-9);
  EXPECT_FALSE(checker.add_row({0.0, -0.0, 0.0, 0.0}));
  EXPECT_EQ(checker.rank(), 0u);
  EXPECT_TRUE(checker.add_row({0.0, 0.0, 3.0, 0.0}));
  EXPECT_FALSE(checker.add_row({0.0, 0.0, 0.0, 0.0}));
  EXPECT_EQ(checker.rank(), 1u);
}

TEST(IncrementalRankChecker, WorkedFourColumnSequence) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(4, 1e-9);
  EXPECT_TRUE(checker.add_row({0, 2, 0, 4}));
  ASSERT_EQ(checker.pivots(), (std::vector<std::uint64_t>{1}));
  EXPECT_EQ(checker.basis()[0], (std::vector<double>{0, 1, 0, 2}));
  EXPECT_FALSE(checker.add_row({0, 1, 0, 2}));
  EXPECT_TRUE(checker.add_row({1, 1, 0, 0}));
  EXPECT_EQ(checker.pivots(), (std::vector<std::uint64_t>{1, 0}));
  EXPECT_EQ(checker.basis()[1], (std::vector<double>{1, 0, 0, -2}));
  EXPECT_EQ(checker.basis()[0], (std::vector<double>{0, 1, 0, 2}));
  EXPECT_EQ(checker.rank(), 2u);
}

TEST(IncrementalRankChecker, RemainderBelowToleranceIsDependent) {
  IncrementalRankChecker loose = IncrementalRankChecker::make(2, 1e-9);
  EXPECT_TRUE(loose.add_row({1, 0}));
  EXPECT_FALSE(loose.add_row({1, 1e-10}));
  EXPECT_EQ(loose.rank(), 1u);

  IncrementalRankChecker tight = IncrementalRankChecker::make(2, 1e-11);
  EXPECT_TRUE(tight.add_row({1, 0}));
  EXPECT_TRUE(tight.add_row({1, 1e-10}));
  EXPECT_EQ(tight.pivots(), (std::vector<std::uint64_t>{0, 1}));
}

TEST(IncrementalRankChecker, RemainderEqualToToleranceCountsAsZero) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(2, 0.25);
  EXPECT_FALSE(checker.add_row({0.25, -0.25}));
  EXPECT_TRUE(checker.add_row({0.0, std::nextafter(0.25, 1.0)}));
  EXPECT_EQ(checker.pivots(), (std::vector<std::uint64_t>{1}));
}

TEST(IncrementalRankChecker, PivotIsFirstEntryAboveToleranceNotLargest) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(3, 1e-9);
  EXPECT_TRUE(checker.add_row({1e-10, 2.0, 100.0}));
  EXPECT_EQ(checker.pivots(), (std::vector<std::uint64_t>{1}));
  // Small entries are divided like the others, not forced to zero.
  EXPECT_EQ(bits(checker.basis()[0][0]), bits(1e-10 / 2.0));
  EXPECT_EQ(checker.basis()[0][2], 50.0);
}

TEST(IncrementalRankChecker, SmallPivotEntrySkipsBasisRowInReduction) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(2, 1e-9);
  EXPECT_TRUE(checker.add_row({1.0, 1.0}));
  // Entry 1e-10 in pivot column 0 is within the tolerance, so basis row 0 is not subtracted.
  EXPECT_TRUE(checker.add_row({1e-10, 3.0}));
  EXPECT_EQ(checker.pivots(), (std::vector<std::uint64_t>{0, 1}));
  EXPECT_EQ(bits(checker.basis()[1][0]), bits(1e-10 / 3.0));
  // Back-elimination: basis row 0 loses column 1 with the rounded product 1 * (1e-10 / 3).
  EXPECT_EQ(bits(checker.basis()[0][0]), bits(1.0 - 1e-10 / 3.0));
  EXPECT_EQ(bits(checker.basis()[0][1]), bits(0.0));
}

TEST(IncrementalRankChecker, ProductIsRoundedBeforeSubtraction) {
  // c * b = 1 + 2^-29 + 2^-60 rounds to 1 + 2^-29, so the remainder is exactly zero; a fused
  // multiply-add would leave -2^-60, above a tolerance of 0.
  const double c = 1.0 + std::ldexp(1.0, -30);
  IncrementalRankChecker checker = IncrementalRankChecker::make(2, 0.0);
  EXPECT_TRUE(checker.add_row({1.0, c}));
  EXPECT_FALSE(checker.add_row({c, 1.0 + std::ldexp(1.0, -29)}));
  EXPECT_EQ(checker.rank(), 1u);
}

TEST(IncrementalRankChecker, NaNToleranceMakesEveryRowDependent) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(3, kNaN);
  EXPECT_FALSE(checker.add_row({1, 0, 0}));
  EXPECT_FALSE(checker.add_row({0, 5, kInf}));
  EXPECT_EQ(checker.rank(), 0u);
}

TEST(IncrementalRankChecker, NaNEntryNeverCountsAsNonZero) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(3, 1e-9);
  EXPECT_FALSE(checker.add_row({kNaN, kNaN, 0.0}));
  EXPECT_TRUE(checker.add_row({kNaN, 0.0, 2.0}));
  EXPECT_EQ(checker.pivots(), (std::vector<std::uint64_t>{2}));
  EXPECT_TRUE(std::isnan(checker.basis()[0][0]));
}

TEST(IncrementalRankChecker, NegativeToleranceAcceptsAllZeroRowAsNaNs) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(3, -1.0);
  EXPECT_TRUE(checker.add_row({0.0, 0.0, 0.0}));
  EXPECT_EQ(checker.pivots(), (std::vector<std::uint64_t>{0}));
  for (double x : checker.basis()[0]) EXPECT_TRUE(std::isnan(x));
  EXPECT_EQ(checker.rank(), 1u);
}

TEST(IncrementalRankChecker, InfiniteEntriesFollowTheArithmetic) {
  cross_check(3, 1e-9, {{kInf, 1.0, 0.0}, {1.0, kInf, -kInf}, {2.0, 0.0, 1.0}});
  IncrementalRankChecker checker = IncrementalRankChecker::make(2, 1e-9);
  EXPECT_TRUE(checker.add_row({kInf, 1.0}));
  EXPECT_TRUE(std::isnan(checker.basis()[0][0]));  // inf / inf
  EXPECT_EQ(bits(checker.basis()[0][1]), bits(0.0));
}

TEST(IncrementalRankChecker, WrongRowLengthPanicsWithEqualityMessage) {
  IncrementalRankChecker checker = IncrementalRankChecker::make(6, 1e-9);
  try {
    checker.add_row(std::vector<double>(5, 1.0));
    FAIL() << "expected Panic";
  } catch (const Panic& e) {
    EXPECT_EQ(std::string(e.what()),
              "assertion `left == right` failed: Row length 5 does not match ncols 6\n"
              "  left: 5\n"
              " right: 6");
  }
  EXPECT_THROW(checker.add_row(std::vector<double>(7, 1.0)), Panic);
  EXPECT_EQ(checker.rank(), 0u);
  EXPECT_TRUE(checker.add_row(std::vector<double>(6, 1.0)));
}

TEST(IncrementalRankChecker, AnswersCountEqualsRankOnRandomRows) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> small(-2, 2);
  IncrementalRankChecker checker = IncrementalRankChecker::make(5, 1e-9);
  std::uint64_t accepted = 0;
  for (int r = 0; r < 40; ++r) {
    std::vector<double> row(5);
    for (double& x : row) x = small(rng);
    accepted += checker.add_row(row) ? 1 : 0;
    EXPECT_EQ(checker.rank(), accepted);
    EXPECT_EQ(checker.pivots().size(), accepted);
    EXPECT_EQ(checker.basis().size(), accepted);
  }
  EXPECT_EQ(accepted, 5u);
  // Reduced row-echelon form: each pivot column is a unit vector across the basis.
  for (std::size_t k = 0; k < checker.basis().size(); ++k) {
    for (std::size_t m = 0; m < checker.basis().size(); ++m) {
      const double entry = checker.basis()[m][checker.pivots()[k]];
      if (m == k) {
        EXPECT_EQ(entry, 1.0);
      } else {
        EXPECT_LE(std::fabs(entry), 1e-9);
      }
    }
  }
}

// Frameworks whose rigidity rows stress the elimination: grids, repeated and collinear points,
// and points pushed off a line by amounts around the tolerance.
NodeList random_framework(std::mt19937_64& rng, std::uint64_t n, std::uint64_t d, int kind) {
  std::uniform_int_distribution<int> grid(-3, 3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> pick(0, 3);
  NodeList nodes(n);
  for (std::uint64_t k = 0; k < n; ++k) {
    nodes[k].index = k;
    nodes[k].coords.resize(d);
    for (std::uint64_t c = 0; c < d; ++c) {
      switch (kind) {
        case 0:  // integer grid: many exact cancellations and exact zeros
          nodes[k].coords[c] = grid(rng);
          break;
        case 1:  // general position
          nodes[k].coords[c] = unit(rng);
          break;
        case 2:  // collinear along a direction, with some coincident points
          nodes[k].coords[c] = static_cast<double>(c + 1) * grid(rng);
          break;
        default: {  // on a line, a few perturbed near the tolerance
          const double base = static_cast<double>(k % 4) * (c == 0 ? 1.0 : 0.5);
          const double scale[] = {0.0, 5e-10, 1e-9, 3e-9};
          nodes[k].coords[c] = base + (c == 0 ? 0.0 : scale[pick(rng)] * unit(rng));
          break;
        }
      }
    }
  }
  // Copy some earlier points exactly, so that some bars join coincident nodes.
  for (std::uint64_t k = 1; k < n; ++k) {
    if (pick(rng) == 0) nodes[k].coords = nodes[rng() % k].coords;
  }
  return nodes;
}

TEST(IncrementalRankChecker, MatchesReferenceOnRandomFrameworks) {
  std::mt19937_64 rng(20240611);
  const double tolerances[] = {1e-9, 0.0, 1e-6, -1.0, kNaN};
  std::uint64_t tally[2] = {0, 0};
  for (int trial = 0; trial < 600; ++trial) {
    const std::uint64_t d = 2 + static_cast<std::uint64_t>(trial % 2);
    const std::uint64_t n = 2 + rng() % 12;
    const NodeList nodes = random_framework(rng, n, d, trial % 4);
    std::vector<std::vector<double>> rows;
    for (std::uint64_t i = 0; i < n; ++i) {
      for (std::uint64_t j = i + 1; j < n; ++j)
        rows.push_back(RigidityRow::make(nodes, i, j).values);
    }
    const double tol = trial % 10 < 6 ? 1e-9 : tolerances[trial % 5];
    SCOPED_TRACE("trial " + std::to_string(trial));
    ASSERT_NO_FATAL_FAILURE(cross_check(n * d, tol, rows, tally, kCompareModes[trial % 3]));
  }
  // Both answers occur often, so both branches were compared.
  EXPECT_GT(tally[0], 1000u);
  EXPECT_GT(tally[1], 1000u);
}

TEST(IncrementalRankChecker, MatchesReferenceOnRowsWithSpecialValues) {
  std::mt19937_64 rng(99);
  const double specials[] = {
      0.0,   -0.0,  1.0,   -1.0,   1e-9,
      -1e-9, 1e-10, 0.5,   3.0,    kInf,
      -kInf, kNaN,  1e300, 1e-300, std::numeric_limits<double>::denorm_min()};
  const double tolerances[] = {1e-9, 0.0, -0.0, -1e-9, kNaN, kInf, 1e-300};
  std::uint64_t tally[2] = {0, 0};
  for (int trial = 0; trial < 400; ++trial) {
    const std::uint64_t ncols = 1 + rng() % 6;
    const double tol = tolerances[trial % 7];
    std::vector<std::vector<double>> rows(1 + rng() % 10, std::vector<double>(ncols));
    for (auto& row : rows) {
      for (double& x : row) {
        // Mostly exact zeros of either sign, the rest drawn from awkward values.
        const std::uint64_t r = rng() % 10;
        x = r < 4 ? (r % 2 == 0 ? 0.0 : -0.0) : specials[rng() % std::size(specials)];
      }
    }
    SCOPED_TRACE("trial " + std::to_string(trial));
    ASSERT_NO_FATAL_FAILURE(cross_check(ncols, tol, rows, tally, kCompareModes[trial % 3]));
  }
  EXPECT_GT(tally[0], 300u);
  EXPECT_GT(tally[1], 300u);
}

// Long sequences: far more accepted rows than the checker's window of deferred updates, so that
// rows are brought up to date both when they are read and when the window is full, and rows of
// more than one column block. Candidate pairs in the simulation's order for the first trials,
// shuffled after that.
TEST(IncrementalRankChecker, MatchesReferenceOnLongFrameworkSequences) {
  std::mt19937_64 rng(31337);
  const double tolerances[] = {1e-9, 1e-9, 0.0, 1e-6};
  std::uint64_t tally[2] = {0, 0};
  std::uint64_t largest_rank = 0;
  for (int trial = 0; trial < 14; ++trial) {
    const std::uint64_t d = 2 + static_cast<std::uint64_t>(trial % 2);
    const std::uint64_t n = trial == 0 ? 140 : 40 + rng() % 25;
    const NodeList nodes = random_framework(rng, n, d, trial == 0 ? 1 : trial % 4);
    std::vector<std::vector<double>> rows;
    for (std::uint64_t i = 0; i < n; ++i) {
      for (std::uint64_t j = i + 1; j < n; ++j)
        rows.push_back(RigidityRow::make(nodes, i, j).values);
    }
    if (trial >= 2) std::shuffle(rows.begin(), rows.end(), rng);
    rows.resize(static_cast<std::size_t>(std::min<std::uint64_t>(rows.size(), 2 * n * d)));
    const double tol = tolerances[trial % 4];
    SCOPED_TRACE("trial " + std::to_string(trial));
    const std::uint64_t before = tally[0];
    const Compare when = trial == 0 ? Compare::kNowAndThen : kCompareModes[trial % 3];
    ASSERT_NO_FATAL_FAILURE(cross_check(n * d, tol, rows, tally, when));
    largest_rank = std::max(largest_rank, tally[0] - before);
  }
  EXPECT_GT(tally[0], 20 * IncrementalRankChecker::kWindow);
  EXPECT_GT(tally[1], 1000u);
  EXPECT_GT(largest_rank, 256u);  // the 140-node trial (280 columns, two column blocks)
}

TEST(IncrementalRankChecker, MatchesReferenceOnLongRowsWithSpecialValues) {
  std::mt19937_64 rng(2718);
  const double specials[] = {1.0,
                             -1.0,
                             0.5,
                             3.0,
                             -7.25,
                             1e-9,
                             1e-10,
                             kInf,
                             -kInf,
                             kNaN,
                             1e300,
                             1e-300,
                             std::numeric_limits<double>::denorm_min()};
  const double tolerances[] = {1e-9, 0.0, -0.0, -1e-9, -1.0, kNaN, 1e-300};
  std::uint64_t tally[2] = {0, 0};
  for (int trial = 0; trial < 42; ++trial) {
    const std::uint64_t ncols = 20 + rng() % 30;
    const double tol = tolerances[trial % 7];
    // Mostly plain values, with rare special ones so that rows stay finite for a while.
    const std::uint64_t special_one_in = trial % 2 == 0 ? 400 : 40;
    std::vector<std::vector<double>> rows(60 + rng() % 60, std::vector<double>(ncols));
    for (auto& row : rows) {
      for (double& x : row) {
        const std::uint64_t r = rng() % special_one_in;
        if (r == 0) {
          x = specials[rng() % std::size(specials)];
        } else if (r % 3 == 0) {
          x = r % 2 == 0 ? 0.0 : -0.0;
        } else {
          x = static_cast<double>(static_cast<int>(rng() % 9) - 4) / 4.0;
        }
      }
    }
    SCOPED_TRACE("trial " + std::to_string(trial));
    ASSERT_NO_FATAL_FAILURE(cross_check(ncols, tol, rows, tally, kCompareModes[trial % 3]));
  }
  EXPECT_GT(tally[0], 30 * IncrementalRankChecker::kWindow);
  EXPECT_GT(tally[1], 1000u);
}

// Reading the basis in between applies the deferred updates early; the answers and the final
// basis are those of a checker that was never read until the end.
TEST(IncrementalRankChecker, ReadingTheBasisEarlyChangesNothing) {
  std::mt19937_64 rng(5);
  const NodeList nodes = random_framework(rng, 60, 2, 1);
  IncrementalRankChecker read_often = IncrementalRankChecker::make(120, 1e-9);
  IncrementalRankChecker read_once = IncrementalRankChecker::make(120, 1e-9);
  for (std::uint64_t j = 1; j < 60; ++j) {
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(j, 3); ++i) {
      const std::vector<double> row = RigidityRow::make(nodes, i, j).values;
      ASSERT_EQ(read_often.add_row(row), read_once.add_row(row));
      if ((i + j) % 5 == 0) static_cast<void>(read_often.basis());
    }
  }
  ASSERT_EQ(read_often.pivots(), read_once.pivots());
  EXPECT_GT(read_once.rank(), 4 * IncrementalRankChecker::kWindow);
  const std::vector<std::vector<double>>& once = read_once.basis();
  const std::vector<std::vector<double>>& often = read_often.basis();
  ASSERT_EQ(once.size(), often.size());
  for (std::size_t k = 0; k < once.size(); ++k) {
    for (std::size_t t = 0; t < once[k].size(); ++t) {
      ASSERT_EQ(bits(often[k][t]), bits(once[k][t])) << "basis row " << k << ", column " << t;
    }
  }
}

}  // namespace
}  // namespace trussel
