// Tests of the sparse Cholesky factorisation against dense elimination on the same matrices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "common/errors.hpp"
#include "graph/sparse_cholesky.hpp"
#include "test_util.hpp"

namespace trussel {
namespace {

using Dense = std::vector<std::vector<double>>;

// The lower triangle of `dense` (exact zeros left out) in compressed columns, rows in a
// scrambled order and the diagonal entry split in two, which the factorisation must sum.
SymmetricMatrix compress(const Dense& dense, std::mt19937_64& rng) {
  SymmetricMatrix a;
  a.n = dense.size();
  for (std::size_t j = 0; j < dense.size(); ++j) {
    std::vector<std::uint32_t> rows;
    for (std::size_t i = j; i < dense.size(); ++i) {
      if (dense[i][j] != 0.0) rows.push_back(static_cast<std::uint32_t>(i));
    }
    std::shuffle(rows.begin(), rows.end(), rng);
    for (const std::uint32_t i : rows) {
      a.row.push_back(i);
      a.value.push_back(i == j ? 0.25 * dense[i][j] : dense[i][j]);
    }
    a.row.push_back(static_cast<std::uint32_t>(j));
    a.value.push_back(0.75 * dense[j][j]);
    a.start.push_back(a.row.size());
  }
  return a;
}

// A symmetric matrix with off-diagonal entries where `linked(i, j)`, values in [-1, 1], made
// diagonally dominant so it is positive definite.
template <class Linked>
Dense diagonally_dominant(std::size_t n, std::mt19937_64& rng, Linked linked) {
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  Dense dense(n, std::vector<double>(n, 0.0));
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (linked(i, j)) dense[i][j] = dense[j][i] = value(rng);
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    double sum = 0.5;
    for (std::size_t j = 0; j < n; ++j) sum += std::fabs(dense[i][j]);
    dense[i][i] = sum;
  }
  return dense;
}

// The solution of dense x = b by dense Cholesky.
std::vector<double> dense_solve(Dense a, std::vector<double> b) {
  const std::size_t n = a.size();
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t p = 0; p < j; ++p) {
      for (std::size_t i = j; i < n; ++i) a[i][j] -= a[i][p] * a[j][p];
    }
    a[j][j] = std::sqrt(a[j][j]);
    for (std::size_t i = j + 1; i < n; ++i) a[i][j] /= a[j][j];
  }
  for (std::size_t j = 0; j < n; ++j) {
    b[j] /= a[j][j];
    for (std::size_t i = j + 1; i < n; ++i) b[i] -= a[i][j] * b[j];
  }
  for (std::size_t j = n; j-- > 0;) {
    for (std::size_t i = j + 1; i < n; ++i) b[j] -= a[i][j] * b[i];
    b[j] /= a[j][j];
  }
  return b;
}

std::vector<std::uint64_t> random_keys(std::size_t n, std::mt19937_64& rng) {
  std::vector<std::uint64_t> keys(n);
  std::iota(keys.begin(), keys.end(), 0);
  std::shuffle(keys.begin(), keys.end(), rng);
  return keys;
}

// Factors `dense` in a random order and checks the solution against dense elimination and the
// residual, and that a second factorisation, and one by the portable kernel, reproduce the bits.
void expect_solves(const Dense& dense, std::mt19937_64& rng) {
  const std::size_t n = dense.size();
  const SymmetricMatrix a = compress(dense, rng);
  SparseCholesky cholesky(a, random_keys(n, rng));
  ASSERT_TRUE(cholesky.factorize(a.value));
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<double> b(n);
  for (double& x : b) x = value(rng);
  const std::vector<double> x = cholesky.solve(b);
  const std::vector<double> expected = dense_solve(dense, b);
  double scale = 1.0;
  for (std::size_t i = 0; i < n; ++i) scale = std::max(scale, std::fabs(expected[i]));
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_NEAR(x[i], expected[i], 1e-10 * scale) << "entry " << i;
    double residual = -b[i];
    for (std::size_t j = 0; j < n; ++j) residual += dense[i][j] * x[j];
    EXPECT_NEAR(residual, 0.0, 1e-10 * scale) << "row " << i;
  }
  ASSERT_TRUE(cholesky.factorize(a.value));
  const std::vector<double> again = cholesky.solve(b);
  for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(bits(again[i]), bits(x[i]));
  // The same bits from the portable kernel as from the one this processor takes.
  cholesky.use_portable_kernel(true);
  ASSERT_TRUE(cholesky.factorize(a.value));
  const std::vector<double> portable = cholesky.solve(b);
  for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(bits(portable[i]), bits(x[i]));
  EXPECT_GE(cholesky.factor_entries(), n);
  EXPECT_LE(cholesky.factor_entries(), n * (n + 1) / 2);
}

TEST(SparseCholesky, SolvesLikeDenseCholeskyOnManyPatterns) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  expect_solves(diagonally_dominant(1, rng, [](auto, auto) { return false; }), rng);
  expect_solves(diagonally_dominant(9, rng, [](auto, auto) { return false; }), rng);  // diagonal
  expect_solves(diagonally_dominant(90, rng, [](auto, auto) { return true; }), rng);  // dense
  expect_solves(diagonally_dominant(60, rng, [](auto i, auto j) { return i == j + 1; }), rng);
  expect_solves(diagonally_dominant(120, rng, [](auto i, auto j) { return j == 0 || i == j + 1; }),
                rng);  // arrow
  for (const double p : {0.02, 0.08, 0.3}) {
    expect_solves(diagonally_dominant(150, rng, [&](auto, auto) { return unit(rng) < p; }), rng);
  }
  // Four disconnected blocks, one of them dense, interleaved.
  expect_solves(diagonally_dominant(160, rng,
                                    [&](auto i, auto j) {
                                      return i % 4 == j % 4 && (i % 4 == 3 || unit(rng) < 0.2);
                                    }),
                rng);
}

TEST(SparseCholesky, SolvesTheRegularisedNormalEquationsOfARigidityMatrix) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const std::uint64_t d : {2u, 3u}) {
    const std::uint64_t n = 40;
    FloatMatrix coords(n, d);
    for (std::uint64_t v = 0; v < n; ++v) {
      for (std::uint64_t c = 0; c < d; ++c) coords.at(v, c) = unit(rng);
    }
    std::vector<Edge> edges;
    for (std::uint64_t i = 0; i < n; ++i) {
      for (std::uint64_t j = i + 1; j < n; ++j) {
        if (unit(rng) < 0.15) edges.push_back({i, j});
      }
    }
    std::shuffle(edges.begin(), edges.end(), rng);
    const SymmetricMatrix a = rigidity_normal_matrix(coords, edges, 1e-3);
    Dense dense(n * d, std::vector<double>(n * d, 0.0));
    for (std::size_t k = 0; k < n * d; ++k) dense[k][k] = 1e-3;
    for (const Edge& e : edges) {
      std::vector<std::pair<std::size_t, double>> row;
      for (std::uint64_t c = 0; c < d; ++c) {
        row.push_back({e.i * d + c, coords.at(e.i, c) - coords.at(e.j, c)});
        row.push_back({e.j * d + c, coords.at(e.j, c) - coords.at(e.i, c)});
      }
      for (const auto& [r, x] : row) {
        for (const auto& [s, y] : row) dense[r][s] += x * y;
      }
    }
    for (std::size_t j = 0; j < n * d; ++j) {
      for (std::size_t t = a.start[j]; t < a.start[j + 1]; ++t) {
        EXPECT_GE(a.row[t], j);
        if (t > a.start[j]) {
          EXPECT_GT(a.row[t], a.row[t - 1]);
        }
        EXPECT_NEAR(a.value[t], dense[a.row[t]][j], 1e-14);
        dense[a.row[t]][j] = dense[j][a.row[t]] = 0.0;  // each entry given once
      }
    }
    for (const auto& row : dense) {
      for (const double x : row) EXPECT_EQ(x, 0.0);
    }
    SparseCholesky cholesky(a, random_keys(n * d, rng));
    EXPECT_TRUE(cholesky.factorize(a.value));
  }
}

TEST(SparseCholesky, ReportsANonPositivePivot) {
  std::mt19937_64 rng(3);
  // Indefinite, singular, and NaN: the factorisation fails and solving is refused.
  for (const Dense& dense : {Dense{{1.0, 2.0}, {2.0, 1.0}}, Dense{{1.0, 1.0}, {1.0, 1.0}},
                             Dense{{-1.0, 0.0}, {0.0, 1.0}}, Dense{{NAN, 0.0}, {0.0, 1.0}}}) {
    const SymmetricMatrix a = compress(dense, rng);
    SparseCholesky cholesky(a, {0, 1});
    EXPECT_FALSE(cholesky.factorize(a.value));
    EXPECT_PANIC(cholesky.solve({1.0, 1.0}), "solve needs a successful factorisation");
  }
  // A failure deep in a large supernode, after blocked updates: a Gram matrix of rank n - 1
  // less a small multiple of the identity has a negative eigenvalue.
  const std::size_t n = 70;
  Dense gram(n, std::vector<double>(n, 0.0));
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  Dense basis(n - 1, std::vector<double>(n));
  for (auto& row : basis) {
    for (double& x : row) x = value(rng);
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      for (std::size_t k = 0; k + 1 < n; ++k) gram[i][j] += basis[k][i] * basis[k][j];
    }
    gram[i][i] -= 1e-3;
  }
  const SymmetricMatrix a = compress(gram, rng);
  SparseCholesky cholesky(a, random_keys(n, rng));
  EXPECT_FALSE(cholesky.factorize(a.value));
}

TEST(SparseCholesky, RefusesMalformedInput) {
  SymmetricMatrix a;
  a.n = 2;
  a.start = {0, 1, 2};
  a.row = {1, 0};  // row 0 of column 1 lies above the diagonal
  a.value = {1.0, 1.0};
  EXPECT_PANIC(SparseCholesky(a, {0, 1}), "the entries must lie in the lower triangle");
  a.row = {0, 1};
  EXPECT_PANIC(SparseCholesky(a, {0}), "priority must hold one key per column");
  SparseCholesky cholesky(a, {1, 0});
  EXPECT_PANIC(cholesky.factorize({1.0}), "value must hold one entry per pattern entry");
  ASSERT_TRUE(cholesky.factorize({4.0, 9.0}));
  EXPECT_PANIC(cholesky.solve({1.0}), "b must hold one entry per column");
  const std::vector<double> x = cholesky.solve({2.0, 3.0});
  EXPECT_EQ(x, (std::vector<double>{0.5, 1.0 / 3.0}));
}

}  // namespace
}  // namespace trussel
