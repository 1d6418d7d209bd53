// Tests of the converged eigensolvers: spectral identities, the sign rule, hard spectra, limits.
// The dense path is compared with the Krylov one here, and checked from Python through mds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "embedding/top_eigenpairs.hpp"
#include "test_util.hpp"

namespace trussel {
namespace {

// Q diag(values) Q^T for a random orthogonal Q (the eigenvectors of a random symmetric matrix).
FloatMatrix with_spectrum(const std::vector<double>& values, std::uint64_t seed) {
  const std::uint64_t n = values.size();
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  FloatMatrix m(n, n);
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = i; j < n; ++j) m.at(i, j) = m.at(j, i) = entry(rng);
  }
  const FloatMatrix q = symmetric_eigen(m).vectors;
  FloatMatrix a(n, n);
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = i; j < n; ++j) {
      double sum = 0.0;
      for (std::uint64_t k = 0; k < n; ++k) sum += q.at(i, k) * values[k] * q.at(j, k);
      a.at(i, j) = a.at(j, i) = sum;
    }
  }
  return a;
}

// A V = V diag(values), V^T V = I, and every column's largest entry (first on ties) positive.
void expect_eigenpairs(const FloatMatrix& a, const std::vector<double>& values,
                       const FloatMatrix& v, double tolerance) {
  const std::uint64_t n = a.rows();
  for (std::uint64_t j = 0; j < v.cols(); ++j) {
    double largest = 0.0;
    double chosen = 0.0;
    for (std::uint64_t i = 0; i < n; ++i) {
      double av = 0.0;
      for (std::uint64_t k = 0; k < n; ++k) av += a.at(i, k) * v.at(k, j);
      EXPECT_NEAR(av, values[j] * v.at(i, j), tolerance);
      if (std::fabs(v.at(i, j)) > largest) largest = std::fabs(chosen = v.at(i, j));
    }
    EXPECT_GT(chosen, 0.0);
    for (std::uint64_t k = 0; k < v.cols(); ++k) {
      double dot = 0.0;
      for (std::uint64_t i = 0; i < n; ++i) dot += v.at(i, j) * v.at(i, k);
      EXPECT_NEAR(dot, j == k ? 1.0 : 0.0, 1e-13);
    }
  }
}

// Spectra a plain iteration gets wrong: a gap of 1e-10 between the second and third values,
// and negative values far larger in magnitude than the positive ones, which must not be taken.
TEST(TopEigenpairs, KrylovConvergesOnTinyGapsAndNegativeValues) {
  std::vector<double> values = {1.0,   0.9,  0.9 - 1e-10, 0.9 - 2e-10, -0.2,
                                -0.25, -0.3, -40.0,       -39.0};
  for (std::size_t k = values.size(); k < 150; ++k)
    values.push_back(-0.05 * static_cast<double>(k));
  const FloatMatrix a = with_spectrum(values, 2);
  for (const bool portable : {false, true}) {
    const TopEigenpairs top = top_eigenpairs(a, 3, {0, kEigenProductLimit, portable});
    EXPECT_GT(top.products, 1u);
    EXPECT_NEAR(top.values[0], 1.0, 1e-12);
    EXPECT_NEAR(top.values[1], 0.9, 1e-12);
    EXPECT_NEAR(top.values[2], 0.9 - 1e-10, 1e-12);
    expect_eigenpairs(a, top.values, top.vectors, 1e-10);
  }
  // The AVX2 and the portable product give the same bits; the dense path agrees closely.
  const TopEigenpairs fast = top_eigenpairs(a, 3, {0, kEigenProductLimit, false});
  const TopEigenpairs plain = top_eigenpairs(a, 3, {0, kEigenProductLimit, true});
  EXPECT_EQ(fast.vectors.values(), plain.vectors.values());
  EXPECT_EQ(fast.values, plain.values);
  const TopEigenpairs dense = top_eigenpairs(a, 2, {1000, kEigenProductLimit, false});
  EXPECT_EQ(dense.products, 0u);
  for (std::uint64_t i = 0; i < a.rows(); ++i)
    EXPECT_NEAR(dense.vectors.at(i, 0), fast.vectors.at(i, 0), 1e-12);
}

TEST(TopEigenpairs, LowRankAndZeroMatrices) {
  std::vector<double> values(100, 0.0);
  values[0] = 3.0;
  values[1] = 2.0;
  const FloatMatrix a = with_spectrum(values, 3);
  const TopEigenpairs top = top_eigenpairs(a, 2, {0, kEigenProductLimit, false});
  EXPECT_EQ(top.products, 2u);  // the second block completes the range
  expect_eigenpairs(a, top.values, top.vectors, 1e-13);
  const TopEigenpairs zero =
      top_eigenpairs(FloatMatrix(100, 100), 3, {0, kEigenProductLimit, false});
  EXPECT_EQ(zero.values, std::vector<double>(3, 0.0));
}

TEST(TopEigenpairs, RefusesBadCountsAndStopsAtTheProductLimit) {
  const FloatMatrix a = with_spectrum(std::vector<double>(80, 1.0), 4);
  EXPECT_THROW(top_eigenpairs(a, 0), Panic);
  EXPECT_THROW(top_eigenpairs(a, 7), Panic);
  EXPECT_THROW(top_eigenpairs(FloatMatrix(2, 2), 3), Panic);
  std::vector<double> values(120);
  for (std::size_t k = 0; k < values.size(); ++k) values[k] = 1.0 / (1.0 + static_cast<double>(k));
  EXPECT_PANIC(top_eigenpairs(with_spectrum(values, 5), 3, {0, 3, false}),
               "The eigensolver did not converge within 3 matrix products");
}

}  // namespace
}  // namespace trussel
