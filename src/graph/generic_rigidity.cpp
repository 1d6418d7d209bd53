// Generic rigidity of a graph in the plane or in space: the rank of its rigidity matrix at
// generic positions, decided exactly.
#include "graph/generic_rigidity.hpp"

#include <array>
#include <cstddef>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "graph/elimination_order.hpp"
#include "graph/label_edges.hpp"
#include "graph/modular_rank.hpp"
#include "graph/rigid_components.hpp"

namespace trussel {
namespace {

// The rigidity row of edge (i, j) over the field: x_i - x_j in node i's columns, its negation in
// node j's (zero entries left out).
std::size_t modular_row(const std::vector<std::uint64_t>& x, std::uint64_t d, const Edge& edge,
                        std::uint32_t* cols, std::uint64_t* values) {
  std::size_t count = 0;
  for (std::uint64_t c = 0; c < d; ++c) {
    const std::uint64_t delta = modular::sub(x[edge.i * d + c], x[edge.j * d + c]);
    if (delta == 0) continue;
    cols[count] = static_cast<std::uint32_t>(edge.i * d + c);
    values[count++] = delta;
    cols[count] = static_cast<std::uint32_t>(edge.j * d + c);
    values[count++] = modular::sub(0, delta);
  }
  return count;
}

}  // namespace

GenericRigidity generic_rigidity_modular(std::uint64_t n, const std::vector<Edge>& edges,
                                         std::uint64_t d) {
  return generic_self_stress(n, edges, d).rigidity;
}

GenericSelfStress generic_self_stress(std::uint64_t n, const std::vector<Edge>& edges,
                                      std::uint64_t d) {
  const std::uint64_t ncols = checked_mul(n, d);
  const std::size_t count = edges.size();
  GenericSelfStress answer;
  GenericRigidity& result = answer.rigidity;
  result.max_rank = framework_max_rank(n, d);
  checked_bytes(count, 2);
  result.labels.assign(count, 0);
  result.redundant.assign(count, 0);

  std::uint64_t state = kGenericSeed;
  std::vector<std::uint64_t>& x = answer.positions;
  x.resize(checked_bytes(ncols, 8) / 8);
  for (std::uint64_t& value : x) value = modular::draw(state);
  answer.stress.assign(count, 0);

  ModularRankEliminator eliminator(ncols, column_priority(nested_dissection_order(n, edges), d));
  std::array<std::uint32_t, 6> cols{};
  std::array<std::uint64_t, 6> values{};
  for (std::size_t e = 0; e < count; ++e) {
    const std::size_t entries = modular_row(x, d, edges[e], cols.data(), values.data());
    result.labels[e] = eliminator.add_row(cols.data(), values.data(), entries) ? 1 : 0;
    poll_interrupt(8);
  }
  result.rank = eliminator.rank();
  if (result.rank == count) return answer;

  // A random combination of the dependent rows, written in the accepted rows, gives a self-stress
  // that is non-zero on every bar of every circuit (but with probability E / p).
  std::vector<std::uint64_t> target(static_cast<std::size_t>(ncols), 0);
  std::vector<std::size_t> basis;
  for (std::size_t e = 0; e < count; ++e) {
    if (result.labels[e] == 1) {
      basis.push_back(e);
      continue;
    }
    result.redundant[e] = 1;
    const std::uint64_t w = modular::draw(state);
    answer.stress[e] = w;
    const std::size_t entries = modular_row(x, d, edges[e], cols.data(), values.data());
    for (std::size_t t = 0; t < entries; ++t) {
      target[cols[t]] = modular::add(target[cols[t]], modular::mul(w, values[t]));
    }
  }
  const std::vector<std::uint64_t> b = eliminator.span_coefficients(std::move(target));
  // sum of w * dependent rows - sum of b * basis rows = 0.
  for (std::size_t k = 0; k < basis.size(); ++k) {
    if (b[k] != 0) result.redundant[basis[k]] = 1;
    answer.stress[basis[k]] = modular::sub(0, b[k]);
  }
  return answer;
}

GenericRigidity generic_rigidity(std::uint64_t n, const std::vector<Edge>& edges, std::uint64_t d) {
  if (d != 2) return generic_rigidity_modular(n, edges, d);
  RigidComponentsResult game = find_rigid_components(n, edges);
  GenericRigidity result;
  result.labels = std::move(game.independent);
  result.redundant = std::move(game.redundant);
  result.rank = game.rank;
  result.max_rank = framework_max_rank(n, d);
  return result;
}

}  // namespace trussel
