// Dense orthonormal bases of the self-stresses and of the non-trivial infinitesimal motions of a
// framework, by one-sided Jacobi singular value decomposition.
#include "graph/motion_spaces.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <string>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "graph/label_edges.hpp"

namespace trussel {
namespace {

constexpr int kMaxSweeps = 60;

// Columns of a matrix stored one after another (column-major), for cheap column rotations.
std::vector<std::vector<double>> columns_of(const FloatMatrix& a) {
  std::vector<std::vector<double>> cols(a.cols(), std::vector<double>(a.rows()));
  for (std::uint64_t i = 0; i < a.rows(); ++i) {
    for (std::uint64_t j = 0; j < a.cols(); ++j) cols[j][i] = a.at(i, j);
  }
  return cols;
}

double dot(const std::vector<double>& x, const std::vector<double>& y) {
  double sum = 0.0;  // left to right
  for (std::size_t i = 0; i < x.size(); ++i) sum += x[i] * y[i];
  return sum;
}

// The m x d*n rigidity matrix: row e has x_i - x_j in node i's columns, the negation in j's.
FloatMatrix rigidity_matrix(const FloatMatrix& coords, const std::vector<Edge>& edges) {
  const std::uint64_t d = coords.cols();
  FloatMatrix r(edges.size(), coords.rows() * d);
  for (std::size_t e = 0; e < edges.size(); ++e) {
    for (std::uint64_t c = 0; c < d; ++c) {
      const double delta = coords.at(edges[e].i, c) - coords.at(edges[e].j, c);
      r.at(e, edges[e].i * d + c) = delta;
      r.at(e, edges[e].j * d + c) = -delta;
    }
  }
  return r;
}

// Rows = the given columns of `basis`, each with its entry of largest magnitude made positive.
FloatMatrix rows_from_columns(const FloatMatrix& basis, std::uint64_t first, std::uint64_t count) {
  FloatMatrix out(count, basis.rows());
  for (std::uint64_t k = 0; k < count; ++k) {
    std::uint64_t top = 0;
    for (std::uint64_t i = 0; i < basis.rows(); ++i) {
      if (std::fabs(basis.at(i, first + k)) > std::fabs(basis.at(top, first + k))) top = i;
    }
    const double sign = basis.rows() > 0 && basis.at(top, first + k) < 0.0 ? -1.0 : 1.0;
    for (std::uint64_t i = 0; i < basis.rows(); ++i) out.at(k, i) = sign * basis.at(i, first + k);
  }
  return out;
}

// Orthonormal columns spanning the trivial motions of the points: d translations and the
// rotations about the centroid in each coordinate plane, less those that vanish or depend on
// the others (singular value below 1e-9 of the largest).
FloatMatrix trivial_motions(const FloatMatrix& coords) {
  const std::uint64_t n = coords.rows(), d = coords.cols();
  std::vector<double> centre(d, 0.0);
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t c = 0; c < d; ++c) centre[c] += coords.at(i, c);
  }
  for (double& c : centre) c /= static_cast<double>(n);
  const std::uint64_t count = d + d * (d - 1) / 2;
  FloatMatrix motions(n * d, count);
  for (std::uint64_t c = 0; c < d; ++c) {
    for (std::uint64_t i = 0; i < n; ++i) motions.at(i * d + c, c) = 1.0;
  }
  std::uint64_t column = d;
  for (std::uint64_t a = 0; a < d; ++a) {
    for (std::uint64_t b = a + 1; b < d; ++b, ++column) {
      for (std::uint64_t i = 0; i < n; ++i) {
        motions.at(i * d + a, column) = -(coords.at(i, b) - centre[b]);
        motions.at(i * d + b, column) = coords.at(i, a) - centre[a];
      }
    }
  }
  const JacobiSvd svd = one_sided_jacobi_svd(motions);
  std::uint64_t kept = 0;
  while (kept < count && svd.values[kept] > 1e-9 * svd.values[0]) ++kept;
  FloatMatrix basis(n * d, kept);
  for (std::uint64_t j = 0; j < kept; ++j) {
    for (std::uint64_t i = 0; i < n * d; ++i) basis.at(i, j) = svd.left.at(i, j) / svd.values[j];
  }
  return basis;
}

}  // namespace

void check_motion_space_size(const char* name, std::uint64_t bars, std::uint64_t n,
                             std::uint64_t d) {
  const std::uint64_t nd = n > kMotionSpaceLimit ? kMotionSpaceLimit + 1 : n * d;
  if (bars > kMotionSpaceLimit || nd > kMotionSpaceLimit) {
    const std::string product = d != 0 && n > UINT64_MAX / d
                                    ? std::to_string(n) + "*" + std::to_string(d)
                                    : std::to_string(n * d);
    throw ValueError(std::string(name) + " computes dense bases: at most " +
                     std::to_string(kMotionSpaceLimit) + " bars and n*d at most " +
                     std::to_string(kMotionSpaceLimit) + ", got " + std::to_string(bars) +
                     " bars and n*d = " + product);
  }
}

JacobiSvd one_sided_jacobi_svd(const FloatMatrix& a) {
  const std::uint64_t m = a.rows(), k = a.cols();
  std::vector<std::vector<double>> cols = columns_of(a);
  std::vector<std::vector<double>> v(k, std::vector<double>(k, 0.0));
  for (std::uint64_t j = 0; j < k; ++j) v[j][j] = 1.0;
  // Columns shrunk to rounding level (null directions) are left alone: rotating them among
  // themselves only trades rounding errors, and would keep the sweeps going.
  double total = 0.0;
  for (const std::vector<double>& column : cols) total += dot(column, column);
  const double floor = 1e-28 * total;
  for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
    bool rotated = false;
    for (std::uint64_t p = 0; p + 1 < k; ++p) {
      for (std::uint64_t q = p + 1; q < k; ++q) {
        const double alpha = dot(cols[p], cols[p]), beta = dot(cols[q], cols[q]);
        const double gamma = dot(cols[p], cols[q]);
        if (alpha <= floor || beta <= floor) continue;
        if (gamma == 0.0 || std::fabs(gamma) <= 1e-15 * std::sqrt(alpha * beta)) continue;
        rotated = true;
        const double zeta = (beta - alpha) / (2.0 * gamma);
        const double t =
            (zeta >= 0.0 ? 1.0 : -1.0) / (std::fabs(zeta) + std::sqrt(1.0 + zeta * zeta));
        const double c = 1.0 / std::sqrt(1.0 + t * t), s = c * t;
        for (std::uint64_t i = 0; i < m; ++i) {
          const double x = cols[p][i], y = cols[q][i];
          cols[p][i] = c * x - s * y;
          cols[q][i] = s * x + c * y;
        }
        for (std::uint64_t i = 0; i < k; ++i) {
          const double x = v[p][i], y = v[q][i];
          v[p][i] = c * x - s * y;
          v[q][i] = s * x + c * y;
        }
        poll_interrupt(4 * (m + k));
      }
    }
    if (!rotated) break;
  }
  std::vector<double> norms(k);
  for (std::uint64_t j = 0; j < k; ++j) norms[j] = std::sqrt(dot(cols[j], cols[j]));
  std::vector<std::uint64_t> order(k);
  std::iota(order.begin(), order.end(), std::uint64_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint64_t x, std::uint64_t y) { return norms[x] > norms[y]; });
  JacobiSvd out{std::vector<double>(k), FloatMatrix(m, k), FloatMatrix(k, k)};
  for (std::uint64_t j = 0; j < k; ++j) {
    const std::uint64_t from = order[j];
    out.values[j] = norms[from];
    for (std::uint64_t i = 0; i < m; ++i) out.left.at(i, j) = cols[from][i];
    for (std::uint64_t i = 0; i < k; ++i) out.right.at(i, j) = v[from][i];
  }
  return out;
}

FloatMatrix self_stress_basis(const FloatMatrix& coords, const std::vector<Edge>& edges,
                              double tol) {
  const std::uint64_t rank = label_edges(coords, edges, tol, false).rank;
  const FloatMatrix r = rigidity_matrix(coords, edges);
  FloatMatrix transposed(r.cols(), r.rows());
  for (std::uint64_t i = 0; i < r.rows(); ++i) {
    for (std::uint64_t j = 0; j < r.cols(); ++j) transposed.at(j, i) = r.at(i, j);
  }
  const JacobiSvd svd = one_sided_jacobi_svd(transposed);
  return rows_from_columns(svd.right, rank, edges.size() - rank);
}

FloatMatrix flex_basis(const FloatMatrix& coords, const std::vector<Edge>& edges, double tol) {
  const std::uint64_t rank = label_edges(coords, edges, tol, false).rank;
  const std::uint64_t nd = coords.rows() * coords.cols();
  const JacobiSvd svd = one_sided_jacobi_svd(rigidity_matrix(coords, edges));
  const FloatMatrix trivial = trivial_motions(coords);
  const std::uint64_t nullity = nd - rank;
  const std::uint64_t k = nullity > trivial.cols() ? nullity - trivial.cols() : 0;
  // The null space, projected off the trivial motions (which it contains): k directions keep
  // length one, the others shrink to rounding; the k largest span the non-trivial flexes.
  FloatMatrix projected(nd, nullity);
  for (std::uint64_t j = 0; j < nullity; ++j) {
    std::vector<double> x(nd);
    for (std::uint64_t i = 0; i < nd; ++i) x[i] = svd.right.at(i, rank + j);
    for (std::uint64_t t = 0; t < trivial.cols(); ++t) {
      double along = 0.0;
      for (std::uint64_t i = 0; i < nd; ++i) along += trivial.at(i, t) * x[i];
      for (std::uint64_t i = 0; i < nd; ++i) x[i] -= along * trivial.at(i, t);
    }
    for (std::uint64_t i = 0; i < nd; ++i) projected.at(i, j) = x[i];
  }
  JacobiSvd flexes = one_sided_jacobi_svd(projected);
  for (std::uint64_t j = 0; j < k; ++j) {
    for (std::uint64_t i = 0; i < nd; ++i) flexes.left.at(i, j) /= flexes.values[j];
  }
  return rows_from_columns(flexes.left, 0, k);
}

}  // namespace trussel
