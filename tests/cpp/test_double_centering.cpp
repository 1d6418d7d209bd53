// Tests of the Gram matrix by double centering.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "reconstruct/double_centering.hpp"

namespace trussel {
namespace {

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

FloatMatrix make_matrix(const std::vector<std::vector<double>>& rows) {
  FloatMatrix m(rows.size(), rows.empty() ? 0 : rows[0].size());
  for (std::uint64_t i = 0; i < m.rows(); ++i) {
    for (std::uint64_t j = 0; j < m.cols(); ++j) m.at(i, j) = rows[i][j];
  }
  return m;
}

std::vector<std::vector<double>> random_points(std::uint64_t n, std::uint64_t d,
                                               std::mt19937_64& rng) {
  std::uniform_real_distribution<double> coordinate(-5.0, 5.0);
  std::vector<std::vector<double>> points(n, std::vector<double>(d));
  for (auto& point : points) {
    for (double& x : point) x = coordinate(rng);
  }
  return points;
}

FloatMatrix distances_of(const std::vector<std::vector<double>>& points) {
  FloatMatrix dist(points.size(), points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (std::size_t j = 0; j < points.size(); ++j) {
      double sum = 0.0;
      for (std::size_t k = 0; k < points[i].size(); ++k) {
        const double diff = points[i][k] - points[j][k];
        sum += diff * diff;
      }
      dist.at(i, j) = std::sqrt(sum);
    }
  }
  return dist;
}

TEST(DoubleCenter, EmptyInputGivesEmptyMatrix) {
  const FloatMatrix gram = double_center(FloatMatrix(0, 0));
  EXPECT_EQ(gram.rows(), 0u);
  EXPECT_EQ(gram.cols(), 0u);
  EXPECT_TRUE(gram.values().empty());
}

TEST(DoubleCenter, SingleEntryGivesNegativeZero) {
  for (const double entry : {0.0, 7.0, -3.0, 1e-300, 1e150}) {
    const FloatMatrix gram = double_center(make_matrix({{entry}}));
    ASSERT_EQ(gram.rows(), 1u);
    EXPECT_EQ(bits(gram.at(0, 0)), bits(-0.0)) << entry;
  }
}

TEST(DoubleCenter, NonSymmetricInputTakesColumnTermFromRowMeans) {
  const FloatMatrix gram = double_center(make_matrix({{0, 1}, {3, 0}}));
  const double expected[2][2] = {{-0.75, 0.75}, {-3.25, 3.25}};
  for (std::uint64_t i = 0; i < 2; ++i) {
    for (std::uint64_t j = 0; j < 2; ++j) EXPECT_EQ(bits(gram.at(i, j)), bits(expected[i][j]));
  }
}

TEST(DoubleCenter, RightTriangleGivesCentredInnerProducts) {
  const FloatMatrix gram = double_center(make_matrix({{0, 3, 4}, {3, 0, 5}, {4, 5, 0}}));
  const double expected[3][3] = {{25.0 / 9, -2.0 / 9, -23.0 / 9},
                                 {-2.0 / 9, 52.0 / 9, -50.0 / 9},
                                 {-23.0 / 9, -50.0 / 9, 73.0 / 9}};
  for (std::uint64_t i = 0; i < 3; ++i) {
    for (std::uint64_t j = 0; j < 3; ++j) EXPECT_NEAR(gram.at(i, j), expected[i][j], 1e-13);
  }
}

TEST(DoubleCenter, EqualsGramMatrixOfCentredPoints) {
  std::mt19937_64 rng(11);
  for (const std::uint64_t d : {2u, 3u}) {
    for (const std::uint64_t n : {2u, 5u, 17u}) {
      auto points = random_points(n, d, rng);
      const FloatMatrix gram = double_center(distances_of(points));
      std::vector<double> centroid(d, 0.0);
      for (const auto& point : points) {
        for (std::uint64_t k = 0; k < d; ++k) centroid[k] += point[k] / static_cast<double>(n);
      }
      for (auto& point : points) {
        for (std::uint64_t k = 0; k < d; ++k) point[k] -= centroid[k];
      }
      for (std::uint64_t i = 0; i < n; ++i) {
        for (std::uint64_t j = 0; j < n; ++j) {
          double inner = 0.0;
          for (std::uint64_t k = 0; k < d; ++k) inner += points[i][k] * points[j][k];
          EXPECT_NEAR(gram.at(i, j), inner, 1e-11) << n << " " << i << " " << j;
        }
      }
    }
  }
}

TEST(DoubleCenter, SymmetricInputGivesZeroRowAndColumnSums) {
  std::mt19937_64 rng(12);
  const std::uint64_t n = 23;
  const FloatMatrix gram = double_center(distances_of(random_points(n, 3, rng)));
  for (std::uint64_t i = 0; i < n; ++i) {
    double row_sum = 0.0;
    double column_sum = 0.0;
    for (std::uint64_t j = 0; j < n; ++j) {
      row_sum += gram.at(i, j);
      column_sum += gram.at(j, i);
      EXPECT_NEAR(gram.at(i, j), gram.at(j, i), 1e-12);
    }
    EXPECT_NEAR(row_sum, 0.0, 1e-11);
    EXPECT_NEAR(column_sum, 0.0, 1e-11);
  }
}

TEST(DoubleCenter, ReaderFormMatchesOwnedMatrixBitForBit) {
  // The reader sees a column-major buffer of a symmetric matrix, as a Fortran-ordered or
  // transposed array would present it; each element must be read once, in row-major order.
  std::mt19937_64 rng(13);
  const std::uint64_t n = 9;
  const FloatMatrix dist = distances_of(random_points(n, 2, rng));
  std::vector<double> column_major(n * n);
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = 0; j < n; ++j) column_major[j * n + i] = dist.at(i, j);
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reads;
  const FloatMatrix from_reader = double_center(n, [&](std::uint64_t i, std::uint64_t j) {
    reads.emplace_back(i, j);
    return column_major[j * n + i];
  });
  const FloatMatrix from_matrix = double_center(dist);
  ASSERT_EQ(from_reader.rows(), n);
  for (std::size_t k = 0; k < from_matrix.values().size(); ++k) {
    EXPECT_EQ(bits(from_reader.values()[k]), bits(from_matrix.values()[k]));
  }
  ASSERT_EQ(reads.size(), n * n);
  for (std::size_t k = 0; k < reads.size(); ++k) {
    EXPECT_EQ(reads[k], std::make_pair(std::uint64_t{k / n}, std::uint64_t{k % n}));
  }
}

TEST(DoubleCenter, NegativeDistanceActsAsItsMagnitude) {
  const FloatMatrix plain = double_center(make_matrix({{0, 2, 3}, {2, 0, 4}, {3, 4, 0}}));
  const FloatMatrix signs = double_center(make_matrix({{-0.0, -2, 3}, {2, 0, -4}, {-3, 4, 0}}));
  for (std::size_t k = 0; k < plain.values().size(); ++k) {
    EXPECT_EQ(bits(plain.values()[k]), bits(signs.values()[k]));
  }
}

TEST(DoubleCenter, NanInOneRowSpreadsEverywhere) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const FloatMatrix gram = double_center(make_matrix({{0, 1, 2}, {1, 0, nan}, {2, 3, 0}}));
  for (const double value : gram.values()) EXPECT_TRUE(std::isnan(value));
}

}  // namespace
}  // namespace trussel
