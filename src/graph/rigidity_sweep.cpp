// Rigidity percolation in one pass: bars added one at a time to a plane graph, the rigid clusters
// kept up to date after every bar.
#include "graph/rigidity_sweep.hpp"

#include <algorithm>
#include <limits>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace trussel {
namespace {

// The sweep over m nodes and `count` bars, with node, bar, cluster and star indices of type
// Index (32 bits whenever they fit, which halves the memory of the large arrays).
//
// Clusters are the rigid components of the bars so far: they partition the bars, two share at
// most one node, and each is held in the pebble game as a star on its two anchors (the bar
// between them and a bar from every other node to each), which spans the same motions as its
// bars. Every node keeps the list of clusters holding it (memberships); every cluster the list
// of its nodes and of its star bars.
template <class Index>
class Sweep {
 public:
  static constexpr Index kNone = std::numeric_limits<Index>::max();

  Sweep(std::uint64_t m, std::size_t count)
      : to_(static_cast<std::size_t>(2 * m), kNone),
        bar_(static_cast<std::size_t>(2 * m), kNone),
        marks_(static_cast<std::size_t>(m), 0),
        via_(static_cast<std::size_t>(m), 0),
        first_entry_(static_cast<std::size_t>(m), kNone),
        node_mark_(static_cast<std::size_t>(m), 0) {
    // At most one cluster per independent bar, 2m - 3 of them at most; the reservations are
    // touched only as they are used.
    const std::size_t clusters = std::min<std::size_t>(count, static_cast<std::size_t>(2 * m));
    for (std::vector<Index>* v : {&parent_, &bars_, &size_, &anchor_a_, &anchor_b_, &head_,
                                  &tail_, &star_head_, &cluster_mark_, &star_i_, &star_j_,
                                  &star_next_}) {
      v->reserve(clusters);
    }
    for (std::vector<Index>* v : {&entry_node_, &entry_cluster_, &entry_next_node_,
                                  &entry_next_member_}) {
      v->reserve(2 * clusters);
    }
  }

  // Adds bar (u, v); returns its cluster, and whether the bar is independent.
  Index add(Index u, Index v, bool& independent) {
    const Index common = common_cluster(u, v);
    if (common != kNone) {
      ++bars_[common];
      largest_bars_ = std::max<std::uint64_t>(largest_bars_, bars_[common]);
      independent = false;
      return common;
    }
    independent = true;
    // Independent, since its ends share no cluster: four pebbles can be gathered on them.
    hide(u, v);
    while (free_pebbles(u) < 2) {
      clear_visited();
      check(search(u), "no pebble for an independent bar");
    }
    while (free_pebbles(v) < 2) {
      clear_visited();
      check(search(v), "no pebble for an independent bar");
    }
    const Index cluster = make_cluster(u, v);
    const Index star = new_star(u, v, cluster);
    place(v, u, star);
    ++n_clusters_;
    largest_bars_ = std::max<std::uint64_t>(largest_bars_, 1);
    largest_nodes_ = std::max<std::uint64_t>(largest_nodes_, 2);
    find_merge(u, v, cluster);
    hide(kNone, kNone);
    clear_blocked();
    if (merged_.size() > 1) merge();
    return cluster;
  }

  std::uint64_t largest_bars() const { return largest_bars_; }
  std::uint64_t largest_nodes() const { return largest_nodes_; }
  std::uint64_t n_clusters() const { return n_clusters_; }
  std::uint64_t work() const { return reached_.size() + 1; }

  // The cluster that cluster c was merged into, following merges to the end.
  Index root(Index c) {
    while (parent_[c] != c) {
      parent_[c] = parent_[parent_[c]];
      c = parent_[c];
    }
    return c;
  }
  std::size_t clusters_made() const { return parent_.size(); }

 private:
  // --- Memberships ---

  Index common_cluster(Index u, Index v) const {
    for (Index e = first_entry_[u]; e != kNone; e = entry_next_node_[e]) {
      for (Index f = first_entry_[v]; f != kNone; f = entry_next_node_[f]) {
        if (entry_cluster_[e] == entry_cluster_[f]) return entry_cluster_[e];
      }
    }
    return kNone;
  }
  bool holds(Index c, Index x) const {
    for (Index e = first_entry_[x]; e != kNone; e = entry_next_node_[e]) {
      if (entry_cluster_[e] == c) return true;
    }
    return false;
  }
  // Appends membership e (of node entry_node_[e]) to the node list of cluster c.
  void append_member(Index c, Index e) {
    entry_cluster_[e] = c;
    entry_next_member_[e] = kNone;
    if (tail_[c] == kNone) {
      head_[c] = e;
    } else {
      entry_next_member_[tail_[c]] = e;
    }
    tail_[c] = e;
  }
  void enter(Index c, Index x) {
    Index e = free_entry_;
    if (e != kNone) {
      free_entry_ = entry_next_node_[e];
      entry_node_[e] = x;
    } else {
      e = static_cast<Index>(entry_node_.size());
      entry_node_.push_back(x);
      entry_cluster_.push_back(c);
      entry_next_node_.push_back(kNone);
      entry_next_member_.push_back(kNone);
    }
    entry_next_node_[e] = first_entry_[x];
    first_entry_[x] = e;
    append_member(c, e);
  }
  Index make_cluster(Index u, Index v) {
    const auto c = static_cast<Index>(parent_.size());
    check(c < kNone - 1, "capacity overflow");
    parent_.push_back(c);
    bars_.push_back(1);
    size_.push_back(2);
    anchor_a_.push_back(u);
    anchor_b_.push_back(v);
    head_.push_back(kNone);
    tail_.push_back(kNone);
    star_head_.push_back(kNone);
    cluster_mark_.push_back(0);
    enter(c, u);
    enter(c, v);
    return c;
  }
  // Moves the nodes of cluster `from` into `into` (which holds at most one of them already).
  void absorb(Index into, Index from) {
    for (Index e = head_[from]; e != kNone;) {
      const Index next = entry_next_member_[e];
      const Index x = entry_node_[e];
      if (holds(into, x)) {
        // Unlink e from the node's list and recycle it.
        if (first_entry_[x] == e) {
          first_entry_[x] = entry_next_node_[e];
        } else {
          Index p = first_entry_[x];
          while (entry_next_node_[p] != e) p = entry_next_node_[p];
          entry_next_node_[p] = entry_next_node_[e];
        }
        entry_next_node_[e] = free_entry_;
        free_entry_ = e;
      } else {
        append_member(into, e);
      }
      e = next;
    }
    head_[from] = tail_[from] = kNone;
    parent_[from] = into;
  }

  // --- Star bars ---

  Index new_star(Index x, Index y, Index c) {
    Index s = free_star_;
    if (s != kNone) {
      free_star_ = star_next_[s];
      star_i_[s] = x;
      star_j_[s] = y;
    } else {
      s = static_cast<Index>(star_i_.size());
      star_i_.push_back(x);
      star_j_.push_back(y);
      star_next_.push_back(kNone);
    }
    star_next_[s] = star_head_[c];
    star_head_[c] = s;
    return s;
  }
  // Takes the star bars of cluster c out of the game; returns how many there were.
  std::uint64_t remove_stars(Index c) {
    std::uint64_t removed = 0;
    for (Index s = star_head_[c]; s != kNone;) {
      const Index next = star_next_[s];
      unplace(star_i_[s], star_j_[s], s);
      star_next_[s] = free_star_;
      free_star_ = s;
      ++removed;
      s = next;
    }
    star_head_[c] = kNone;
    return removed;
  }
  // Adds the star bar x-y to cluster c and places it, freeing a pebble on x or y if needed: the
  // bars in the game stay independent, so with nothing hidden a search always finds one.
  void add_star(Index c, Index x, Index y) {
    const Index s = new_star(x, y, c);
    if (free_pebbles(x) == 0 && free_pebbles(y) > 0) std::swap(x, y);
    if (free_pebbles(x) == 0) {
      clear_visited();
      check(search(x), "no pebble for a star bar");
    }
    place(x, y, s);
  }

  // --- Finding the merge ---

  // With three pebbles on u and v (the new bar in cluster b), the new cluster is every node that
  // cannot reach a free pebble; it is a union of old clusters, and an old cluster joins exactly
  // when a second of its nodes does. So the clusters of each node known to join are tested, each
  // by one search from one of its anchors. The nodes of the largest joining cluster are never
  // listed: every other joining cluster is linked to the new bar through joining clusters that
  // share nodes outside it (else they and it would have been rigid together before the bar), so
  // its pins need no test, and a cluster is listed only when one at least as large joins.
  void find_merge(Index u, Index v, Index b) {
    ++epoch_;
    check(epoch_ < kNone / 2 - 1, "capacity overflow");
    const Index joined = static_cast<Index>(2 * epoch_), refused = joined + 1;
    clear_blocked();
    merged_.assign({b});
    queue_.clear();
    cluster_mark_[b] = joined;
    Index big = kNone;
    auto list = [&](Index x) {
      if (node_mark_[x] == joined) return;
      node_mark_[x] = joined;
      block(x);
      queue_.push_back(x);
    };
    auto list_cluster = [&](Index c) {
      for (Index e = head_[c]; e != kNone; e = entry_next_member_[e]) list(entry_node_[e]);
    };
    auto join = [&](Index c) {
      cluster_mark_[c] = joined;
      merged_.push_back(c);
      if (big == kNone || size_[c] > size_[big]) {
        if (big != kNone) list_cluster(big);
        big = c;
      } else {
        list_cluster(c);
      }
    };
    auto known = [&](Index y) {
      if (node_mark_[y] == joined) return true;
      for (Index e = first_entry_[y]; e != kNone; e = entry_next_node_[e]) {
        if (cluster_mark_[entry_cluster_[e]] == joined) return true;
      }
      return false;
    };
    list(u);
    list(v);
    for (std::size_t at = 0; at < queue_.size(); ++at) {
      const Index z = queue_[at];
      for (Index e = first_entry_[z]; e != kNone; e = entry_next_node_[e]) {
        const Index c = entry_cluster_[e];
        if (cluster_mark_[c] == joined || cluster_mark_[c] == refused) continue;
        const Index y = anchor_a_[c] != z ? anchor_a_[c] : anchor_b_[c];
        if (known(y)) {
          join(c);
          continue;
        }
        clear_visited();
        if (search(y)) {
          cluster_mark_[c] = refused;
          continue;
        }
        // Nothing the search entered reaches a free pebble: all of it joins.
        for (Index x : reached_) list(x);
        join(c);
      }
    }
  }

  // Merges the clusters of merged_ into the largest of them and restars the others' nodes on its
  // anchors.
  void merge() {
    Index base = merged_[0];
    for (Index c : merged_) {
      if (size_[c] > size_[base]) base = c;
    }
    std::uint64_t removed = 0, bars = 0;
    for (Index c : merged_) {
      bars += bars_[c];
      if (c != base) removed += remove_stars(c);
    }
    ++epoch_;
    const auto rest_mark = static_cast<Index>(2 * epoch_);
    rest_.clear();
    for (Index c : merged_) {
      if (c == base) continue;
      for (Index e = head_[c]; e != kNone; e = entry_next_member_[e]) {
        const Index x = entry_node_[e];
        if (node_mark_[x] == rest_mark || holds(base, x)) continue;
        node_mark_[x] = rest_mark;
        rest_.push_back(x);
      }
    }
    const Index a = anchor_a_[base], b = anchor_b_[base];
    for (Index x : rest_) {
      add_star(base, x, a);
      add_star(base, x, b);
    }
    check(2 * rest_.size() == removed, "a rigid cluster that is not tight");
    for (Index c : merged_) {
      if (c != base) absorb(base, c);
    }
    bars_[base] = static_cast<Index>(bars);
    size_[base] = static_cast<Index>(size_[base] + rest_.size());
    n_clusters_ -= merged_.size() - 1;
    largest_bars_ = std::max<std::uint64_t>(largest_bars_, bars);
    largest_nodes_ = std::max<std::uint64_t>(largest_nodes_, size_[base]);
  }

  // --- The pebble game: every node has two slots, each empty (a free pebble) or holding a bar
  // directed out of the node (covered by one of its pebbles). ---

  int free_pebbles(Index x) const {
    return static_cast<int>(to_[2 * static_cast<std::size_t>(x)] == kNone) +
           static_cast<int>(to_[2 * static_cast<std::size_t>(x) + 1] == kNone);
  }
  void hide(Index a, Index b) {
    hidden_a_ = a;
    hidden_b_ = b;
  }
  bool is_hidden(Index x) const { return x == hidden_a_ || x == hidden_b_; }
  void place(Index x, Index y, Index s) {
    const std::size_t slot = to_[2 * std::size_t{x}] == kNone ? 2 * std::size_t{x}
                                                              : 2 * std::size_t{x} + 1;
    to_[slot] = y;
    bar_[slot] = s;
  }
  void unplace(Index x, Index y, Index s) {
    for (const Index owner : {x, y}) {
      for (std::size_t slot = 2 * std::size_t{owner}; slot < 2 * std::size_t{owner} + 2; ++slot) {
        if (bar_[slot] == s) {
          to_[slot] = bar_[slot] = kNone;
          return;
        }
      }
    }
    panic("a bar missing from the pebble game");
  }
  // One mark per node: visited by the current search, or blocked (treated as visited by every
  // search until the blocked set is cleared), never both.
  void clear_visited() {
    visit_ = ++last_mark_;
    reached_.clear();
  }
  void clear_blocked() { block_ = ++last_mark_; }
  void block(Index x) { marks_[x] = block_; }
  bool visited(Index x) const { return marks_[x] == visit_ || marks_[x] == block_; }
  void visit(Index x) {
    marks_[x] = visit_;
    reached_.push_back(x);
  }
  // Breadth-first search along out-bars from `root` for an unhidden node with a free pebble,
  // entering no visited node; on success reverses the path so the pebble is freed at `root`.
  // On failure every node entered stays visited and is listed in reached_.
  bool search(Index root) {
    if (visited(root)) return false;
    visit(root);
    if (!is_hidden(root) && free_pebbles(root) > 0) return true;
    for (std::size_t head = reached_.size() - 1; head < reached_.size(); ++head) {
      const Index x = reached_[head];
      for (std::size_t s = 2 * std::size_t{x}; s < 2 * std::size_t{x} + 2; ++s) {
        const Index w = to_[s];
        if (w == kNone || visited(w)) continue;
        visit(w);
        via_[w] = static_cast<Index>(s);
        if (is_hidden(w) || free_pebbles(w) == 0) continue;
        for (Index y = w; y != root;) {
          const std::size_t slot = via_[y];
          const Index bar = bar_[slot];
          to_[slot] = bar_[slot] = kNone;
          const auto owner = static_cast<Index>(slot / 2);
          place(y, owner, bar);
          y = owner;
        }
        return true;
      }
    }
    return false;
  }

  // Pebble game.
  std::vector<Index> to_, bar_;
  std::vector<std::uint64_t> marks_;
  std::vector<Index> via_;
  std::vector<Index> reached_;
  std::uint64_t visit_ = 1, block_ = 2, last_mark_ = 2;
  Index hidden_a_ = kNone, hidden_b_ = kNone;
  // Memberships: entry e says node entry_node_[e] is in cluster entry_cluster_[e]; it is linked
  // into the node's list and the cluster's. Recycled entries are chained through next_node.
  std::vector<Index> first_entry_, entry_node_, entry_cluster_, entry_next_node_,
      entry_next_member_;
  Index free_entry_ = kNone;
  // Clusters, by the index of the bar that made them: merged into parent_ (itself while alive),
  // bar and node counts, anchors, member list, star list, mark.
  std::vector<Index> parent_, bars_, size_, anchor_a_, anchor_b_, head_, tail_, star_head_,
      cluster_mark_;
  // Star bars: ends and the next bar of the same cluster (or of the recycled ones).
  std::vector<Index> star_i_, star_j_, star_next_;
  Index free_star_ = kNone;
  // Marks of nodes listed while a merge is found and restarred.
  std::vector<Index> node_mark_;
  std::uint64_t epoch_ = 0;
  std::vector<Index> merged_, queue_, rest_;
  std::uint64_t largest_bars_ = 0, largest_nodes_ = 0, n_clusters_ = 0;
};

// Renumbers the nodes of `edges` 0 .. m-1 in increasing order, dropping those no bar touches;
// returns m.
std::uint64_t compact_nodes(std::vector<Edge>& edges) {
  const std::size_t count = edges.size();
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
  for (Edge& e : edges) e = Edge{index(e.i), index(e.j)};
  return nodes.size();
}

template <class Index>
void run_sweep(std::uint64_t m, const std::vector<Edge>& edges, RigiditySweepResult& result) {
  const std::size_t count = edges.size();
  Sweep<Index> sweep(m, count);
  for (std::size_t k = 0; k < count; ++k) {
    poll_interrupt(sweep.work());
    bool independent = false;
    const Index cluster = sweep.add(static_cast<Index>(edges[k].i),
                                    static_cast<Index>(edges[k].j), independent);
    result.independent[k] = independent ? 1 : 0;
    result.rank += independent ? 1 : 0;
    result.component[k] = static_cast<std::int64_t>(cluster);
    result.largest_bars[k] = static_cast<std::int64_t>(sweep.largest_bars());
    result.largest_nodes[k] = static_cast<std::int64_t>(sweep.largest_nodes());
    result.n_clusters[k] = static_cast<std::int64_t>(sweep.n_clusters());
  }
  // Each bar's final cluster, numbered by first appearance.
  std::vector<Index> number(sweep.clusters_made(), Sweep<Index>::kNone);
  Index next = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const Index c = sweep.root(static_cast<Index>(result.component[k]));
    if (number[c] == Sweep<Index>::kNone) number[c] = next++;
    result.component[k] = static_cast<std::int64_t>(number[c]);
  }
}

}  // namespace

RigiditySweepResult sweep_rigidity(std::uint64_t n, const std::vector<Edge>& edges) {
  const std::size_t count = edges.size();
  checked_bytes(count, 2 * sizeof(std::uint64_t) + 4 * sizeof(std::int64_t) + 1);
  // Nodes that no bar touches play no part: when they are many, the others are renumbered.
  std::vector<Edge> compact;
  std::uint64_t m = n;
  if (n > 2 * static_cast<std::uint64_t>(count) + 2) {
    compact = edges;
    m = compact_nodes(compact);
  }
  const std::vector<Edge>& bars = compact.empty() ? edges : compact;
  checked_bytes(m, 8 * sizeof(std::uint64_t));
  RigiditySweepResult result;
  result.independent.assign(count, 0);
  result.largest_bars.assign(count, 0);
  result.largest_nodes.assign(count, 0);
  result.n_clusters.assign(count, 0);
  result.component.assign(count, 0);
  // 32-bit indices while every count they hold (nodes, twice the nodes for slots and
  // memberships, bars) stays well below 2^31.
  constexpr std::uint64_t kSmall = std::uint64_t{1} << 29;
  if (m < kSmall && count < kSmall) {
    run_sweep<std::uint32_t>(m, bars, result);
  } else {
    run_sweep<std::uint64_t>(m, bars, result);
  }
  return result;
}

}  // namespace trussel
