// Rigidity percolation in one pass: bars added one at a time to a plane graph, the rigid clusters
// kept up to date after every bar.
#include "graph/rigidity_sweep.hpp"

#include <algorithm>
#include <limits>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace trussel {
namespace {

// The sweep over m nodes and `count` bars, with node, cluster, membership and star indices of
// type Index (32 bits whenever they fit, which halves the memory of the large arrays).
//
// Clusters are the rigid components of the bars so far: they partition the bars, two share at
// most one node, and each is held in the pebble game as a star on its two anchors (the bar
// between them and a bar from every other node to each), which spans the same motions as its
// bars. Every node keeps the list of clusters holding it (memberships); every cluster the list
// of its nodes and of its star bars. What one step reads of a node, a cluster or a membership
// sits together in one record, since the steps jump about the arrays at random.
template <class Index>
class Sweep {
 public:
  static constexpr Index kNone = std::numeric_limits<Index>::max();

  Sweep(std::uint64_t m, std::size_t count) : nodes_(static_cast<std::size_t>(m)) {
    // At most one cluster per independent bar, 2m - 3 of them at most; the reservations are
    // touched only as they are used.
    const std::size_t clusters = std::min<std::size_t>(count, static_cast<std::size_t>(2 * m));
    clusters_.reserve(clusters);
    stars_.reserve(clusters);
    entries_.reserve(2 * clusters);
  }

  // Adds bar (u, v); returns its cluster, and whether the bar is independent.
  Index add(Index u, Index v, bool& independent) {
    const Index common = common_cluster(u, v);
    if (common != kNone) {
      const std::uint64_t bars = ++clusters_[common].bars;
      largest_bars_ = std::max(largest_bars_, bars);
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
    place(v, u, new_star(u, v, cluster));
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
    while (clusters_[c].parent != c) {
      clusters_[c].parent = clusters_[clusters_[c].parent].parent;
      c = clusters_[c].parent;
    }
    return c;
  }
  std::size_t clusters_made() const { return clusters_.size(); }

 private:
  // A node: its two pebble slots, each empty (a free pebble, kNone) or holding a star bar
  // directed out of the node; its first membership; and marks.
  struct Node {
    Index to[2] = {kNone, kNone};
    Index bar[2] = {kNone, kNone};
    Index first = kNone;  // first membership
    Index mark = 0;       // listed while a merge is found or restarred
    Index via = 0;        // the slot of the bar a search entered the node by
    Index visit = 0;      // visited by the search or in the blocked set of that mark
  };
  // A cluster, by the index of the bar that made it: merged into `parent` (itself while alive).
  struct Cluster {
    Index parent, bars, size, anchor_a, anchor_b;
    Index head, tail;  // memberships, in order
    Index stars;       // first star bar
    Index mark;
  };
  // Node `node` is in cluster `cluster`; linked into the lists of both. Recycled ones are
  // chained through next_node.
  struct Entry {
    Index node, cluster, next_node, next_member;
  };
  // A star bar between i and j and the next one of its cluster (or of the recycled ones).
  struct Star {
    Index i, j, next;
  };

  // --- Memberships ---

  Index common_cluster(Index u, Index v) const {
    for (Index e = nodes_[u].first; e != kNone; e = entries_[e].next_node) {
      for (Index f = nodes_[v].first; f != kNone; f = entries_[f].next_node) {
        if (entries_[e].cluster == entries_[f].cluster) return entries_[e].cluster;
      }
    }
    return kNone;
  }
  bool holds(Index c, Index x) const {
    for (Index e = nodes_[x].first; e != kNone; e = entries_[e].next_node) {
      if (entries_[e].cluster == c) return true;
    }
    return false;
  }
  // Appends membership e to the member list of cluster c.
  void append_member(Index c, Index e) {
    entries_[e].cluster = c;
    entries_[e].next_member = kNone;
    Cluster& cluster = clusters_[c];
    if (cluster.tail == kNone) {
      cluster.head = e;
    } else {
      entries_[cluster.tail].next_member = e;
    }
    cluster.tail = e;
  }
  void enter(Index c, Index x) {
    Index e = free_entry_;
    if (e != kNone) {
      free_entry_ = entries_[e].next_node;
      entries_[e].node = x;
    } else {
      e = static_cast<Index>(entries_.size());
      entries_.push_back({x, c, kNone, kNone});
    }
    entries_[e].next_node = nodes_[x].first;
    nodes_[x].first = e;
    append_member(c, e);
  }
  Index make_cluster(Index u, Index v) {
    const auto c = static_cast<Index>(clusters_.size());
    clusters_.push_back({c, 1, 2, u, v, kNone, kNone, kNone, 0});
    enter(c, u);
    enter(c, v);
    return c;
  }
  // Moves the nodes of cluster `from` into `into` (which holds at most one of them already).
  void absorb(Index into, Index from) {
    for (Index e = clusters_[from].head; e != kNone;) {
      const Index next = entries_[e].next_member;
      const Index x = entries_[e].node;
      if (holds(into, x)) {
        // Unlink e from the node's list and recycle it.
        Index* link = &nodes_[x].first;
        while (*link != e) link = &entries_[*link].next_node;
        *link = entries_[e].next_node;
        entries_[e].next_node = free_entry_;
        free_entry_ = e;
      } else {
        append_member(into, e);
      }
      e = next;
    }
    clusters_[from].head = clusters_[from].tail = kNone;
    clusters_[from].parent = into;
  }

  // --- Star bars ---

  Index new_star(Index x, Index y, Index c) {
    Index s = free_star_;
    if (s != kNone) {
      free_star_ = stars_[s].next;
      stars_[s] = {x, y, kNone};
    } else {
      s = static_cast<Index>(stars_.size());
      stars_.push_back({x, y, kNone});
    }
    stars_[s].next = clusters_[c].stars;
    clusters_[c].stars = s;
    return s;
  }
  // Takes the star bars of cluster c out of the game; returns how many there were.
  std::uint64_t remove_stars(Index c) {
    std::uint64_t removed = 0;
    for (Index s = clusters_[c].stars; s != kNone;) {
      const Index next = stars_[s].next;
      unplace(stars_[s].i, stars_[s].j, s);
      stars_[s].next = free_star_;
      free_star_ = s;
      ++removed;
      s = next;
    }
    clusters_[c].stars = kNone;
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
    const auto joined = static_cast<Index>(2 * epoch_), refused = static_cast<Index>(joined + 1);
    clear_blocked();
    merged_.assign({b});
    queue_.clear();
    clusters_[b].mark = joined;
    Index big = kNone;
    auto list = [&](Index x) {
      Node& node = nodes_[x];
      if (node.mark == joined) return;
      node.mark = joined;
      node.visit = block_;
      queue_.push_back(x);
    };
    auto list_cluster = [&](Index c) {
      for (Index e = clusters_[c].head; e != kNone; e = entries_[e].next_member) {
        list(entries_[e].node);
      }
    };
    auto join = [&](Index c) {
      clusters_[c].mark = joined;
      merged_.push_back(c);
      if (big == kNone || clusters_[c].size > clusters_[big].size) {
        if (big != kNone) list_cluster(big);
        big = c;
      } else {
        list_cluster(c);
      }
    };
    // Whether node y is known to join: every joining cluster but the largest is listed.
    auto known = [&](Index y) {
      return nodes_[y].mark == joined || (big != kNone && holds(big, y));
    };
    list(u);
    list(v);
    for (std::size_t at = 0; at < queue_.size(); ++at) {
      poll_interrupt(reached_.size() + 1);  // a merge can list most of the nodes
      const Index z = queue_[at];
      for (Index e = nodes_[z].first; e != kNone; e = entries_[e].next_node) {
        const Index c = entries_[e].cluster;
        Cluster& cluster = clusters_[c];
        if (cluster.mark == joined || cluster.mark == refused) continue;
        const Index y = cluster.anchor_a != z ? cluster.anchor_a : cluster.anchor_b;
        // A free pebble on y (never on u or v, which are listed) keeps the cluster out at once.
        if (nodes_[y].mark != joined && free_pebbles(y) > 0) {
          cluster.mark = refused;
          continue;
        }
        if (known(y)) {
          join(c);
          continue;
        }
        clear_visited();
        if (search(y)) {
          clusters_[c].mark = refused;
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
      if (clusters_[c].size > clusters_[base].size) base = c;
    }
    std::uint64_t removed = 0, bars = 0;
    for (Index c : merged_) {
      bars += clusters_[c].bars;
      if (c != base) removed += remove_stars(c);
    }
    ++epoch_;
    const auto rest_mark = static_cast<Index>(2 * epoch_);
    rest_.clear();
    for (Index c : merged_) {
      if (c == base) continue;
      for (Index e = clusters_[c].head; e != kNone; e = entries_[e].next_member) {
        const Index x = entries_[e].node;
        if (nodes_[x].mark == rest_mark || holds(base, x)) continue;
        nodes_[x].mark = rest_mark;
        rest_.push_back(x);
      }
    }
    const Index a = clusters_[base].anchor_a, b = clusters_[base].anchor_b;
    for (Index x : rest_) {
      add_star(base, x, a);
      add_star(base, x, b);
    }
    check(2 * rest_.size() == removed, "a rigid cluster that is not tight");
    for (Index c : merged_) {
      if (c != base) absorb(base, c);
    }
    Cluster& merged = clusters_[base];
    merged.bars = static_cast<Index>(bars);
    merged.size = static_cast<Index>(merged.size + rest_.size());
    n_clusters_ -= merged_.size() - 1;
    largest_bars_ = std::max(largest_bars_, bars);
    largest_nodes_ = std::max<std::uint64_t>(largest_nodes_, merged.size);
  }

  // --- The pebble game ---

  int free_pebbles(Index x) const {
    return static_cast<int>(nodes_[x].to[0] == kNone) + static_cast<int>(nodes_[x].to[1] == kNone);
  }
  void hide(Index a, Index b) {
    hidden_a_ = a;
    hidden_b_ = b;
  }
  bool is_hidden(Index x) const { return x == hidden_a_ || x == hidden_b_; }
  // Puts star bar s, directed x to y, in a free slot of x.
  void place(Index x, Index y, Index s) {
    Node& node = nodes_[x];
    const int slot = node.to[0] == kNone ? 0 : 1;
    node.to[slot] = y;
    node.bar[slot] = s;
  }
  void unplace(Index x, Index y, Index s) {
    for (const Index owner : {x, y}) {
      Node& node = nodes_[owner];
      for (int slot = 0; slot < 2; ++slot) {
        if (node.bar[slot] == s) {
          node.to[slot] = node.bar[slot] = kNone;
          return;
        }
      }
    }
    panic("a bar missing from the pebble game");
  }
  // Fresh marks for a visited set or a blocked set; when they run out, every node is unmarked
  // and they start again.
  Index next_mark() {
    if (last_mark_ >= kNone - 2) {
      for (Node& node : nodes_) node.visit = 0;
      last_mark_ = 0;
      visit_ = ++last_mark_;
      block_ = ++last_mark_;
    }
    return ++last_mark_;
  }
  void clear_visited() {
    visit_ = next_mark();
    reached_.clear();
  }
  void clear_blocked() { block_ = next_mark(); }
  // Visited by the current search, or blocked (treated as visited by every search until the
  // blocked set is cleared).
  bool visited(Index x) const { return nodes_[x].visit == visit_ || nodes_[x].visit == block_; }
  // Breadth-first search along out-bars from `root` for an unhidden node with a free pebble,
  // entering no visited node; on success reverses the path so the pebble is freed at `root`.
  // On failure every node entered stays visited and is listed in reached_.
  bool search(Index root) {
    if (visited(root)) return false;
    nodes_[root].visit = visit_;
    reached_.push_back(root);
    if (!is_hidden(root) && free_pebbles(root) > 0) return true;
    for (std::size_t head = reached_.size() - 1; head < reached_.size(); ++head) {
      const Index x = reached_[head];
      for (Index s = 0; s < 2; ++s) {
        const Index w = nodes_[x].to[s];
        if (w == kNone || visited(w)) continue;
        Node& next = nodes_[w];
        next.visit = visit_;
        reached_.push_back(w);
        next.via = static_cast<Index>(2 * head + s);
        if (is_hidden(w) || free_pebbles(w) == 0) continue;
        // Turn the bars of the path around from the far end: each reversal fills the slot that
        // the previous one emptied, the first one the free slot of w.
        for (Index y = w; y != root;) {
          const Index via = nodes_[y].via;
          const Index owner = reached_[via / 2];
          Node& from = nodes_[owner];
          const Index bar = from.bar[via % 2];
          from.to[via % 2] = from.bar[via % 2] = kNone;
          place(y, owner, bar);
          y = owner;
        }
        return true;
      }
    }
    return false;
  }

  std::vector<Node> nodes_;
  std::vector<Index> reached_;
  Index visit_ = 1, block_ = 2, last_mark_ = 2;
  Index hidden_a_ = kNone, hidden_b_ = kNone;
  std::vector<Entry> entries_;
  Index free_entry_ = kNone;
  std::vector<Cluster> clusters_;
  std::vector<Star> stars_;
  Index free_star_ = kNone;
  std::uint64_t epoch_ = 0;  // marks of nodes and clusters: 2 epoch and 2 epoch + 1
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

// 32-bit indices serve while nodes and bars stay below this: every count they hold (twice the
// nodes for memberships, marks of 2 (epoch + 1) with two epochs per bar) then fits.
constexpr std::uint64_t kNarrowLimit = std::uint64_t{1} << 28;

template <class Index>
void run_sweep(std::uint64_t m, const std::vector<Edge>& edges, RigiditySweepResult& result) {
  const std::size_t count = edges.size();
  Sweep<Index> sweep(m, count);
  for (std::size_t k = 0; k < count; ++k) {
    poll_interrupt(sweep.work());
    bool independent = false;
    const Index cluster =
        sweep.add(static_cast<Index>(edges[k].i), static_cast<Index>(edges[k].j), independent);
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

RigiditySweepResult sweep_rigidity_with_width(std::uint64_t n, const std::vector<Edge>& edges,
                                              bool wide) {
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
  if (wide) {
    run_sweep<std::uint64_t>(m, bars, result);
  } else {
    check(m < kNarrowLimit && count < kNarrowLimit, "capacity overflow");
    run_sweep<std::uint32_t>(m, bars, result);
  }
  return result;
}

RigiditySweepResult sweep_rigidity(std::uint64_t n, const std::vector<Edge>& edges) {
  // The node count that matters is at most 2E + 2 once untouched nodes are dropped.
  const std::uint64_t m =
      std::min<std::uint64_t>(n, 2 * static_cast<std::uint64_t>(edges.size()) + 2);
  return sweep_rigidity_with_width(n, edges, m >= kNarrowLimit || edges.size() >= kNarrowLimit);
}

}  // namespace trussel
