// Generic rigidity of a given edge list in the plane: the (2,3) pebble game, redundant bars and
// the rigid components.
#include "graph/rigid_components.hpp"

#include <algorithm>
#include <limits>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace trussel {
namespace {

constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

// Circuit clusters: vertex sets of circuit-connected bars, pairwise sharing at most one node
// (two that share two merge). Each node lists the clusters that hold it; each cluster lists its
// nodes and the bars of its star, the stand-in the pebble game holds for its bars.
class Clusters {
 public:
  explicit Clusters(std::uint64_t m) : of_node_(static_cast<std::size_t>(m)) {}

  // A cluster holding both u and v, or kNone.
  std::uint64_t common(std::uint64_t u, std::uint64_t v) const {
    for (std::uint64_t a : of_node_[u]) {
      for (std::uint64_t b : of_node_[v]) {
        if (a == b) return a;
      }
    }
    return kNone;
  }
  bool holds(std::uint64_t c, std::uint64_t x) const {
    return std::find(of_node_[x].begin(), of_node_[x].end(), c) != of_node_[x].end();
  }
  const std::vector<std::uint64_t>& of_node(std::uint64_t x) const { return of_node_[x]; }

  std::uint64_t make(std::uint64_t a, std::uint64_t b) {
    members_.push_back({});
    stars_.push_back({});
    anchors_.push_back({a, b});
    return members_.size() - 1;
  }
  std::vector<std::uint64_t>& members(std::uint64_t c) { return members_[c]; }
  std::vector<std::uint64_t>& stars(std::uint64_t c) { return stars_[c]; }
  Edge anchors(std::uint64_t c) const { return anchors_[c]; }
  std::uint64_t count() const { return members_.size(); }

  // Adds node x to cluster c.
  void enter(std::uint64_t c, std::uint64_t x) {
    members_[c].push_back(x);
    of_node_[x].push_back(c);
  }
  // Moves every node of cluster `from` into cluster `into` (which does not hold them yet, but
  // for at most one) and drops `from`.
  void absorb(std::uint64_t into, std::uint64_t from) {
    for (std::uint64_t x : members_[from]) {
      std::vector<std::uint64_t>& list = of_node_[x];
      list.erase(std::find(list.begin(), list.end(), from));
      if (!holds(into, x)) enter(into, x);
    }
    std::vector<std::uint64_t>().swap(members_[from]);
    std::vector<std::uint64_t>().swap(stars_[from]);
  }

 private:
  std::vector<std::vector<std::uint64_t>> of_node_, members_, stars_;
  std::vector<Edge> anchors_;
};

// The pebble game over m nodes: every node has two slots, each empty (a free pebble) or holding
// an accepted bar directed out of the node (covered by one of its pebbles).
class PebbleGame {
 public:
  explicit PebbleGame(std::uint64_t m)
      : to_(static_cast<std::size_t>(2 * m), kNone),
        bar_(static_cast<std::size_t>(2 * m), kNone),
        marks_(static_cast<std::size_t>(m), 0),
        via_(static_cast<std::size_t>(m), 0) {}

  std::int32_t free_pebbles(std::uint64_t x) const {
    return static_cast<std::int32_t>(to_[2 * x] == kNone) +
           static_cast<std::int32_t>(to_[2 * x + 1] == kNone);
  }

  // Hides the pebbles of a and b from searches (their out-bars are still followed).
  void hide(std::uint64_t a, std::uint64_t b) {
    hidden_a_ = a;
    hidden_b_ = b;
  }

  // Takes bar e between x and y out of the game, freeing the pebble that covered it.
  void remove(std::uint64_t x, std::uint64_t y, std::uint64_t e) {
    for (std::uint64_t s = 2 * x; s < 2 * x + 2; ++s) {
      if (bar_[s] == e) {
        to_[s] = bar_[s] = kNone;
        return;
      }
    }
    for (std::uint64_t s = 2 * y; s < 2 * y + 2; ++s) {
      if (bar_[s] == e) {
        to_[s] = bar_[s] = kNone;
        return;
      }
    }
    panic("a bar missing from the pebble game");
  }
  // The node and bar in slot s (0 or 1) of x; kNone when free.
  std::uint64_t target(std::uint64_t x, std::uint64_t s) const { return to_[2 * x + s]; }
  std::uint64_t bar(std::uint64_t x, std::uint64_t s) const { return bar_[2 * x + s]; }

  // Places bar `e` directed x to y in a free slot of x.
  void place(std::uint64_t x, std::uint64_t y, std::uint64_t e) {
    const std::size_t s = to_[2 * x] == kNone ? 2 * x : 2 * x + 1;
    to_[s] = y;
    bar_[s] = e;
  }

  // Starts a new visited set; `reached()` lists the nodes entered since.
  void clear_visited() {
    epoch_ = ++last_mark_;
    reached_.clear();
  }
  // One mark per node, fresh values for each set: a node is visited by the current search or
  // blocked (in the current blocked set), never both.
  bool visited(std::uint64_t x) const { return marks_[x] == epoch_ || marks_[x] == block_; }
  // Starts a new blocked set: nodes that every search treats as visited until the next call.
  void clear_blocked() { block_ = ++last_mark_; }
  void block(std::uint64_t x) { marks_[x] = block_; }
  bool blocked(std::uint64_t x) const { return marks_[x] == block_; }
  void visit(std::uint64_t x) {
    marks_[x] = epoch_;
    reached_.push_back(x);
  }
  const std::vector<std::uint64_t>& reached() const { return reached_; }

  // Breadth-first search along out-bars from `root` for a node outside the hidden pair with a
  // free pebble, entering no visited node. On success reverses the (shortest) path, so that the
  // pebble is freed at `root`, and returns true; a root outside the hidden pair with a free
  // pebble succeeds at once. On failure every node entered stays visited. Shortest paths keep
  // the directed bars from forming long chains that later searches would have to walk.
  bool search(std::uint64_t root) {
    if (visited(root)) return false;
    visit(root);
    if (!is_hidden(root) && free_pebbles(root) > 0) return true;
    for (std::size_t head = reached_.size() - 1; head < reached_.size(); ++head) {
      const std::uint64_t x = reached_[head];
      for (std::uint64_t s = 2 * x; s < 2 * x + 2; ++s) {
        const std::uint64_t w = to_[s];
        if (w == kNone || visited(w)) continue;
        visit(w);
        via_[w] = s;
        if (is_hidden(w) || free_pebbles(w) == 0) continue;
        // Turn the bars of the path around from the far end: each reversal fills the slot that
        // the previous one emptied, the first one the free slot of w.
        for (std::uint64_t y = w; y != root;) {
          const std::uint64_t slot = via_[y];
          const std::uint64_t e = bar_[slot];
          to_[slot] = kNone;
          bar_[slot] = kNone;
          place(y, slot / 2, e);
          y = slot / 2;
        }
        return true;
      }
    }
    return false;
  }

 private:
  bool is_hidden(std::uint64_t x) const { return x == hidden_a_ || x == hidden_b_; }

  std::vector<std::uint64_t> to_, bar_;
  std::vector<std::uint64_t> marks_;
  std::vector<std::uint64_t> via_;  // the slot of the bar a search entered each node by
  std::uint64_t epoch_ = 1, block_ = 2, last_mark_ = 2;
  std::vector<std::uint64_t> reached_;
  std::uint64_t hidden_a_ = kNone, hidden_b_ = kNone;
};

// The bars of the edge list over nodes renumbered 0 .. m-1, and the adjacency of every node.
struct CompactGraph {
  std::uint64_t m = 0;
  std::vector<Edge> edges;
  std::vector<std::uint64_t> offsets, neighbour, bar;
};

CompactGraph compact_graph(std::uint64_t n, const std::vector<Edge>& edges) {
  CompactGraph graph;
  const std::size_t count = edges.size();
  checked_bytes(count, 4 * sizeof(std::uint64_t));
  graph.edges = edges;
  if (n <= 2 * static_cast<std::uint64_t>(count) + 2) {
    graph.m = n;
  } else {
    // Nodes that no bar touches play no part: renumber the others in increasing order.
    std::vector<std::uint64_t> nodes;
    nodes.reserve(2 * count);
    for (const Edge& e : edges) {
      nodes.push_back(e.i);
      nodes.push_back(e.j);
    }
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    auto index = [&](std::uint64_t x) {
      return static_cast<std::uint64_t>(std::lower_bound(nodes.begin(), nodes.end(), x) -
                                        nodes.begin());
    };
    for (Edge& e : graph.edges) e = Edge{index(e.i), index(e.j)};
    graph.m = nodes.size();
  }
  const auto m = static_cast<std::size_t>(graph.m);
  graph.offsets.assign(m + 1, 0);
  for (const Edge& e : graph.edges) {
    ++graph.offsets[e.i + 1];
    ++graph.offsets[e.j + 1];
  }
  for (std::size_t x = 0; x < m; ++x) graph.offsets[x + 1] += graph.offsets[x];
  graph.neighbour.resize(2 * count);
  graph.bar.resize(2 * count);
  std::vector<std::uint64_t> next(graph.offsets.begin(), graph.offsets.end() - 1);
  for (std::size_t k = 0; k < count; ++k) {
    const Edge& e = graph.edges[k];
    graph.neighbour[next[e.i]] = e.j;
    graph.bar[next[e.i]++] = k;
    graph.neighbour[next[e.j]] = e.i;
    graph.bar[next[e.j]++] = k;
  }
  return graph;
}

}  // namespace

RigidComponentsResult find_rigid_components(std::uint64_t n, const std::vector<Edge>& edges) {
  const std::size_t count = edges.size();
  CompactGraph graph = compact_graph(n, edges);
  const std::uint64_t m = graph.m;
  checked_bytes(m, 8 * sizeof(std::uint64_t));
  const auto nodes = static_cast<std::size_t>(m);

  RigidComponentsResult result;
  result.independent.assign(count, 0);
  PebbleGame game(m);
  Clusters clusters(m);
  // The game holds the accepted bars outside every cluster (held) and, for each cluster, a star:
  // a bar between its two anchors and bars from every other node to both. A cluster is rigid,
  // so its star spans what its bars span, and searches inside a star are short.
  std::vector<std::uint8_t> held(count, 0);
  std::vector<Edge> star_ends;
  auto ends = [&](std::uint64_t id) {
    return id < count ? graph.edges[id] : star_ends[id - count];
  };
  std::vector<std::uint64_t> mark(nodes, 0), merged_mark, hits;
  std::uint64_t epoch = 0;
  std::vector<std::uint64_t> region, rest, merged, touched;

  // Adds a star bar x-y to cluster c and places it, freeing a pebble on x or y if needed (the
  // bars the game then holds are independent, so one can always be found).
  auto add_star_bar = [&](std::uint64_t c, std::uint64_t x, std::uint64_t y) {
    const std::uint64_t id = count + star_ends.size();
    star_ends.push_back({x, y});
    clusters.stars(c).push_back(id);
    game.hide(kNone, kNone);
    if (game.free_pebbles(x) == 0 && game.free_pebbles(y) > 0) std::swap(x, y);
    if (game.free_pebbles(x) == 0) {
      game.clear_visited();
      if (!game.search(x)) {
        std::swap(x, y);
        game.clear_visited();
        check(game.search(x), "no pebble for an independent bar");
      }
    }
    game.place(x, y, id);
  };

  // Merges the circuit with node set `region` into the clusters: the new cluster N is the
  // region with every cluster that shares two nodes with it, repeated until none does.
  auto merge_circuit = [&]() {
    const std::uint64_t dedupe = ++epoch;
    std::size_t kept = 0;
    for (std::uint64_t x : region) {
      if (mark[x] != dedupe) {
        mark[x] = dedupe;
        region[kept++] = x;
      }
    }
    region.resize(kept);
    if (hits.size() < clusters.count()) {
      hits.resize(clusters.count(), 0);
      merged_mark.resize(clusters.count(), 0);
    }
    touched.clear();
    for (std::uint64_t x : region) {
      for (std::uint64_t c : clusters.of_node(x)) {
        if (hits[c]++ == 0) touched.push_back(c);
      }
    }
    const std::uint64_t in_n = ++epoch;
    merged.clear();
    std::uint64_t base = kNone;
    for (std::uint64_t c : touched) {
      if (hits[c] >= 2) {
        merged.push_back(c);
        merged_mark[c] = in_n;
        if (base == kNone || clusters.members(c).size() > clusters.members(base).size()) base = c;
      }
      hits[c] = 0;
    }
    // rest: the nodes of N outside the base cluster, marked with in_n.
    rest.clear();
    auto take = [&](std::uint64_t x) {
      if (mark[x] == in_n || (base != kNone && clusters.holds(base, x))) return;
      mark[x] = in_n;
      rest.push_back(x);
    };
    auto in_new = [&](std::uint64_t x) {
      return mark[x] == in_n || (base != kNone && clusters.holds(base, x));
    };
    for (std::uint64_t x : region) take(x);
    for (std::uint64_t c : merged) {
      if (c == base) continue;
      for (std::uint64_t x : clusters.members(c)) take(x);
    }
    for (std::size_t at = 0; at < rest.size(); ++at) {
      const std::vector<std::uint64_t> own = clusters.of_node(rest[at]);
      for (std::uint64_t c : own) {
        if (merged_mark[c] == in_n) continue;
        std::uint64_t shared = 0;
        for (std::uint64_t x : clusters.members(c)) shared += in_new(x) ? 1 : 0;
        if (shared < 2) continue;
        merged.push_back(c);
        merged_mark[c] = in_n;
        for (std::uint64_t x : clusters.members(c)) take(x);
      }
    }
    // Replace every bar the game holds inside N, but the base cluster's star, by star bars.
    std::uint64_t removed = 0, added = 0;
    for (std::uint64_t c : merged) {
      if (c == base) continue;
      for (std::uint64_t id : clusters.stars(c)) {
        game.remove(ends(id).i, ends(id).j, id);
        ++removed;
      }
    }
    for (std::uint64_t x : rest) {
      for (std::uint64_t p = graph.offsets[x]; p < graph.offsets[x + 1]; ++p) {
        const std::uint64_t id = graph.bar[p];
        if (held[id] == 0 || !in_new(graph.neighbour[p])) continue;
        game.remove(x, graph.neighbour[p], id);
        held[id] = 0;
        ++removed;
      }
    }
    if (base == kNone) {
      base = clusters.make(rest[0], rest[1]);
      if (merged_mark.size() < clusters.count()) {
        merged_mark.resize(clusters.count(), 0);
        hits.resize(clusters.count(), 0);
      }
      merged_mark[base] = in_n;
      add_star_bar(base, rest[0], rest[1]);
      ++added;
    }
    const Edge anchors = clusters.anchors(base);
    for (std::uint64_t x : rest) {
      if (x == anchors.i || x == anchors.j) continue;
      add_star_bar(base, x, anchors.i);
      add_star_bar(base, x, anchors.j);
      added += 2;
    }
    check(added == removed, "a circuit cluster that is not tight");
    for (std::uint64_t c : merged) {
      if (c != base) clusters.absorb(base, c);
    }
    for (std::uint64_t x : rest) {
      if (!clusters.holds(base, x)) clusters.enter(base, x);
    }
  };

  for (std::size_t k = 0; k < count; ++k) {
    poll_interrupt(game.reached().size() + 1);
    const std::uint64_t u = graph.edges[k].i, v = graph.edges[k].j;
    // Both ends in one circuit cluster: that cluster is rigid, so the bar is dependent, and its
    // circuit lies in the cluster.
    if (clusters.common(u, v) != kNone) continue;
    game.hide(u, v);
    // When the searches from u fail, the nodes they reach hold no free pebble and lead to none,
    // and the searches from v cannot change that (they reverse only bars outside that set), so
    // the searches from v skip it.
    game.clear_blocked();
    region.assign({u});
    while (game.free_pebbles(u) < 2) {
      game.clear_visited();
      if (!game.search(u)) {
        region = game.reached();
        for (std::uint64_t x : region) game.block(x);
        break;
      }
    }
    bool v_failed = false;
    while (game.free_pebbles(v) < 2) {
      game.clear_visited();
      if (!game.search(v)) {
        v_failed = true;
        break;
      }
    }
    game.clear_blocked();
    if (game.free_pebbles(u) + game.free_pebbles(v) == 4) {
      game.place(u, v, k);
      held[k] = 1;
      result.independent[k] = 1;
      ++result.rank;
      continue;
    }
    // Dependent: three pebbles on u and v, and none reachable from them. The nodes they reach
    // form the smallest tight set holding both, whose bars with this one are its fundamental
    // circuit. A node with two free pebbles reaches only itself.
    if (v_failed) {
      region.insert(region.end(), game.reached().begin(), game.reached().end());
    } else {
      region.push_back(v);
    }
    merge_circuit();
  }

  // The bars the game holds, as an undirected adjacency.
  std::vector<std::uint64_t> offsets(nodes + 1, 0), neighbour;
  for (std::uint64_t x = 0; x < m; ++x) {
    for (std::uint64_t s = 0; s < 2; ++s) {
      const std::uint64_t y = game.target(x, s);
      if (y == kNone) continue;
      ++offsets[x + 1];
      ++offsets[y + 1];
    }
  }
  for (std::size_t x = 0; x < nodes; ++x) offsets[x + 1] += offsets[x];
  neighbour.resize(offsets[nodes]);
  {
    std::vector<std::uint64_t> next(offsets.begin(), offsets.end() - 1);
    for (std::uint64_t x = 0; x < m; ++x) {
      for (std::uint64_t s = 0; s < 2; ++s) {
        const std::uint64_t y = game.target(x, s);
        if (y == kNone) continue;
        neighbour[next[x]++] = y;
        neighbour[next[y]++] = x;
      }
    }
  }

  // The rigid components of the final graph, one at a time from the first bar not yet placed:
  // with three pebbles on its ends, the component is every node that cannot reach a free pebble
  // (a node of a tight set of three or more nodes has two bars in it, so a node with one bar
  // rules that out at once).
  result.redundant.assign(count, 0);
  result.component.assign(count, -1);
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint64_t u = graph.edges[k].i, v = graph.edges[k].j;
    result.redundant[k] = clusters.common(u, v) != kNone ? 1 : 0;
    if (result.component[k] >= 0) continue;
    const auto number = static_cast<std::int64_t>(result.n_components++);
    result.component[k] = number;
    if (graph.offsets[u + 1] - graph.offsets[u] < 2 ||
        graph.offsets[v + 1] - graph.offsets[v] < 2) {
      continue;
    }
    game.hide(u, v);
    while (game.free_pebbles(u) < 2) {
      game.clear_visited();
      if (!game.search(u)) break;
    }
    while (game.free_pebbles(v) < 2) {
      game.clear_visited();
      if (!game.search(v)) break;
    }
    game.clear_visited();
    if (game.search(u) || game.search(v)) continue;  // only u and v are rigidly joined
    region = game.reached();
    game.clear_blocked();
    for (std::uint64_t x : region) game.block(x);
    // Grow backwards: a node with a bar into the component joins it, with every node its search
    // enters, when that search finds no free pebble. Nodes of the component lead only into it,
    // so searches treat them as visited.
    for (std::size_t at = 0; at < region.size(); ++at) {
      const std::uint64_t y = region[at];
      for (std::uint64_t p = offsets[y]; p < offsets[y + 1]; ++p) {
        const std::uint64_t x = neighbour[p];
        if (game.blocked(x) || game.free_pebbles(x) > 0) continue;
        game.clear_visited();
        if (game.search(x)) continue;
        for (std::uint64_t z : game.reached()) {
          game.block(z);
          region.push_back(z);
        }
      }
    }
    // Every bar with both ends in the component belongs to it.
    for (std::uint64_t y : region) {
      for (std::uint64_t p = graph.offsets[y]; p < graph.offsets[y + 1]; ++p) {
        if (game.blocked(graph.neighbour[p])) result.component[graph.bar[p]] = number;
      }
    }
    game.clear_blocked();
  }
  return result;
}

}  // namespace trussel
