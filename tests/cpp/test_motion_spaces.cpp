// One-sided Jacobi SVD on matrices of known rank: A V = left, V orthogonal, left's columns
// orthogonal with norms the values, in decreasing order; and the size limit's message.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>

#include "common/errors.hpp"
#include "graph/motion_spaces.hpp"

namespace trussel {
namespace {

// An m x k matrix of rank `rank`: a product of random m x rank and rank x k factors.
FloatMatrix low_rank(std::uint64_t m, std::uint64_t k, std::uint64_t rank, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  FloatMatrix left(m, rank), right(rank, k), product(m, k);
  for (std::uint64_t i = 0; i < m; ++i) {
    for (std::uint64_t r = 0; r < rank; ++r) left.at(i, r) = uniform(rng);
  }
  for (std::uint64_t r = 0; r < rank; ++r) {
    for (std::uint64_t j = 0; j < k; ++j) right.at(r, j) = uniform(rng);
  }
  for (std::uint64_t i = 0; i < m; ++i) {
    for (std::uint64_t j = 0; j < k; ++j) {
      for (std::uint64_t r = 0; r < rank; ++r) product.at(i, j) += left.at(i, r) * right.at(r, j);
    }
  }
  return product;
}

TEST(OneSidedJacobiSvd, FactorsMatricesOfKnownRank) {
  for (const auto& [m, k, rank] :
       {std::array<std::uint64_t, 3>{12, 7, 7}, {7, 12, 5}, {20, 20, 3}, {5, 9, 0}, {1, 4, 1}}) {
    const FloatMatrix a = low_rank(m, k, rank, m * 100 + k);
    const JacobiSvd svd = one_sided_jacobi_svd(a);
    ASSERT_EQ(svd.values.size(), k);
    for (std::uint64_t j = 0; j < k; ++j) {
      if (j > 0) {
        EXPECT_GE(svd.values[j - 1], svd.values[j]);
      }
      if (j >= rank) {
        EXPECT_LT(svd.values[j], 1e-12) << m << " " << k << " " << j;
      } else {
        EXPECT_GT(svd.values[j], 1e-6);
      }
      for (std::uint64_t i = 0; i < m; ++i) {
        double product = 0.0;
        for (std::uint64_t t = 0; t < k; ++t) product += a.at(i, t) * svd.right.at(t, j);
        EXPECT_NEAR(product, svd.left.at(i, j), 1e-12);
      }
      for (std::uint64_t q = 0; q < k; ++q) {
        double vv = 0.0, uu = 0.0;
        for (std::uint64_t t = 0; t < k; ++t) vv += svd.right.at(t, j) * svd.right.at(t, q);
        for (std::uint64_t i = 0; i < m; ++i) uu += svd.left.at(i, j) * svd.left.at(i, q);
        EXPECT_NEAR(vv, j == q ? 1.0 : 0.0, 1e-13);
        const double expected = j == q ? svd.values[j] * svd.values[j] : 0.0;
        EXPECT_NEAR(uu, expected, 1e-12);
      }
    }
  }
}

TEST(MotionSpaceSize, RefusesDenseBasesBeyondTheLimit) {
  EXPECT_NO_THROW(check_motion_space_size("f", 500, 250, 2));
  try {
    check_motion_space_size("f", 10, 167, 3);
    FAIL() << "no ValueError";
  } catch (const ValueError& e) {
    EXPECT_STREQ(e.what(),
                 "f computes dense bases: at most 500 bars and n*d at most 500, got 10 bars "
                 "and n*d = 501");
  }
  EXPECT_THROW(check_motion_space_size("f", 501, 2, 2), ValueError);
  EXPECT_THROW(check_motion_space_size("f", 0, std::uint64_t{1} << 63, 3), ValueError);
}

}  // namespace
}  // namespace trussel
