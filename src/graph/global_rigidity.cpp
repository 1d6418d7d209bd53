// Generic global rigidity of a graph: vertex connectivity, redundant rigidity and the stress
// matrix of a random self-stress.
#include "graph/global_rigidity.hpp"

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "graph/elimination_order.hpp"
#include "graph/generic_rigidity.hpp"
#include "graph/label_edges.hpp"
#include "graph/modular_rank.hpp"
#include "graph/rigid_components.hpp"

namespace trussel {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// A simple undirected graph as compressed adjacency lists (each list sorted).
struct Graph {
  std::uint32_t n = 0;
  std::vector<std::size_t> start{0};
  std::vector<std::uint32_t> adj;
  std::uint32_t degree(std::uint32_t v) const {
    return static_cast<std::uint32_t>(start[v + 1] - start[v]);
  }
};

// The graph of n nodes with the given pairs (both orientations listed, no self-loops); repeated
// pairs are merged.
Graph make_graph(std::uint32_t n, std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs) {
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  Graph g;
  g.n = n;
  g.start.assign(static_cast<std::size_t>(n) + 1, 0);
  g.adj.reserve(pairs.size());
  for (const auto& [a, b] : pairs) {
    ++g.start[a + 1];
    g.adj.push_back(b);
  }
  for (std::uint32_t v = 0; v < n; ++v) g.start[v + 1] += g.start[v];
  poll_interrupt(pairs.size());
  return g;
}

enum class Biconnectivity { kDisconnected, kCutNode, kBiconnected };

// Whether the graph minus node `removed` (kNone: none) is connected and without a cut node, by
// one depth-first search with low points (iterative, so deep graphs do not overflow the stack).
Biconnectivity biconnectivity(const Graph& g, std::uint32_t removed) {
  const std::uint32_t root = removed == 0 ? 1 : 0;
  std::vector<std::uint32_t> order(g.n, kNone), low(g.n, 0);
  std::vector<std::pair<std::uint32_t, std::size_t>> stack;  // node, next adjacency position
  std::vector<std::uint32_t> parent(g.n, kNone);
  std::uint32_t visited = 0, root_children = 0;
  order[root] = low[root] = visited++;
  stack.emplace_back(root, g.start[root]);
  bool cut = false;
  while (!stack.empty()) {
    auto& [u, next] = stack.back();
    if (next < g.start[u + 1]) {
      const std::uint32_t w = g.adj[next++];
      if (w == removed) continue;
      if (order[w] == kNone) {
        parent[w] = u;
        if (u == root) ++root_children;
        order[w] = low[w] = visited++;
        stack.emplace_back(w, g.start[w]);
      } else if (w != parent[u]) {
        low[u] = std::min(low[u], order[w]);
      }
      continue;
    }
    const std::uint32_t child = u;
    poll_interrupt(g.degree(child) + 1);
    stack.pop_back();
    if (stack.empty()) break;
    const std::uint32_t p = stack.back().first;
    low[p] = std::min(low[p], low[child]);
    if (p != root && low[child] >= order[p]) cut = true;
  }
  const std::uint32_t present = removed == kNone ? g.n : g.n - 1;
  if (visited < present) return Biconnectivity::kDisconnected;
  if (cut || root_children > 1) return Biconnectivity::kCutNode;
  return Biconnectivity::kBiconnected;
}

// At least 4 nodes and no node whose removal leaves a cut node or a disconnected graph.
bool is_three_connected(const Graph& g) {
  if (g.n < 4) return false;
  for (std::uint32_t a = 0; a < g.n; ++a) {
    if (biconnectivity(g, a) != Biconnectivity::kBiconnected) return false;
  }
  return true;
}

// The subgraph of g induced by the closed neighbourhood of v, in its own numbering.
Graph closed_neighbourhood(const Graph& g, std::uint32_t v, std::vector<std::uint32_t>& local) {
  std::vector<std::uint32_t> members{v};
  for (std::size_t k = g.start[v]; k < g.start[v + 1]; ++k) members.push_back(g.adj[k]);
  for (std::uint32_t k = 0; k < members.size(); ++k) local[members[k]] = k;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
  for (const std::uint32_t u : members) {
    for (std::size_t k = g.start[u]; k < g.start[u + 1]; ++k) {
      if (local[g.adj[k]] != kNone) pairs.emplace_back(local[u], local[g.adj[k]]);
    }
  }
  for (const std::uint32_t u : members) local[u] = kNone;
  return make_graph(static_cast<std::uint32_t>(members.size()), pairs);
}

// What growing a 3-connected part proves.
enum class Growth { kThreeConnected, kSeparated, kUnknown };

// Whether some connected part of the nodes outside C (inside[v] == 0) has at most 2 neighbours
// in C: one breadth-first search per part, O(n + E).
bool part_outside_touches_two(const Graph& g, const std::vector<std::uint8_t>& inside) {
  std::vector<std::uint32_t> part(g.n, kNone), touched(g.n, kNone), queue;
  for (std::uint32_t start = 0; start < g.n; ++start) {
    if (inside[start] != 0 || part[start] != kNone) continue;
    std::uint32_t attachments = 0;
    part[start] = start;
    queue.assign(1, start);
    for (std::size_t head = 0; head < queue.size(); ++head) {
      const std::uint32_t u = queue[head];
      for (std::size_t k = g.start[u]; k < g.start[u + 1]; ++k) {
        const std::uint32_t w = g.adj[k];
        if (inside[w] != 0) {
          if (touched[w] != start) {
            touched[w] = start;
            ++attachments;
          }
        } else if (part[w] == kNone) {
          part[w] = start;
          queue.push_back(w);
        }
      }
      poll_interrupt(g.degree(u) + 1);
    }
    if (attachments <= 2) return true;
  }
  return false;
}

// Tries to prove g 3-connected by growing a set C whose induced subgraph stays 3-connected, from
// a node whose closed neighbourhood is 3-connected (a wheel in a triangulated mesh). A path
// p1 .. pk of nodes outside C, consecutive ones adjacent, the ends with at least 2 neighbours in
// C, the others with at least 1 and at least 3 neighbours in C among them all (k = 1: a node with
// 3) may join C: contracting the path bar by bar, the ends of every contracted bar keep degree 3
// or more, and the last contraction leaves a node with 3 neighbours in C, which keeps C
// 3-connected; and a graph is 3-connected when its contraction of a bar whose ends both have
// degree 3 or more is (a separating pair of it would leave one in the contraction). Paths are
// found by bounded breadth-first searches over the nodes next to C. Returns kThreeConnected when C
// grows to every node. When the search gives up, a part of the graph outside C that touches C in
// at most 2 nodes proves those nodes a separating set (C has more nodes than that): kSeparated.
// Otherwise kUnknown (the graph may still be 3-connected).
Growth grow_three_connected(const Graph& g) {
  constexpr std::uint32_t kSeedTries = 64, kMaxSeedDegree = 64, kSearchBudget = 64;
  std::vector<std::uint32_t> local(g.n, kNone);
  std::vector<std::uint32_t> by_degree(g.n);
  std::iota(by_degree.begin(), by_degree.end(), 0u);
  std::stable_sort(by_degree.begin(), by_degree.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return g.degree(a) > g.degree(b); });
  std::uint32_t seed = kNone;
  for (std::uint32_t k = 0; k < g.n && k < kSeedTries; ++k) {
    const std::uint32_t v = by_degree[k];
    if (g.degree(v) <= kMaxSeedDegree && is_three_connected(closed_neighbourhood(g, v, local))) {
      seed = v;
      break;
    }
  }
  if (seed == kNone) return Growth::kUnknown;

  std::vector<std::uint8_t> inside(g.n, 0);
  std::vector<std::uint32_t> count(g.n, 0);      // neighbours in C
  std::vector<std::uint32_t> ready, candidates;  // count reached 3; count reached 2
  std::uint64_t size = 0, live = 0;              // nodes in C; candidates outside C
  const auto join = [&](std::uint32_t v) {
    inside[v] = 1;
    ++size;
    if (count[v] >= 2) --live;
    for (std::size_t k = g.start[v]; k < g.start[v + 1]; ++k) {
      const std::uint32_t w = g.adj[k];
      if (inside[w] != 0) continue;
      if (++count[w] == 2) {
        candidates.push_back(w);
        ++live;
      } else if (count[w] == 3) {
        ready.push_back(w);
      }
    }
    poll_interrupt(g.degree(v) + 1);
  };
  // The seed's closed neighbourhood is 3-connected.
  join(seed);
  for (std::size_t k = g.start[seed]; k < g.start[seed + 1]; ++k) join(g.adj[k]);

  std::vector<std::uint32_t> visit(g.n, kNone), parent(g.n, kNone), queue, path, attached;
  std::uint32_t search = 0;
  std::size_t next = 0;
  std::uint64_t failures = 0, work = 0;
  const std::uint64_t work_limit = 64 * (std::uint64_t{g.n} + g.adj.size());
  while (size < g.n) {
    if (!ready.empty()) {
      const std::uint32_t v = ready.back();
      ready.pop_back();
      if (inside[v] == 0) join(v);
      continue;
    }
    if (live == 0 || failures > live || work > work_limit) {
      return part_outside_touches_two(g, inside) ? Growth::kSeparated : Growth::kUnknown;
    }
    const std::uint32_t s = candidates[next];
    next = (next + 1) % candidates.size();
    if (inside[s] != 0) continue;
    // Breadth-first from s over nodes outside C next to C, to another with 2 neighbours in C.
    ++search;
    queue.assign(1, s);
    visit[s] = search;
    parent[s] = kNone;
    bool found = false;
    for (std::size_t head = 0; head < queue.size() && head < kSearchBudget && !found; ++head) {
      const std::uint32_t u = queue[head];
      work += g.degree(u);
      for (std::size_t k = g.start[u]; k < g.start[u + 1] && !found; ++k) {
        const std::uint32_t w = g.adj[k];
        if (inside[w] != 0 || count[w] == 0 || visit[w] == search) continue;
        visit[w] = search;
        parent[w] = u;
        queue.push_back(w);
        if (count[w] < 2) continue;
        path.clear();
        for (std::uint32_t x = w; x != kNone; x = parent[x]) path.push_back(x);
        attached.clear();
        for (const std::uint32_t x : path) {
          for (std::size_t t = g.start[x]; t < g.start[x + 1] && attached.size() < 3; ++t) {
            const std::uint32_t y = g.adj[t];
            if (inside[y] != 0 &&
                std::find(attached.begin(), attached.end(), y) == attached.end()) {
              attached.push_back(y);
            }
          }
        }
        found = attached.size() >= 3;
      }
    }
    poll_interrupt(queue.size() * 8 + 1);
    if (!found) {
      ++failures;
      continue;
    }
    failures = 0;
    for (const std::uint32_t x : path) join(x);
  }
  return Growth::kThreeConnected;
}

}  // namespace

std::uint64_t vertex_connectivity(std::uint64_t n, const std::vector<Edge>& edges,
                                  std::uint64_t brute_force_limit) {
  if (n <= 1 || edges.size() < n - 1) return 0;  // too few bars to connect n nodes
  if (edges.size() == pair_count(n)) return std::min<std::uint64_t>(n - 1, 3);
  if (n >= kNone) panic("capacity overflow");
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
  pairs.reserve(checked_bytes(checked_mul(edges.size(), 2), 8) / 8);
  for (const Edge& e : edges) {
    pairs.emplace_back(static_cast<std::uint32_t>(e.i), static_cast<std::uint32_t>(e.j));
    pairs.emplace_back(static_cast<std::uint32_t>(e.j), static_cast<std::uint32_t>(e.i));
  }
  Graph g = make_graph(static_cast<std::uint32_t>(n), pairs);
  pairs = {};
  switch (biconnectivity(g, kNone)) {
    case Biconnectivity::kDisconnected:
      return 0;
    case Biconnectivity::kCutNode:
      return 1;
    case Biconnectivity::kBiconnected:
      break;
  }
  // Not complete, so the connectivity is at most the least degree.
  std::uint32_t least = kNone;
  for (std::uint32_t v = 0; v < g.n; ++v) least = std::min(least, g.degree(v));
  if (least <= 2) return 2;
  if (n > brute_force_limit) {
    switch (grow_three_connected(g)) {
      case Growth::kThreeConnected:
        return 3;
      case Growth::kSeparated:
        return 2;
      case Growth::kUnknown:
        break;
    }
  }
  return is_three_connected(g) ? 3 : 2;
}

std::uint64_t stress_matrix_rank(std::uint64_t n, const std::vector<Edge>& edges,
                                 const std::vector<std::uint64_t>& stress) {
  check_eq(stress.size(), edges.size(), "stress.len() == edges.len()");
  if (n >= kNone) panic("capacity overflow");
  std::vector<std::uint64_t> diagonal(checked_bytes(n, 8) / 8, 0);
  std::vector<std::size_t> start(static_cast<std::size_t>(n) + 1, 0);
  for (std::size_t e = 0; e < edges.size(); ++e) {
    if (stress[e] == 0) continue;
    ++start[edges[e].i + 1];
    ++start[edges[e].j + 1];
  }
  for (std::uint64_t v = 0; v < n; ++v) start[v + 1] += start[v];
  std::vector<std::size_t> fill(start.begin(), start.end() - 1);
  std::vector<std::uint32_t> cols(start[n]);
  std::vector<std::uint64_t> values(start[n]);
  for (std::size_t e = 0; e < edges.size(); ++e) {
    const std::uint64_t s = stress[e];
    if (s == 0) continue;
    const std::uint64_t i = edges[e].i, j = edges[e].j;
    diagonal[i] = modular::add(diagonal[i], s);
    diagonal[j] = modular::add(diagonal[j], s);
    cols[fill[i]] = static_cast<std::uint32_t>(j);
    values[fill[i]++] = modular::sub(0, s);
    cols[fill[j]] = static_cast<std::uint32_t>(i);
    values[fill[j]++] = modular::sub(0, s);
  }
  const std::vector<std::uint32_t> position = nested_dissection_order(n, edges);
  ModularRankEliminator eliminator(n, column_priority(position, 1));
  // Rows in elimination order, so each is reduced against few stored rows.
  std::vector<std::uint32_t> node_at(position.size());
  for (std::uint32_t v = 0; v < position.size(); ++v) node_at[position[v]] = v;
  std::vector<std::uint32_t> row_cols;
  std::vector<std::uint64_t> row_values;
  for (const std::uint32_t v : node_at) {
    row_cols.clear();
    row_values.clear();
    if (diagonal[v] != 0) {
      row_cols.push_back(v);
      row_values.push_back(diagonal[v]);
    }
    for (std::size_t k = start[v]; k < start[v + 1]; ++k) {
      row_cols.push_back(cols[k]);
      row_values.push_back(values[k]);
    }
    eliminator.add_row(row_cols.data(), row_values.data(), row_cols.size());
    poll_interrupt(row_cols.size() * 8 + 1);
  }
  return eliminator.rank();
}

GlobalRigidity global_rigidity(std::uint64_t n, const std::vector<Edge>& edges, std::uint64_t d,
                               GlobalRigidityMethod method) {
  GlobalRigidity result;
  result.max_rank = framework_max_rank(n, d);
  const bool by_connectivity = d == 2 && method == GlobalRigidityMethod::kAutomatic;
  std::vector<std::uint8_t> redundant;
  GenericSelfStress generic;
  if (by_connectivity) {
    RigidComponentsResult game = find_rigid_components(n, edges);
    result.rank = game.rank;
    redundant = std::move(game.redundant);
  } else {
    generic = generic_self_stress(n, edges, d);
    result.rank = generic.rigidity.rank;
    redundant = std::move(generic.rigidity.redundant);
  }
  result.is_rigid = result.rank == result.max_rank;
  result.is_redundantly_rigid =
      result.is_rigid &&
      std::all_of(redundant.begin(), redundant.end(), [](std::uint8_t r) { return r == 1; });
  if (d == 2) result.connectivity = vertex_connectivity(n, edges);
  if (n <= d + 1) {
    result.is_globally_rigid = edges.size() == pair_count(n);
  } else if (by_connectivity) {
    result.is_globally_rigid = result.connectivity == 3 && result.is_redundantly_rigid;
  } else if (result.is_redundantly_rigid) {
    // A globally rigid graph on d + 2 nodes or more is redundantly rigid, so only then can some
    // self-stress have a stress matrix of the largest rank n - d - 1.
    result.is_globally_rigid = stress_matrix_rank(n, edges, generic.stress) == n - d - 1;
  }
  return result;
}

}  // namespace trussel
