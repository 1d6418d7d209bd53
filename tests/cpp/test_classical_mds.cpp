// Tests of classical MDS reconstruction: worked examples, recovery of point sets, errors.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "reconstruct/classical_mds.hpp"
#include "reconstruct/double_centering.hpp"
#include "reconstruct/jacobi.hpp"

namespace trussel {
namespace {

using Points = std::vector<std::vector<double>>;

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

double distance(const double* a, const double* b, std::uint64_t d) {
  double sum = 0.0;
  for (std::uint64_t k = 0; k < d; ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
  return std::sqrt(sum);
}

FloatMatrix distances_of(const Points& points) {
  FloatMatrix dist(points.size(), points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (std::size_t j = 0; j < points.size(); ++j) {
      dist.at(i, j) = distance(points[i].data(), points[j].data(), points[i].size());
    }
  }
  return dist;
}

FloatMatrix make_matrix(const std::vector<std::vector<double>>& rows) {
  FloatMatrix m(rows.size(), rows.empty() ? 0 : rows[0].size());
  for (std::uint64_t i = 0; i < m.rows(); ++i) {
    for (std::uint64_t j = 0; j < m.cols(); ++j) m.at(i, j) = rows[i][j];
  }
  return m;
}

void expect_coords_near(const FloatMatrix& coords, const Points& expected, double tolerance) {
  ASSERT_EQ(coords.rows(), expected.size());
  for (std::uint64_t i = 0; i < coords.rows(); ++i) {
    ASSERT_EQ(coords.cols(), expected[i].size());
    for (std::uint64_t j = 0; j < coords.cols(); ++j) {
      EXPECT_NEAR(coords.at(i, j), expected[i][j], tolerance) << i << " " << j;
    }
  }
}

// The reconstructed points reproduce every input distance of the upper triangle.
void expect_distances_reproduced(const FloatMatrix& dist, const FloatMatrix& coords,
                                 double tolerance) {
  for (std::uint64_t i = 0; i < coords.rows(); ++i) {
    for (std::uint64_t j = i + 1; j < coords.rows(); ++j) {
      EXPECT_NEAR(distance(coords.row(i), coords.row(j), coords.cols()), dist.at(i, j), tolerance)
          << i << " " << j;
    }
  }
}

std::string panic_message(const FloatMatrix& dist, std::uint64_t d) {
  try {
    reconstruct_coords(dist, d);
  } catch (const Panic& e) {
    return e.what();
  }
  return "no panic";
}

TEST(ReconstructCoords, RightTriangle) {
  const FloatMatrix dist = distances_of({{0, 0}, {3, 0}, {0, 4}});
  const Reconstruction result = reconstruct_coords(dist, 2);
  ASSERT_EQ(result.eigenvalues.size(), 2u);
  EXPECT_NEAR(result.eigenvalues[0], 12.9641, 1e-4);
  EXPECT_NEAR(result.eigenvalues[1], 3.7025, 1e-4);
  EXPECT_NEAR(result.eigenvalues[0] + result.eigenvalues[1], 150.0 / 9, 1e-12);
  EXPECT_LT(result.stress, 1e-12);
  expect_coords_near(result.coords, {{-0.6581, 1.5312}, {-2.1523, -1.0702}, {2.8104, -0.4610}},
                     1e-4);
  expect_distances_reproduced(dist, result.coords, 1e-12);
}

TEST(ReconstructCoords, UnitSquareInTwoAndThreeDimensions) {
  const FloatMatrix dist = distances_of({{0, 0}, {1, 0}, {0, 1}, {1, 1}});
  const double h = std::sqrt(0.5);
  const Reconstruction planar = reconstruct_coords(dist, 2);
  EXPECT_NEAR(planar.eigenvalues[0], 1.0, 1e-12);
  EXPECT_NEAR(planar.eigenvalues[1], 1.0, 1e-12);
  EXPECT_LT(planar.stress, 1e-12);
  expect_coords_near(planar.coords, {{h, 0}, {0, h}, {0, -h}, {-h, 0}}, 1e-12);

  const Reconstruction spatial = reconstruct_coords(dist, 3);
  ASSERT_EQ(spatial.eigenvalues.size(), 3u);
  EXPECT_NEAR(spatial.eigenvalues[2], 0.0, 1e-12);
  expect_coords_near(spatial.coords, {{h, 0, 0}, {0, h, 0}, {0, -h, 0}, {-h, 0, 0}}, 1e-7);
  EXPECT_LT(spatial.stress, 1e-12);
}

TEST(ReconstructCoords, CollinearPoints) {
  const Reconstruction result =
      reconstruct_coords(distances_of({{0, 0}, {1, 0}, {2, 0}, {3, 0}}), 2);
  EXPECT_NEAR(result.eigenvalues[0], 5.0, 1e-12);
  EXPECT_NEAR(result.eigenvalues[1], 0.0, 1e-12);
  expect_coords_near(result.coords, {{1.5, 0}, {0.5, 0}, {-0.5, 0}, {-1.5, 0}}, 1e-7);
  EXPECT_LT(result.stress, 1e-12);
}

TEST(ReconstructCoords, AllZeroInputGivesZeroCoordinatesAndStress) {
  const Reconstruction result = reconstruct_coords(FloatMatrix(4, 4), 3);
  for (const double x : result.coords.values()) EXPECT_EQ(x, 0.0);
  for (const double lambda : result.eigenvalues) EXPECT_EQ(lambda, 0.0);
  EXPECT_EQ(bits(result.stress), bits(0.0));
}

TEST(ReconstructCoords, NanInUpperTriangleGivesNanStress) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  FloatMatrix dist = distances_of({{0, 0}, {1, 0}, {0, 1}, {1, 1}});
  dist.at(1, 3) = nan;
  const Reconstruction result = reconstruct_coords(dist, 2);
  EXPECT_TRUE(std::isnan(result.stress));
  // G is all NaN, so nothing is rotated: the eigenvalues are NaN and count as 0.0 in the
  // coordinates, which are then zero rather than NaN.
  for (const double lambda : result.eigenvalues) EXPECT_TRUE(std::isnan(lambda));
  for (const double x : result.coords.values()) EXPECT_EQ(x, 0.0);
}

TEST(ReconstructCoords, NegativeEigenvalueIsReportedButNotUsed) {
  // Not a Euclidean distance matrix: its Gram matrix has two negative eigenvalues.
  const FloatMatrix dist = make_matrix({{0, 1, 1, 3}, {1, 0, 3, 1}, {1, 3, 0, 5}, {3, 1, 5, 0}});
  const Reconstruction result = reconstruct_coords(dist, 3);
  EXPECT_NEAR(result.eigenvalues[2], -0.711102551, 1e-8);
  for (std::uint64_t i = 0; i < 4; ++i) EXPECT_EQ(result.coords.at(i, 2), 0.0) << i;
  EXPECT_GT(result.stress, 1e-3);
}

TEST(ReconstructCoords, EigenvaluesAreTheLeadingOnesOfTheGramMatrix) {
  const FloatMatrix dist = distances_of({{0, 0, 1}, {2, 0, 0}, {0, 3, 0}, {1, 1, 1}, {-1, 2, 0}});
  const EigenDecomposition eigen = jacobi_eigen(double_center(dist));
  const Reconstruction result = reconstruct_coords(dist, 3);
  for (std::size_t j = 0; j < 3; ++j) EXPECT_EQ(bits(result.eigenvalues[j]), bits(eigen.values[j]));
}

TEST(ReconstructCoords, StressUsesOnlyTheUpperTriangle) {
  std::mt19937_64 rng(31);
  std::uniform_real_distribution<double> noise(0.5, 2.0);
  FloatMatrix dist = distances_of({{0, 0}, {3, 1}, {1, 4}, {-2, 2}, {0, -3}});
  for (std::uint64_t i = 0; i < 5; ++i) {
    for (std::uint64_t j = 0; j < i; ++j) dist.at(i, j) *= noise(rng);  // lower triangle only
  }
  const Reconstruction result = reconstruct_coords(dist, 2);
  double num = 0.0;
  double den = 0.0;
  for (std::uint64_t i = 0; i < 5; ++i) {
    for (std::uint64_t j = i + 1; j < 5; ++j) {
      const double error = dist.at(i, j) - distance(result.coords.row(i), result.coords.row(j), 2);
      num += error * error;
      den += dist.at(i, j) * dist.at(i, j);
    }
  }
  EXPECT_NEAR(result.stress, std::sqrt(num / den), 1e-15);
  EXPECT_GT(result.stress, 1e-3);
}

TEST(ReconstructCoords, RecoversRandomPointSetsUpToRigidMotion) {
  std::mt19937_64 rng(32);
  std::uniform_real_distribution<double> coordinate(-10.0, 10.0);
  for (const std::uint64_t d : {2u, 3u}) {
    for (const std::uint64_t n : {d + 1, std::uint64_t{7}, std::uint64_t{12}}) {
      Points points(n, std::vector<double>(d));
      for (auto& point : points) {
        for (double& x : point) x = coordinate(rng);
      }
      const FloatMatrix dist = distances_of(points);
      ASSERT_LT(jacobi_eigen(double_center(dist)).rotations, kJacobiRotationLimit);
      const Reconstruction result = reconstruct_coords(dist, d);
      EXPECT_EQ(result.coords.rows(), n);
      EXPECT_EQ(result.coords.cols(), d);
      EXPECT_LT(result.stress, 1e-9) << d << " " << n;
      expect_distances_reproduced(dist, result.coords, 1e-8);
    }
  }
}

TEST(ReconstructCoords, RejectsUnsupportedDimension) {
  const FloatMatrix dist = distances_of({{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 2}});
  for (const std::uint64_t d : {0u, 1u, 4u}) {
    EXPECT_EQ(panic_message(dist, d), "Only d=2 and d=3 are supported") << d;
  }
  // The dimension is checked before the node count.
  EXPECT_EQ(panic_message(FloatMatrix(2, 2), 5), "Only d=2 and d=3 are supported");
}

TEST(ReconstructCoords, RejectsTooFewNodes) {
  const std::string message = "Need at least d+1 nodes to reconstruct in d dimensions";
  EXPECT_EQ(panic_message(FloatMatrix(3, 3), 3), message);
  EXPECT_EQ(panic_message(FloatMatrix(2, 2), 2), message);
  EXPECT_EQ(panic_message(FloatMatrix(0, 0), 2), message);
}

TEST(ReconstructCoords, RejectsNonSquareMatrixFirst) {
  try {
    reconstruct_coords(FloatMatrix(3, 4), 5);
    ADD_FAILURE() << "no error";
  } catch (const ValueError& e) {
    EXPECT_STREQ(e.what(), "distance_matrix must be square");
  }
}

}  // namespace
}  // namespace trussel
