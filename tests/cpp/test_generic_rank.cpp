// Exact elimination over GF(2^61 - 1), the nested-dissection order, and the generic rank in the
// plane against the pebble game.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "graph/elimination_order.hpp"
#include "graph/generic_rigidity.hpp"
#include "graph/modular_rank.hpp"
#include "graph/rigid_components.hpp"

namespace trussel {
namespace {

using Matrix = std::vector<std::vector<std::uint64_t>>;

// The rank of dense rows by plain Gaussian elimination modulo p.
std::uint64_t dense_rank(Matrix rows, std::size_t ncols) {
  std::uint64_t rank = 0;
  for (std::size_t c = 0; c < ncols && rank < rows.size(); ++c) {
    std::size_t pivot = rank;
    while (pivot < rows.size() && rows[pivot][c] == 0) ++pivot;
    if (pivot == rows.size()) continue;
    std::swap(rows[pivot], rows[rank]);
    const std::uint64_t inverse = modular::inverse(rows[rank][c]);
    for (std::size_t r = rank + 1; r < rows.size(); ++r) {
      const std::uint64_t g = modular::mul(rows[r][c], inverse);
      for (std::size_t k = 0; k < ncols; ++k) {
        rows[r][k] = modular::sub(rows[r][k], modular::mul(g, rows[rank][k]));
      }
    }
    ++rank;
  }
  return rank;
}

TEST(Modular, ProductsAndInverses) {
  const std::uint64_t p = modular::kPrime;
  EXPECT_EQ(modular::mul(p - 1, p - 1), 1u);               // (-1)^2
  EXPECT_EQ(modular::mul(std::uint64_t{1} << 60, 2), 1u);  // 2^61 = 1
  std::uint64_t state = 1;
  for (int k = 0; k < 200; ++k) {
    const std::uint64_t a = modular::draw(state);
    ASSERT_LT(a, p);
    if (a != 0) {
      EXPECT_EQ(modular::mul(a, modular::inverse(a)), 1u);
    }
  }
}

TEST(ModularRankEliminator, LabelsAndSpanMatchDenseElimination) {
  std::mt19937_64 rng(5);
  for (int trial = 0; trial < 40; ++trial) {
    const std::size_t ncols = 3 + rng() % 10, nrows = 1 + rng() % 16;
    std::vector<std::uint64_t> priority(ncols);
    for (std::size_t c = 0; c < ncols; ++c) priority[c] = c;
    std::shuffle(priority.begin(), priority.end(), rng);
    ModularRankEliminator eliminator(ncols, priority);
    Matrix offered, accepted;
    for (std::size_t r = 0; r < nrows; ++r) {
      // Sparse rows, some of them combinations of earlier ones.
      std::vector<std::uint64_t> row(ncols, 0);
      if (r > 1 && rng() % 3 == 0) {
        for (std::size_t k = 0; k < ncols; ++k) {
          row[k] = modular::add(modular::mul(3, offered[r - 1][k]), offered[r - 2][k]);
        }
      } else {
        for (std::size_t k = 0; k < ncols; ++k) row[k] = rng() % 4 == 0 ? rng() % 7 : 0;
      }
      std::vector<std::uint32_t> cols;
      std::vector<std::uint64_t> values;
      for (std::size_t k = 0; k < ncols; ++k) {
        if (row[k] != 0) {
          cols.push_back(static_cast<std::uint32_t>(k));
          values.push_back(row[k]);
        }
      }
      const std::uint64_t before = dense_rank(offered, ncols);
      offered.push_back(row);
      const bool raises = dense_rank(offered, ncols) > before;
      ASSERT_EQ(eliminator.add_row(cols.data(), values.data(), cols.size()), raises);
      if (raises) accepted.push_back(row);
    }
    ASSERT_EQ(eliminator.rank(), accepted.size());
    // A combination of the offered rows is written back in the accepted ones.
    std::vector<std::uint64_t> target(ncols, 0);
    for (const auto& row : offered) {
      const std::uint64_t w = rng() % 1000;
      for (std::size_t k = 0; k < ncols; ++k) {
        target[k] = modular::add(target[k], modular::mul(w, row[k]));
      }
    }
    const std::vector<std::uint64_t> b = eliminator.span_coefficients(target);
    std::vector<std::uint64_t> sum(ncols, 0);
    for (std::size_t a = 0; a < accepted.size(); ++a) {
      for (std::size_t k = 0; k < ncols; ++k) {
        sum[k] = modular::add(sum[k], modular::mul(b[a], accepted[a][k]));
      }
    }
    EXPECT_EQ(sum, target);
  }
}

std::vector<Edge> random_edges(std::mt19937_64& rng, std::uint64_t n, std::size_t count) {
  std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
  std::vector<Edge> edges;
  while (edges.size() < count) {
    std::uint64_t i = rng() % n, j = rng() % n;
    if (i == j || !seen.insert({std::min(i, j), std::max(i, j)}).second) continue;
    edges.push_back({i, j});
  }
  return edges;
}

TEST(NestedDissection, IsAPermutationForAnyGraph) {
  std::mt19937_64 rng(9);
  for (std::uint64_t n : {0u, 1u, 5u, 40u, 300u}) {
    const std::vector<Edge> edges = n < 2 ? std::vector<Edge>{} : random_edges(rng, n, n);
    std::vector<std::uint32_t> position = nested_dissection_order(n, edges);
    std::sort(position.begin(), position.end());
    for (std::uint64_t v = 0; v < n; ++v) ASSERT_EQ(position[v], v);
  }
}

TEST(GenericRigidity, ModularRankInThePlaneIsThePebbleGame) {
  std::mt19937_64 rng(3);
  for (int trial = 0; trial < 20; ++trial) {
    const std::uint64_t n = 10 + rng() % 60;
    const std::vector<Edge> edges = random_edges(rng, n, n + rng() % (2 * n));
    const GenericRigidity modular = generic_rigidity_modular(n, edges, 2);
    const RigidComponentsResult game = find_rigid_components(n, edges);
    EXPECT_EQ(modular.labels, game.independent);
    EXPECT_EQ(modular.redundant, game.redundant);
    EXPECT_EQ(modular.rank, game.rank);
  }
}

}  // namespace
}  // namespace trussel
