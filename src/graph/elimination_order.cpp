// A fill-reducing order of the nodes of a graph, for sparse elimination of its rigidity rows.
#include "graph/elimination_order.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace trussel {
namespace {

// Parts this small are ordered as they are: their fill is bounded by their size anyway.
constexpr std::size_t kLeafSize = 16;

struct Adjacency {
  std::vector<std::size_t> start;
  std::vector<std::uint32_t> target;
};

Adjacency adjacency(std::uint64_t n, const std::vector<Edge>& edges) {
  Adjacency graph;
  graph.start.assign(static_cast<std::size_t>(n) + 1, 0);
  for (const Edge& edge : edges) {
    ++graph.start[edge.i + 1];
    ++graph.start[edge.j + 1];
  }
  for (std::size_t v = 0; v < n; ++v) graph.start[v + 1] += graph.start[v];
  graph.target.resize(graph.start[n]);
  std::vector<std::size_t> fill(graph.start.begin(), graph.start.end() - 1);
  for (const Edge& edge : edges) {
    graph.target[fill[edge.i]++] = static_cast<std::uint32_t>(edge.j);
    graph.target[fill[edge.j]++] = static_cast<std::uint32_t>(edge.i);
  }
  return graph;
}

class Dissection {
 public:
  Dissection(std::uint64_t n, const std::vector<Edge>& edges)
      : graph_(adjacency(n, edges)),
        part_(static_cast<std::size_t>(n), 0),
        level_(static_cast<std::size_t>(n), 0),
        position_(static_cast<std::size_t>(n), 0) {}

  std::vector<std::uint32_t> run() {
    std::vector<std::uint32_t> all(part_.size());
    for (std::size_t v = 0; v < all.size(); ++v) all[v] = static_cast<std::uint32_t>(v);
    stack_.push_back({std::move(all), 0});
    while (!stack_.empty()) {
      Task task = std::move(stack_.back());
      stack_.pop_back();
      split(std::move(task));
    }
    return std::move(position_);
  }

 private:
  struct Task {
    std::vector<std::uint32_t> nodes;
    std::uint32_t first;  // the positions of the part are first .. first + size - 1
  };

  // Breadth-first search from `root` inside the part marked `stamp`; returns the visited nodes in
  // order and sets their level.
  std::vector<std::uint32_t> search(std::uint32_t root, std::uint64_t stamp) {
    std::vector<std::uint32_t> order{root};
    part_[root] = stamp + 1;
    level_[root] = 0;
    for (std::size_t head = 0; head < order.size(); ++head) {
      const std::uint32_t v = order[head];
      for (std::size_t t = graph_.start[v]; t < graph_.start[v + 1]; ++t) {
        const std::uint32_t w = graph_.target[t];
        if (part_[w] != stamp) continue;
        part_[w] = stamp + 1;
        level_[w] = level_[v] + 1;
        order.push_back(w);
      }
      poll_interrupt(graph_.start[v + 1] - graph_.start[v] + 1);
    }
    return order;
  }

  void place(const std::vector<std::uint32_t>& nodes, std::uint32_t first) {
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      position_[nodes[k]] = first + static_cast<std::uint32_t>(k);
    }
  }

  void split(Task task) {
    std::vector<std::uint32_t>& nodes = task.nodes;
    if (nodes.size() <= kLeafSize) {
      place(nodes, task.first);
      return;
    }
    // Each part gets two fresh stamps: `stamp` while unvisited, stamp + 1 once visited.
    const std::uint64_t stamp = next_stamp_;
    next_stamp_ += 2;
    for (const std::uint32_t v : nodes) part_[v] = stamp;
    std::vector<std::uint32_t> reached = search(nodes.front(), stamp);
    if (reached.size() < nodes.size()) {
      // Several connected pieces: each is a part of its own, and no separator is needed.
      std::uint32_t first = task.first;
      for (const std::uint32_t v : nodes) {
        if (part_[v] != stamp) continue;
        std::vector<std::uint32_t> piece = search(v, stamp);
        const auto size = static_cast<std::uint32_t>(piece.size());
        stack_.push_back({std::move(piece), first});
        first += size;
      }
      stack_.push_back({std::move(reached), first});
      return;
    }
    // A second search from the last node reached (a far node) gives long, thin level sets.
    const std::uint32_t far = reached.back();
    for (const std::uint32_t v : nodes) part_[v] = stamp;
    reached = search(far, stamp);
    const std::uint32_t middle = level_[reached[reached.size() / 2]];
    std::vector<std::uint32_t> low, high, separator;
    for (const std::uint32_t v : reached) {
      if (level_[v] < middle) {
        low.push_back(v);
      } else if (level_[v] > middle) {
        high.push_back(v);
      } else {
        separator.push_back(v);
      }
    }
    if (low.empty() && high.empty()) {  // one level: nothing to split
      place(separator, task.first);
      return;
    }
    const auto low_size = static_cast<std::uint32_t>(low.size());
    const auto high_size = static_cast<std::uint32_t>(high.size());
    place(separator, task.first + low_size + high_size);
    stack_.push_back({std::move(low), task.first});
    stack_.push_back({std::move(high), task.first + low_size});
  }

  Adjacency graph_;
  std::vector<std::uint64_t> part_;
  std::vector<std::uint32_t> level_;
  std::vector<std::uint32_t> position_;
  std::vector<Task> stack_;
  std::uint64_t next_stamp_ = 1;
};

}  // namespace

std::vector<std::uint32_t> nested_dissection_order(std::uint64_t n,
                                                   const std::vector<Edge>& edges) {
  check(n < 0xFFFFFFFFu, "capacity overflow");
  checked_bytes(n, 2 * sizeof(std::uint64_t) + 3 * sizeof(std::uint32_t));
  checked_bytes(edges.size(), 2 * sizeof(std::uint32_t));
  return Dissection(n, edges).run();
}

std::vector<std::uint64_t> column_priority(const std::vector<std::uint32_t>& position,
                                           std::uint64_t d) {
  std::vector<std::uint64_t> priority(checked_bytes(checked_mul(position.size(), d), 8) / 8);
  for (std::size_t v = 0; v < position.size(); ++v) {
    for (std::uint64_t c = 0; c < d; ++c) priority[v * d + c] = position[v] * d + c;
  }
  return priority;
}

}  // namespace trussel
