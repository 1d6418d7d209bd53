// Tests of the Jacobi eigensolver: spectral properties, the tracked pivot against a full scan,
// the stopping rules and the order of the eigenpairs.
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

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Symmetric; `coarse` draws from few values (ties, zeros and, if `with_nan`, rare NaN) to stress
// the pivot's tie-breaking, otherwise uniform in [-1, 1].
FloatMatrix random_symmetric(std::uint64_t n, std::mt19937_64& rng, bool coarse, bool with_nan) {
  const double choices[] = {0.0, 1.0, -1.0, 2.0, -2.0, 0.5};
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  FloatMatrix m(n, n);
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = i; j < n; ++j) {
      m.at(i, j) = m.at(j, i) = !coarse                       ? entry(rng)
                                : with_nan && rng() % 25 == 0 ? kNan
                                                              : choices[rng() % 6];
    }
  }
  return m;
}

void expect_same_bits(const EigenDecomposition& a, const EigenDecomposition& b) {
  EXPECT_EQ(a.rotations, b.rotations);
  ASSERT_EQ(a.values.size(), b.values.size());
  for (std::size_t k = 0; k < a.values.size(); ++k) EXPECT_EQ(bits(a.values[k]), bits(b.values[k]));
  const std::vector<double>& va = a.vectors.values();
  const std::vector<double>& vb = b.vectors.values();
  ASSERT_EQ(va.size(), vb.size());
  for (std::size_t k = 0; k < va.size(); ++k) ASSERT_EQ(bits(va[k]), bits(vb[k])) << k;
}

TEST(JacobiEigen, DecomposesRandomSymmetricMatrices) {
  // A V = V Λ with V orthogonal and Λ descending; 40 x 40 stops at the rotation limit, where
  // V is still orthogonal and the eigenvalues still sum to the trace.
  std::mt19937_64 rng(22);
  for (const std::uint64_t n : {2u, 3u, 5u, 10u, 12u, 40u}) {
    const FloatMatrix m = random_symmetric(n, rng, false, false);
    const EigenDecomposition result = jacobi_eigen(m);
    const FloatMatrix& v = result.vectors;
    EXPECT_EQ(result.rotations == kJacobiRotationLimit, n == 40) << n;
    double trace = 0.0;
    double sum = 0.0;
    for (std::uint64_t i = 0; i < n; ++i) {
      trace += m.at(i, i);
      sum += result.values[i];
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
        if (n < 40) {
          EXPECT_NEAR(av, v.at(i, j) * result.values[j], 1e-10) << n;
        }
        EXPECT_NEAR(vtv, i == j ? 1.0 : 0.0, 1e-12) << n << " " << i << " " << j;
      }
    }
    EXPECT_NEAR(sum, trace, 1e-12);
  }
}

TEST(JacobiEigen, RowMaximaPivotMatchesFullScan) {
  std::mt19937_64 rng(23);
  const JacobiOptions full{kJacobiRotationLimit, PivotSearch::kFullScan};
  for (int round = 0; round < 128; ++round) {
    // Up to 80 x 80, so that some stop at the rotation limit.
    const std::uint64_t n = round < 120 ? 2 + static_cast<std::uint64_t>(round % 13) : 45 + round;
    const FloatMatrix m = random_symmetric(n, rng, round % 2 == 0, round % 3 == 0);
    expect_same_bits(jacobi_eigen(m), jacobi_eigen(m, full));
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
}

TEST(JacobiEigen, StopsStrictlyBelowTheThresholdAndSortsNanLast) {
  for (const double x : {1e-12, -1e-12, 0.99e-12}) {
    FloatMatrix m(2, 2);
    m.at(0, 0) = 1;
    m.at(1, 1) = 2;
    m.at(0, 1) = m.at(1, 0) = x;
    EXPECT_EQ(jacobi_eigen(m).rotations, std::fabs(x) < 1e-12 ? 0u : 1u) << x;
  }
  // A stable descending sort with NaN last in index order; V's columns follow their values.
  const double diagonal[] = {1, kNan, 3, kNan, -kInf, kInf, 2};
  FloatMatrix m(7, 7);
  for (std::uint64_t i = 0; i < 7; ++i) m.at(i, i) = diagonal[i];
  const EigenDecomposition result = jacobi_eigen(m);
  EXPECT_EQ(result.rotations, 0u);
  const std::uint64_t sources[] = {5, 2, 6, 0, 4, 1, 3};
  for (std::uint64_t j = 0; j < 7; ++j) {
    EXPECT_EQ(bits(result.values[j]), bits(diagonal[sources[j]])) << j;
    for (std::uint64_t i = 0; i < 7; ++i) {
      EXPECT_EQ(bits(result.vectors.at(i, j)), bits(i == sources[j] ? 1.0 : 0.0));
    }
  }
}

}  // namespace
}  // namespace trussel
