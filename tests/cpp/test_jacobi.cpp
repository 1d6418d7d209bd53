// Tests of the Jacobi eigensolver: edge cases, pivot choice, ordering and spectral properties.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "reconstruct/jacobi.hpp"

namespace trussel {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

FloatMatrix make_matrix(const std::vector<std::vector<double>>& rows) {
  FloatMatrix m(rows.size(), rows.size());
  for (std::uint64_t i = 0; i < m.rows(); ++i) {
    for (std::uint64_t j = 0; j < m.cols(); ++j) m.at(i, j) = rows[i][j];
  }
  return m;
}

FloatMatrix diagonal(const std::vector<double>& values) {
  FloatMatrix m(values.size(), values.size());
  for (std::uint64_t i = 0; i < m.rows(); ++i) m.at(i, i) = values[i];
  return m;
}

FloatMatrix random_symmetric(std::uint64_t n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  FloatMatrix m(n, n);
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = i; j < n; ++j) m.at(i, j) = m.at(j, i) = entry(rng);
  }
  return m;
}

// Symmetric, with many equal magnitudes, zeros and optionally NaN: stresses pivot tie-breaking.
FloatMatrix random_coarse(std::uint64_t n, std::mt19937_64& rng, bool with_nan) {
  const double choices[] = {0.0, 1.0, -1.0, 2.0, -2.0, 0.5, kNan};
  std::uniform_int_distribution<int> pick(0, with_nan ? 6 : 5);
  FloatMatrix m(n, n);
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = i; j < n; ++j) {
      const int k = pick(rng);
      // Keep NaN rare so that some rotations still happen.
      m.at(i, j) = m.at(j, i) = (k == 6 && pick(rng) > 1) ? 0.0 : choices[k];
    }
  }
  return m;
}

void expect_same_bits(const EigenDecomposition& a, const EigenDecomposition& b) {
  EXPECT_EQ(a.rotations, b.rotations);
  ASSERT_EQ(a.values.size(), b.values.size());
  for (std::size_t k = 0; k < a.values.size(); ++k) {
    EXPECT_EQ(bits(a.values[k]), bits(b.values[k])) << k;
  }
  ASSERT_EQ(a.vectors.values().size(), b.vectors.values().size());
  for (std::size_t k = 0; k < a.vectors.values().size(); ++k) {
    EXPECT_EQ(bits(a.vectors.values()[k]), bits(b.vectors.values()[k])) << k;
  }
}

// Column j of the eigenvector matrix is the unit vector e_k, bit for bit.
void expect_unit_column(const FloatMatrix& v, std::uint64_t j, std::uint64_t k) {
  for (std::uint64_t i = 0; i < v.rows(); ++i) {
    EXPECT_EQ(bits(v.at(i, j)), bits(i == k ? 1.0 : 0.0)) << "column " << j << " row " << i;
  }
}

EigenDecomposition one_rotation(const FloatMatrix& m, PivotSearch search) {
  return jacobi_eigen(m, JacobiOptions{1, search});
}

// After exactly one rotation in the plane (p, q), V is the identity outside rows and columns p, q.
void expect_rotated_plane(const FloatMatrix& m, std::uint64_t p, std::uint64_t q) {
  for (const PivotSearch search : {PivotSearch::kRowMaxima, PivotSearch::kFullScan}) {
    const EigenDecomposition result = one_rotation(m, search);
    ASSERT_EQ(result.rotations, 1u);
    const std::uint64_t n = m.rows();
    for (std::uint64_t j = 0; j < n; ++j) {
      std::vector<std::uint64_t> nonzero_rows;
      for (std::uint64_t i = 0; i < n; ++i) {
        if (result.vectors.at(i, j) != 0.0) nonzero_rows.push_back(i);
      }
      // A column of the rotated plane mixes exactly e_p and e_q; every other is a unit vector.
      const bool in_plane = nonzero_rows == std::vector<std::uint64_t>{p, q};
      const bool unit = nonzero_rows.size() == 1 && nonzero_rows[0] != p && nonzero_rows[0] != q;
      EXPECT_TRUE(in_plane || unit) << "column " << j;
    }
  }
}

TEST(JacobiEigen, EmptyAndSingleMatricesTakeNoRotation) {
  const EigenDecomposition empty = jacobi_eigen(FloatMatrix(0, 0));
  EXPECT_EQ(empty.rotations, 0u);
  EXPECT_TRUE(empty.values.empty());
  EXPECT_EQ(empty.vectors.rows(), 0u);
  for (const double x : {7.0, -0.0, kNan}) {
    const EigenDecomposition single = jacobi_eigen(diagonal({x}));
    EXPECT_EQ(single.rotations, 0u);
    ASSERT_EQ(single.values.size(), 1u);
    EXPECT_EQ(bits(single.values[0]), bits(x));
    expect_unit_column(single.vectors, 0, 0);
  }
}

TEST(JacobiEigen, DiagonalInputIsSortedWithoutRotation) {
  const EigenDecomposition result = jacobi_eigen(diagonal({3, 5, 5}));
  EXPECT_EQ(result.rotations, 0u);
  ASSERT_EQ(result.values.size(), 3u);
  EXPECT_EQ(bits(result.values[0]), bits(5.0));
  EXPECT_EQ(bits(result.values[1]), bits(5.0));
  EXPECT_EQ(bits(result.values[2]), bits(3.0));
  expect_unit_column(result.vectors, 0, 1);
  expect_unit_column(result.vectors, 1, 2);
  expect_unit_column(result.vectors, 2, 0);
}

TEST(JacobiEigen, EqualDiagonalUsesFixedAngle) {
  const EigenDecomposition result = jacobi_eigen(make_matrix({{2, 1}, {1, 2}}));
  EXPECT_EQ(result.rotations, 1u);
  EXPECT_NEAR(result.values[0], 3.0, 1e-15);
  EXPECT_NEAR(result.values[1], 1.0, 1e-15);
  const double s = std::sin(0.7853981633974483);
  const double c = std::cos(0.7853981633974483);
  EXPECT_EQ(bits(result.vectors.at(0, 0)), bits(s));
  EXPECT_EQ(bits(result.vectors.at(1, 0)), bits(c));
  EXPECT_EQ(bits(result.vectors.at(0, 1)), bits(c));
  EXPECT_EQ(bits(result.vectors.at(1, 1)), bits(-s));
}

TEST(JacobiEigen, EqualOffDiagonalsStartAtFirstPairAndConverge) {
  const FloatMatrix m = make_matrix({{1, 0.5, 0.5}, {0.5, 1, 0.5}, {0.5, 0.5, 1}});
  expect_rotated_plane(m, 0, 1);
  const EigenDecomposition result = jacobi_eigen(m);
  EXPECT_LT(result.rotations, kJacobiRotationLimit);
  EXPECT_NEAR(result.values[0], 2.0, 1e-12);
  EXPECT_NEAR(result.values[1], 0.5, 1e-12);
  EXPECT_NEAR(result.values[2], 0.5, 1e-12);
}

TEST(JacobiEigen, ThresholdIsStrictlyBelowOneTrillionth) {
  for (const double x : {1e-12, -1e-12}) {
    EXPECT_EQ(jacobi_eigen(make_matrix({{1, x}, {x, 2}})).rotations, 1u) << x;
  }
  const EigenDecomposition below = jacobi_eigen(make_matrix({{1, 0.99e-12}, {0.99e-12, 2}}));
  EXPECT_EQ(below.rotations, 0u);
  EXPECT_EQ(bits(below.values[0]), bits(2.0));
  EXPECT_EQ(bits(below.values[1]), bits(1.0));
  expect_unit_column(below.vectors, 0, 1);
  expect_unit_column(below.vectors, 1, 0);
}

TEST(JacobiEigen, StopsAfterExactlyTheRotationLimit) {
  std::mt19937_64 rng(21);
  const FloatMatrix m = random_symmetric(40, rng);
  const EigenDecomposition result = jacobi_eigen(m);
  EXPECT_EQ(result.rotations, kJacobiRotationLimit);
  double trace = 0.0;
  double sum = 0.0;
  for (std::uint64_t k = 0; k < 40; ++k) {
    trace += m.at(k, k);
    sum += result.values[k];
    if (k > 0) {
      EXPECT_GE(result.values[k - 1], result.values[k]);
    }
  }
  EXPECT_NEAR(sum, trace, 1e-12);
  // Stopping by the limit leaves V orthogonal all the same.
  for (std::uint64_t a = 0; a < 40; ++a) {
    for (std::uint64_t b = 0; b < 40; ++b) {
      double dot = 0.0;
      for (std::uint64_t i = 0; i < 40; ++i)
        dot += result.vectors.at(i, a) * result.vectors.at(i, b);
      EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-12);
    }
  }
}

TEST(JacobiEigen, TiedPivotIsLowestRowThenLowestColumn) {
  // Equal magnitudes in rows 1 and 2: row 1 wins, and within it column 2 before column 3.
  expect_rotated_plane(
      make_matrix(
          {{1, 0.25, 0, 0.25}, {0.25, 2, -0.5, 0.5}, {0, -0.5, 3, 0.5}, {0.25, 0.5, 0.5, 4}}),
      1, 2);
  // A tie between (0, 3) and (1, 2): the lower row wins even though its column is higher.
  expect_rotated_plane(
      make_matrix({{1, 0, 0, -0.5}, {0, 2, 0.5, 0}, {0, 0.5, 3, 0}, {-0.5, 0, 0, 4}}), 0, 3);
}

TEST(JacobiEigen, NanOffDiagonalIsNeverThePivot) {
  expect_rotated_plane(make_matrix({{1, kNan, 0}, {kNan, 2, 0.5}, {0, 0.5, 3}}), 1, 2);
  const EigenDecomposition all_nan =
      jacobi_eigen(make_matrix({{1, kNan, kNan}, {kNan, 2, kNan}, {kNan, kNan, 3}}));
  EXPECT_EQ(all_nan.rotations, 0u);
  EXPECT_EQ(bits(all_nan.values[0]), bits(3.0));
}

TEST(JacobiEigen, NanEigenvaluesGoLastInIndexOrder) {
  const EigenDecomposition result = jacobi_eigen(diagonal({1, kNan, 3, kNan, -kInf, kInf, 2}));
  EXPECT_EQ(result.rotations, 0u);
  const double expected[] = {kInf, 3, 2, 1, -kInf};
  for (std::size_t j = 0; j < 5; ++j) EXPECT_EQ(bits(result.values[j]), bits(expected[j]));
  EXPECT_TRUE(std::isnan(result.values[5]));
  EXPECT_TRUE(std::isnan(result.values[6]));
  const std::uint64_t sources[] = {5, 2, 6, 0, 4, 1, 3};
  for (std::uint64_t j = 0; j < 7; ++j) expect_unit_column(result.vectors, j, sources[j]);
}

TEST(JacobiEigen, NanOnPivotDiagonalIsDeterministic) {
  const FloatMatrix m =
      make_matrix({{kNan, 1, 0.5, 0}, {1, 2, 0.25, 0}, {0.5, 0.25, 3, 0.1}, {0, 0, 0.1, 4}});
  const EigenDecomposition first = jacobi_eigen(m);
  expect_same_bits(first, jacobi_eigen(m));
  expect_same_bits(first,
                   jacobi_eigen(m, JacobiOptions{kJacobiRotationLimit, PivotSearch::kFullScan}));
  EXPECT_TRUE(std::isnan(first.values.back()));
}

TEST(JacobiEigen, DecomposesRandomSymmetricMatrices) {
  std::mt19937_64 rng(22);
  for (const std::uint64_t n : {2u, 3u, 5u, 10u, 12u}) {
    const FloatMatrix m = random_symmetric(n, rng);
    const EigenDecomposition result = jacobi_eigen(m);
    EXPECT_LT(result.rotations, kJacobiRotationLimit) << n;
    const FloatMatrix& v = result.vectors;
    for (std::uint64_t i = 0; i < n; ++i) {
      for (std::uint64_t j = 0; j < n; ++j) {
        double av = 0.0;  // (M V)[i][j]
        double vtv = 0.0;
        for (std::uint64_t k = 0; k < n; ++k) {
          av += m.at(i, k) * v.at(k, j);
          vtv += v.at(k, i) * v.at(k, j);
        }
        EXPECT_NEAR(av, v.at(i, j) * result.values[j], 1e-10) << n << " " << i << " " << j;
        EXPECT_NEAR(vtv, i == j ? 1.0 : 0.0, 1e-12) << n << " " << i << " " << j;
      }
    }
    for (std::uint64_t j = 1; j < n; ++j) EXPECT_GE(result.values[j - 1], result.values[j]);
  }
}

TEST(JacobiEigen, RowMaximaPivotMatchesFullScan) {
  std::mt19937_64 rng(23);
  const JacobiOptions full{kJacobiRotationLimit, PivotSearch::kFullScan};
  for (int round = 0; round < 60; ++round) {
    const std::uint64_t n = 2 + static_cast<std::uint64_t>(round % 13);
    const FloatMatrix coarse = random_coarse(n, rng, round % 3 == 0);
    expect_same_bits(jacobi_eigen(coarse), jacobi_eigen(coarse, full));
    const FloatMatrix smooth = random_symmetric(n, rng);
    expect_same_bits(jacobi_eigen(smooth), jacobi_eigen(smooth, full));
  }
  // Gram matrices, as classical MDS hands them over: a few extreme points hold the maxima of
  // most rows, so rotations keep changing the tracked maxima themselves.
  std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
  for (const std::uint64_t n : {6u, 30u, 120u}) {
    std::vector<double> points(n * 3);
    for (double& x : points) x = coordinate(rng);
    FloatMatrix gram(n, n);
    for (std::uint64_t i = 0; i < n; ++i) {
      for (std::uint64_t j = 0; j < n; ++j) {
        for (std::uint64_t k = 0; k < 3; ++k)
          gram.at(i, j) += points[i * 3 + k] * points[j * 3 + k];
      }
    }
    expect_same_bits(jacobi_eigen(gram), jacobi_eigen(gram, full));
  }
  // Large enough to stop at the limit.
  for (const std::uint64_t n : {45u, 80u}) {
    const FloatMatrix coarse = random_coarse(n, rng, true);
    expect_same_bits(jacobi_eigen(coarse), jacobi_eigen(coarse, full));
    const FloatMatrix smooth = random_symmetric(n, rng);
    expect_same_bits(jacobi_eigen(smooth), jacobi_eigen(smooth, full));
  }
}

}  // namespace
}  // namespace trussel
