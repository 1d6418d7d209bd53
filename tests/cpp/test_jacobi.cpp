// Tests of the Jacobi eigensolver: A V = V Λ with V orthogonal, and the tracked pivot against a
// full scan, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "reconstruct/jacobi.hpp"
#include "test_util.hpp"

namespace trussel {
namespace {

TEST(JacobiEigen, DecomposesSymmetricMatricesWithEitherPivotSearch) {
  // Smooth random matrices; coarse ones drawn from a few values (ties, zeros, sometimes NaN) that
  // stress the pivot's tie-breaking; and Gram matrices of points, as classical MDS hands them
  // over, where a few extreme points hold the maxima of most rows. Sizes up to 120, where the
  // rotation limit stops the solver.
  std::mt19937_64 rng(23);
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  const double coarse[] = {0, 1, -1, 2, -2, 0.5, std::numeric_limits<double>::quiet_NaN()};
  const JacobiOptions full_scan{kJacobiRotationLimit, PivotSearch::kFullScan};
  for (int round = 0; round < 135; ++round) {
    const std::uint64_t n =
        round < 120 ? 2 + static_cast<std::uint64_t>(round % 13) : 8 * round - 960;
    const int kind = round % 3;
    std::vector<double> points(3 * n);
    for (double& x : points) x = entry(rng);
    FloatMatrix m(n, n);
    for (std::uint64_t i = 0; i < n; ++i) {
      for (std::uint64_t j = i; j < n; ++j) {
        const double gram = points[3 * i] * points[3 * j] + points[3 * i + 1] * points[3 * j + 1] +
                            points[3 * i + 2] * points[3 * j + 2];
        const double values[] = {entry(rng), coarse[rng() % (round % 6 == 1 ? 7 : 6)], gram};
        m.at(i, j) = m.at(j, i) = values[kind];
      }
    }
    const EigenDecomposition result = jacobi_eigen(m);
    const EigenDecomposition reference = jacobi_eigen(m, full_scan);
    EXPECT_EQ(result.rotations, reference.rotations);
    for (std::size_t k = 0; k < n; ++k)
      ASSERT_EQ(bits(result.values[k]), bits(reference.values[k]));
    for (std::size_t k = 0; k < n * n; ++k) {
      ASSERT_EQ(bits(result.vectors.values()[k]), bits(reference.vectors.values()[k])) << round;
    }
    if (kind != 0) continue;
    const FloatMatrix& v = result.vectors;
    for (std::uint64_t i = 0; i < n; ++i) {
      if (i > 0) {
        EXPECT_GE(result.values[i - 1], result.values[i]);
      }
      for (std::uint64_t j = 0; j < n; ++j) {
        double av = 0.0;
        double vtv = 0.0;
        for (std::uint64_t k = 0; k < n; ++k) {
          av += m.at(i, k) * v.at(k, j);
          vtv += v.at(k, i) * v.at(k, j);
        }
        EXPECT_NEAR(vtv, i == j ? 1.0 : 0.0, 1e-12);
        if (result.rotations < kJacobiRotationLimit) {
          EXPECT_NEAR(av, v.at(i, j) * result.values[j], 1e-10);
        }
      }
    }
  }
}

}  // namespace
}  // namespace trussel
