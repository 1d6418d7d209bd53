// Vertex connectivity against removing every pair of nodes, and generic global rigidity on the
// classic graphs and against the stress-matrix test in the plane.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "graph/global_rigidity.hpp"

namespace trussel {
namespace {

// Whether the graph minus the nodes with gone[v] is connected (no nodes left counts as connected).
bool connected_without(std::uint64_t n, const std::vector<Edge>& edges,
                       const std::vector<bool>& gone) {
  std::vector<std::uint64_t> parent(n);
  for (std::uint64_t v = 0; v < n; ++v) parent[v] = v;
  auto find = [&](std::uint64_t v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
  };
  for (const Edge& e : edges) {
    if (!gone[e.i] && !gone[e.j]) parent[find(e.i)] = find(e.j);
  }
  std::uint64_t roots = 0;
  for (std::uint64_t v = 0; v < n; ++v) roots += !gone[v] && find(v) == v ? 1 : 0;
  return roots <= 1;
}

// The connectivity capped at 3, by removing every set of at most two nodes.
std::uint64_t brute_connectivity(std::uint64_t n, const std::vector<Edge>& edges) {
  if (n <= 1) return 0;
  if (edges.size() == n * (n - 1) / 2) return std::min<std::uint64_t>(n - 1, 3);
  std::vector<bool> gone(n, false);
  if (!connected_without(n, edges, gone)) return 0;
  for (std::uint64_t a = 0; a < n; ++a) {
    gone[a] = true;
    if (!connected_without(n, edges, gone)) return 1;
    gone[a] = false;
  }
  for (std::uint64_t a = 0; a < n; ++a) {
    for (std::uint64_t b = a + 1; b < n; ++b) {
      gone[a] = gone[b] = true;
      if (!connected_without(n, edges, gone)) return 2;
      gone[a] = gone[b] = false;
    }
  }
  return 3;
}

std::vector<Edge> random_graph(std::uint64_t n, double density, std::mt19937_64& rng) {
  std::vector<Edge> edges;
  std::uniform_real_distribution<double> coin(0.0, 1.0);
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = i + 1; j < n; ++j) {
      if (coin(rng) < density) edges.push_back({i, j});
    }
  }
  std::shuffle(edges.begin(), edges.end(), rng);
  return edges;
}

std::vector<Edge> complete_graph(std::uint64_t n) {
  std::vector<Edge> edges;
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t j = i + 1; j < n; ++j) edges.push_back({i, j});
  }
  return edges;
}

// Hub 0 joined to a rim cycle 1 .. k.
std::vector<Edge> wheel(std::uint64_t k) {
  std::vector<Edge> edges;
  for (std::uint64_t r = 1; r <= k; ++r) {
    edges.push_back({0, r});
    edges.push_back({r, r % k + 1});
  }
  return edges;
}

// The triangular lattice of side x side sites (bonds right, up and up-left); nodes 0 and
// side^2 - 1 are its corners of degree 2.
std::vector<Edge> lattice(std::uint64_t side) {
  std::vector<Edge> edges;
  for (std::uint64_t r = 0; r < side; ++r) {
    for (std::uint64_t c = 0; c < side; ++c) {
      const std::uint64_t v = r * side + c;
      if (c + 1 < side) edges.push_back({v, v + 1});
      if (r + 1 < side) edges.push_back({v, v + side});
      if (r + 1 < side && c > 0) edges.push_back({v, v + side - 1});
    }
  }
  return edges;
}

TEST(VertexConnectivity, EqualsRemovingEveryPairOfNodes) {
  std::mt19937_64 rng(11);
  std::vector<int> seen(4, 0);
  for (int trial = 0; trial < 1500; ++trial) {
    const std::uint64_t n = 1 + rng() % 12;
    const double density = 0.2 + 0.7 * static_cast<double>(rng() % 100) / 100.0;
    const std::vector<Edge> edges = random_graph(n, density, rng);
    const std::uint64_t expected = brute_connectivity(n, edges);
    // Limit 4 makes every 2-connected graph of minimum degree 3 try the growth first.
    EXPECT_EQ(vertex_connectivity(n, edges, 4), expected) << "trial " << trial;
    EXPECT_EQ(vertex_connectivity(n, edges), expected) << "trial " << trial;
    ++seen[expected];
  }
  for (std::uint64_t k = 0; k < 4; ++k) EXPECT_GT(seen[k], 100) << k;
}

TEST(VertexConnectivity, BlobsJoinedThroughFewNodes) {
  // Two wheels with random chords joined through 2 or 3 hub nodes, sometimes also by a direct
  // bar: the growth takes one wheel and stops at the hubs, where a part touching the grown one
  // in 2 nodes proves connectivity 2; 3 hubs or a direct bar leave it to the exhaustive test.
  std::mt19937_64 rng(12);
  std::vector<int> seen(4, 0);
  const auto chorded_wheel = [&](std::uint64_t nodes, double density, std::uint64_t offset,
                                 std::vector<Edge>& edges) {
    for (const Edge& e : wheel(nodes - 1)) edges.push_back({e.i + offset, e.j + offset});
    for (const Edge& e : random_graph(nodes, density, rng)) {
      if (e.i != 0) edges.push_back({e.i + offset, e.j + offset});
    }
  };
  for (int trial = 0; trial < 400; ++trial) {
    const std::uint64_t a = 5 + rng() % 6, b = 5 + rng() % 6, hubs = 2 + rng() % 2;
    const double density = 0.4 * static_cast<double>(rng() % 100) / 100.0;
    std::vector<Edge> edges;
    chorded_wheel(a, density, 0, edges);
    chorded_wheel(b, density, a, edges);
    for (std::uint64_t h = 0; h < hubs; ++h) {
      for (std::uint64_t k = 0; k < 3; ++k) {
        edges.push_back({a + b + h, (h + 2 * k) % a});
        edges.push_back({a + b + h, a + (h + 2 * k) % b});
      }
    }
    if (rng() % 4 == 0) edges.push_back({a - 1, a + b - 1});
    for (Edge& e : edges) {
      if (e.i > e.j) std::swap(e.i, e.j);
    }
    std::sort(edges.begin(), edges.end(),
              [](const Edge& x, const Edge& y) { return x.i != y.i ? x.i < y.i : x.j < y.j; });
    edges.erase(std::unique(edges.begin(), edges.end(),
                            [](const Edge& x, const Edge& y) { return x.i == y.i && x.j == y.j; }),
                edges.end());
    const std::uint64_t n = a + b + hubs;
    const std::uint64_t expected = brute_connectivity(n, edges);
    EXPECT_EQ(vertex_connectivity(n, edges, 4), expected) << "trial " << trial;
    ++seen[expected];
  }
  EXPECT_GT(seen[2], 50);
  EXPECT_GT(seen[3], 20);
}

TEST(VertexConnectivity, LatticesThroughGrowth) {
  // The triangular lattice has two corners of degree 2; braced (each corner joined to the
  // node across its triangle pair) it is 3-connected.
  std::vector<Edge> edges = lattice(30);
  EXPECT_EQ(vertex_connectivity(900, edges, 16), 2u);
  edges.push_back({0, 31});
  edges.push_back({868, 899});
  EXPECT_EQ(vertex_connectivity(900, edges, 16), 3u);
  EXPECT_EQ(vertex_connectivity(900, edges, 1000), 3u);
  // Two braced lattices glued along two nodes only: separated by that pair.
  std::vector<Edge> glued = edges;
  for (const Edge& e : edges) glued.push_back({e.i + 900, e.j + 900});
  glued.push_back({0, 900});
  glued.push_back({1, 900});
  glued.push_back({0, 901});
  glued.push_back({1, 901});
  glued.push_back({0, 1});
  // Nodes 0 and 1 reach the second copy through 900 and 901 only: {900, 901} separates.
  EXPECT_EQ(vertex_connectivity(1800, glued, 16), 2u);
}

TEST(GlobalRigidity, ClassicGraphsInThePlane) {
  const auto plane = [](std::uint64_t n, const std::vector<Edge>& edges) {
    return global_rigidity(n, edges, 2);
  };
  EXPECT_TRUE(plane(1, {}).is_globally_rigid);
  EXPECT_TRUE(plane(2, {{0, 1}}).is_globally_rigid);
  EXPECT_FALSE(plane(2, {{0, 1}}).is_redundantly_rigid);
  EXPECT_TRUE(plane(3, complete_graph(3)).is_globally_rigid);
  EXPECT_FALSE(plane(3, {{0, 1}, {1, 2}}).is_rigid);
  const GlobalRigidity k4 = plane(4, complete_graph(4));
  EXPECT_TRUE(k4.is_globally_rigid && k4.is_redundantly_rigid && k4.is_rigid);
  EXPECT_EQ(k4.connectivity, 3u);
  const GlobalRigidity kite = plane(4, {{0, 1}, {1, 2}, {2, 0}, {1, 3}, {2, 3}});
  EXPECT_TRUE(kite.is_rigid);
  EXPECT_FALSE(kite.is_redundantly_rigid || kite.is_globally_rigid);
  EXPECT_EQ(kite.connectivity, 2u);
  const std::vector<Edge> prism{{0, 1}, {1, 2}, {2, 0}, {3, 4}, {4, 5},
                                {5, 3}, {0, 3}, {1, 4}, {2, 5}};
  const GlobalRigidity p = plane(6, prism);
  EXPECT_TRUE(p.is_rigid);
  EXPECT_EQ(p.connectivity, 3u);
  EXPECT_FALSE(p.is_redundantly_rigid || p.is_globally_rigid);
  for (std::uint64_t k = 3; k < 12; ++k) {
    const GlobalRigidity w = plane(k + 1, wheel(k));
    EXPECT_TRUE(w.is_globally_rigid && w.is_redundantly_rigid) << k;
    EXPECT_EQ(w.rank, 2 * (k + 1) - 3);
  }
}

TEST(GlobalRigidity, ClassicGraphsInSpace) {
  EXPECT_TRUE(global_rigidity(4, complete_graph(4), 3).is_globally_rigid);
  const GlobalRigidity k5 = global_rigidity(5, complete_graph(5), 3);
  EXPECT_TRUE(k5.is_globally_rigid && k5.is_redundantly_rigid);
  // K5,5 is redundantly rigid in space but not globally rigid.
  std::vector<Edge> bipartite;
  for (std::uint64_t i = 0; i < 5; ++i) {
    for (std::uint64_t j = 5; j < 10; ++j) bipartite.push_back({i, j});
  }
  const GlobalRigidity k55 = global_rigidity(10, bipartite, 3);
  EXPECT_TRUE(k55.is_rigid && k55.is_redundantly_rigid);
  EXPECT_FALSE(k55.is_globally_rigid);
  EXPECT_EQ(k55.rank, 24u);
  // K6 minus one bar is globally rigid in space; the octahedron is rigid, but minimally so.
  std::vector<Edge> k6 = complete_graph(6);
  k6.pop_back();
  EXPECT_TRUE(global_rigidity(6, k6, 3).is_globally_rigid);
  const std::vector<Edge> octahedron{{0, 2}, {0, 3}, {0, 4}, {0, 5}, {1, 2}, {1, 3},
                                     {1, 4}, {1, 5}, {2, 3}, {3, 4}, {4, 5}, {5, 2}};
  const GlobalRigidity o = global_rigidity(6, octahedron, 3);
  EXPECT_TRUE(o.is_rigid);
  EXPECT_FALSE(o.is_redundantly_rigid || o.is_globally_rigid);
}

TEST(GlobalRigidity, PlaneAnswerEqualsTheStressMatrixTest) {
  std::mt19937_64 rng(5);
  int globally_rigid = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const std::uint64_t n = 2 + rng() % 11;
    const double density = 0.3 + 0.7 * static_cast<double>(rng() % 100) / 100.0;
    const std::vector<Edge> edges = random_graph(n, density, rng);
    const GlobalRigidity a = global_rigidity(n, edges, 2);
    const GlobalRigidity b = global_rigidity(n, edges, 2, GlobalRigidityMethod::kStressMatrix);
    EXPECT_EQ(a.is_globally_rigid, b.is_globally_rigid) << "trial " << trial;
    EXPECT_EQ(a.is_redundantly_rigid, b.is_redundantly_rigid) << "trial " << trial;
    EXPECT_EQ(a.rank, b.rank) << "trial " << trial;
    globally_rigid += a.is_globally_rigid ? 1 : 0;
  }
  EXPECT_GT(globally_rigid, 50);
  EXPECT_LT(globally_rigid, 350);
}

TEST(GlobalRigidity, StressMatrixRankOfKFour) {
  // K4 in the plane carries one self-stress; its stress matrix has rank n - d - 1 = 1.
  const std::vector<Edge> edges = complete_graph(4);
  EXPECT_EQ(global_rigidity(4, edges, 2, GlobalRigidityMethod::kStressMatrix).is_globally_rigid,
            true);
  EXPECT_EQ(stress_matrix_rank(4, edges, std::vector<std::uint64_t>(6, 0)), 0u);
}

}  // namespace
}  // namespace trussel
