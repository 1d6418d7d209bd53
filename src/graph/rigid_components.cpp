// Generic rigidity of a given edge list in the plane: the (2,3) pebble game, redundant bars and
// the rigid components.
#include "graph/rigid_components.hpp"

#include <algorithm>
#include <limits>

#include "common/errors.hpp"

namespace trussel {
namespace {

constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

// Vertex sets that pairwise may share nodes, merged through a union-find over their ids. Each node
// lists the ids of the sets that hold it; an id stands for the set its find() root names.
class ClusterSet {
 public:
  explicit ClusterSet(std::uint64_t m)
      : of_node_(static_cast<std::size_t>(m)), seen_(static_cast<std::size_t>(m), 0) {}

  // The root of a set holding both u and v, or kNone.
  std::uint64_t common(std::uint64_t u, std::uint64_t v) {
    const std::vector<std::uint64_t>& lu = normalized(u);
    const std::vector<std::uint64_t>& lv = normalized(v);
    for (std::uint64_t a : lu) {
      for (std::uint64_t b : lv) {
        if (a == b) return a;
      }
    }
    return kNone;
  }

  // Adds the nodes of `region` (repeats ignored) as one set, merged with every set that holds
  // two or more of them.
  void add(std::vector<std::uint64_t>& region) {
    ++epoch_;
    std::size_t kept = 0;
    for (std::uint64_t x : region) {
      if (seen_[x] != epoch_) {
        seen_[x] = epoch_;
        region[kept++] = x;
      }
    }
    region.resize(kept);
    std::uint64_t root = parent_.size();
    parent_.push_back(root);
    size_.push_back(region.size());
    hits_.push_back(0);
    touched_.clear();
    for (std::uint64_t x : region) {
      for (std::uint64_t r : normalized(x)) {
        if (hits_[r]++ == 0) touched_.push_back(r);
      }
    }
    for (std::uint64_t r : touched_) {
      if (hits_[r] >= 2) root = unite(root, r);
    }
    for (std::uint64_t r : touched_) hits_[r] = 0;
    for (std::uint64_t x : region) of_node_[x].push_back(root);
  }

  std::uint64_t find(std::uint64_t c) {
    while (parent_[c] != c) {
      parent_[c] = parent_[parent_[c]];
      c = parent_[c];
    }
    return c;
  }

 private:
  std::uint64_t unite(std::uint64_t a, std::uint64_t b) {
    a = find(a);
    b = find(b);
    if (a == b) return a;
    if (size_[a] < size_[b]) std::swap(a, b);
    parent_[b] = a;
    size_[a] += size_[b];
    return a;
  }

  // Node x's list with every id replaced by its root, each root once.
  const std::vector<std::uint64_t>& normalized(std::uint64_t x) {
    std::vector<std::uint64_t>& list = of_node_[x];
    std::size_t kept = 0;
    for (std::size_t k = 0; k < list.size(); ++k) {
      const std::uint64_t r = find(list[k]);
      if (std::find(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(kept), r) ==
          list.begin() + static_cast<std::ptrdiff_t>(kept)) {
        list[kept++] = r;
      }
    }
    list.resize(kept);
    return list;
  }

  std::vector<std::vector<std::uint64_t>> of_node_;
  std::vector<std::uint64_t> parent_, size_, hits_, touched_;
  std::vector<std::uint64_t> seen_;
  std::uint64_t epoch_ = 0;
};

// The pebble game over m nodes: every node has two slots, each empty (a free pebble) or holding
// an accepted bar directed out of the node (covered by one of its pebbles).
class PebbleGame {
 public:
  explicit PebbleGame(std::uint64_t m)
      : to_(static_cast<std::size_t>(2 * m), kNone),
        bar_(static_cast<std::size_t>(2 * m), kNone),
        marks_(static_cast<std::size_t>(m), 0),
        blocks_(static_cast<std::size_t>(m), 0) {}

  std::int32_t free_pebbles(std::uint64_t x) const {
    return static_cast<std::int32_t>(to_[2 * x] == kNone) +
           static_cast<std::int32_t>(to_[2 * x + 1] == kNone);
  }

  // Hides the pebbles of a and b from searches (their out-bars are still followed).
  void hide(std::uint64_t a, std::uint64_t b) {
    hidden_a_ = a;
    hidden_b_ = b;
  }

  // Places bar `e` directed x to y in a free slot of x.
  void place(std::uint64_t x, std::uint64_t y, std::uint64_t e) {
    const std::size_t s = to_[2 * x] == kNone ? 2 * x : 2 * x + 1;
    to_[s] = y;
    bar_[s] = e;
  }

  // Starts a new visited set; `reached()` lists the nodes entered since.
  void clear_visited() {
    ++epoch_;
    reached_.clear();
  }
  bool visited(std::uint64_t x) const { return marks_[x] == epoch_ || blocks_[x] == block_epoch_; }
  // Starts a new blocked set: nodes that every search treats as visited until the next call.
  void clear_blocked() { ++block_epoch_; }
  void block(std::uint64_t x) { blocks_[x] = block_epoch_; }
  bool blocked(std::uint64_t x) const { return blocks_[x] == block_epoch_; }
  void visit(std::uint64_t x) {
    marks_[x] = epoch_;
    reached_.push_back(x);
  }
  const std::vector<std::uint64_t>& reached() const { return reached_; }

  // Depth-first search along out-bars from `root` for a node outside the hidden pair with a free
  // pebble, entering no visited node. On success reverses the path, so that the pebble is freed
  // at `root`, and returns true; a root outside the hidden pair with a free pebble succeeds at
  // once. On failure every node entered stays visited.
  bool search(std::uint64_t root) {
    if (visited(root)) return false;
    visit(root);
    if (!is_hidden(root) && free_pebbles(root) > 0) return true;
    stack_.clear();
    stack_.push_back({root, 0});
    while (!stack_.empty()) {
      Frame& top = stack_.back();
      if (top.slot == 2) {
        stack_.pop_back();
        if (!stack_.empty()) ++stack_.back().slot;
        continue;
      }
      const std::uint64_t w = to_[2 * top.node + top.slot];
      if (w == kNone || visited(w)) {
        ++top.slot;
        continue;
      }
      visit(w);
      if (is_hidden(w) || free_pebbles(w) == 0) {
        stack_.push_back({w, 0});
        continue;
      }
      // Turn the bars of the path around from the far end: each reversal fills the slot that
      // the previous one emptied, the first one the free slot of w.
      for (std::size_t k = stack_.size(); k-- > 0;) {
        const std::size_t s = static_cast<std::size_t>(2 * stack_[k].node + stack_[k].slot);
        const std::uint64_t y = to_[s];
        const std::uint64_t e = bar_[s];
        to_[s] = kNone;
        bar_[s] = kNone;
        place(y, stack_[k].node, e);
      }
      return true;
    }
    return false;
  }

 private:
  struct Frame {
    std::uint64_t node;
    std::uint64_t slot;
  };

  bool is_hidden(std::uint64_t x) const { return x == hidden_a_ || x == hidden_b_; }

  std::vector<std::uint64_t> to_, bar_;
  std::vector<std::uint64_t> marks_, blocks_;
  std::uint64_t epoch_ = 0, block_epoch_ = 1;
  std::vector<std::uint64_t> reached_;
  std::vector<Frame> stack_;
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

  RigidComponentsResult result;
  result.independent.assign(count, 0);
  PebbleGame game(m);
  ClusterSet circuits(m);
  std::vector<std::uint64_t> region;

  for (std::size_t k = 0; k < count; ++k) {
    const std::uint64_t u = graph.edges[k].i, v = graph.edges[k].j;
    // Both ends in one circuit cluster: that cluster is rigid, so the bar is dependent, and its
    // circuit lies in the cluster.
    if (circuits.common(u, v) != kNone) continue;
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
    circuits.add(region);
  }

  // The rigid components of the final graph, one at a time from the first bar not yet placed:
  // with three pebbles on its ends, the component is every node that cannot reach a free pebble
  // (a node of a tight set of three or more nodes has two bars in it, so a node with one bar
  // rules that out at once).
  result.redundant.assign(count, 0);
  result.component.assign(count, -1);
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint64_t u = graph.edges[k].i, v = graph.edges[k].j;
    result.redundant[k] = circuits.common(u, v) != kNone ? 1 : 0;
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
      for (std::uint64_t p = graph.offsets[y]; p < graph.offsets[y + 1]; ++p) {
        const std::uint64_t x = graph.neighbour[p];
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
