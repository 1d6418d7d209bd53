// Supernodal multifrontal Cholesky factorisation of sparse symmetric positive definite matrices.
#include "graph/sparse_cholesky.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace trussel {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// Columns factored together before their trailing update; the update's inner products run over
// this many terms.
constexpr std::size_t kPanelWidth = 64;
// The trailing update works on tiles of kTile x kTile entries, each a register-held sum.
constexpr std::size_t kTile = 4;

// Relaxed supernodes: a child joins its parent when the merged block has at most kRelaxColumns[r]
// columns and at most the fraction kRelaxZeros[r] of its entries are explicit zeros, for some r.
constexpr std::array<std::uint64_t, 4> kRelaxColumns{4, 16, 48, UINT64_MAX};
constexpr std::array<double, 4> kRelaxZeros{1.0, 0.8, 0.1, 0.05};

// Entries of the lower trapezoid of a supernode with k columns and m rows.
std::uint64_t trapezoid(std::uint64_t k, std::uint64_t m) { return k * m - k * (k - 1) / 2; }

// One permuted copy of the pattern: the lower triangle by columns with the caller's entry index
// of each entry, and the strict upper triangle by columns (the rows of the lower triangle).
struct Pattern {
  std::vector<std::size_t> lower_start, upper_start;
  std::vector<std::uint32_t> lower_row, upper_row;
  std::vector<std::size_t> source;
};

Pattern permuted_pattern(const SymmetricMatrix& a, const std::vector<std::uint32_t>& position) {
  const auto n = static_cast<std::size_t>(a.n);
  Pattern p;
  p.lower_start.assign(n + 1, 0);
  p.upper_start.assign(n + 1, 0);
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t t = a.start[j]; t < a.start[j + 1]; ++t) {
      const std::uint32_t pi = position[a.row[t]], pj = position[j];
      ++p.lower_start[std::min(pi, pj) + 1];
      if (pi != pj) ++p.upper_start[std::max(pi, pj) + 1];
    }
  }
  for (std::size_t j = 0; j < n; ++j) {
    p.lower_start[j + 1] += p.lower_start[j];
    p.upper_start[j + 1] += p.upper_start[j];
  }
  p.lower_row.resize(p.lower_start[n]);
  p.source.resize(p.lower_start[n]);
  p.upper_row.resize(p.upper_start[n]);
  std::vector<std::size_t> lower_fill(p.lower_start.begin(), p.lower_start.end() - 1);
  std::vector<std::size_t> upper_fill(p.upper_start.begin(), p.upper_start.end() - 1);
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t t = a.start[j]; t < a.start[j + 1]; ++t) {
      const std::uint32_t pi = position[a.row[t]], pj = position[j];
      const std::uint32_t low = std::min(pi, pj), high = std::max(pi, pj);
      p.lower_row[lower_fill[low]] = high;
      p.source[lower_fill[low]++] = t;
      if (low != high) p.upper_row[upper_fill[high]++] = low;
    }
  }
  return p;
}

// The parent of each column in the elimination tree (kNone for roots), by path-compressed
// ancestor search over the rows of the lower triangle.
std::vector<std::uint32_t> elimination_tree(const Pattern& p) {
  const std::size_t n = p.upper_start.size() - 1;
  std::vector<std::uint32_t> parent(n, kNone), ancestor(n, kNone);
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t t = p.upper_start[j]; t < p.upper_start[j + 1]; ++t) {
      std::uint32_t i = p.upper_row[t];
      while (i != kNone && i < j) {
        const std::uint32_t next = ancestor[i];
        ancestor[i] = static_cast<std::uint32_t>(j);
        if (next == kNone) parent[i] = static_cast<std::uint32_t>(j);
        i = next;
      }
    }
    poll_interrupt(p.upper_start[j + 1] - p.upper_start[j] + 1);
  }
  return parent;
}

// The columns in a postorder of the elimination tree (children in increasing order), which
// keeps every subtree's columns contiguous.
std::vector<std::uint32_t> postorder(const std::vector<std::uint32_t>& parent) {
  const std::size_t n = parent.size();
  std::vector<std::uint32_t> head(n, kNone), next(n, kNone), order;
  order.reserve(n);
  for (std::size_t j = n; j-- > 0;) {
    if (parent[j] == kNone) continue;
    next[j] = head[parent[j]];
    head[parent[j]] = static_cast<std::uint32_t>(j);
  }
  std::vector<std::uint32_t> stack;
  for (std::size_t root = 0; root < n; ++root) {
    if (parent[root] != kNone) continue;
    stack.push_back(static_cast<std::uint32_t>(root));
    while (!stack.empty()) {
      const std::uint32_t j = stack.back();
      if (head[j] != kNone) {  // descend into the next unvisited child
        const std::uint32_t child = head[j];
        head[j] = next[child];
        stack.push_back(child);
      } else {
        order.push_back(j);
        stack.pop_back();
      }
    }
  }
  return order;
}

// The number of entries of each column of L, diagonal included: row i of L is the union of the
// tree paths from the columns of row i of A up to i, each walked until it meets a node already
// counted for row i. Time O(entries of L).
std::vector<std::uint64_t> column_counts(const Pattern& p,
                                         const std::vector<std::uint32_t>& parent) {
  const std::size_t n = parent.size();
  std::vector<std::uint64_t> count(n, 0);
  std::vector<std::uint32_t> mark(n, kNone);
  for (std::size_t i = 0; i < n; ++i) {
    mark[i] = static_cast<std::uint32_t>(i);
    ++count[i];
    std::uint64_t work = 1;
    for (std::size_t t = p.upper_start[i]; t < p.upper_start[i + 1]; ++t) {
      for (std::uint32_t j = p.upper_row[t]; mark[j] != i; j = parent[j]) {
        mark[j] = static_cast<std::uint32_t>(i);
        ++count[j];
        ++work;
      }
    }
    poll_interrupt(work);
  }
  return count;
}

// On x86-64 with GCC or Clang, pairs of tiles also have an AVX2 build, taken when the processor
// has AVX2. Every entry is the same sum of the same IEEE products in the same order in both builds
// (no contraction into fused multiply-adds), so the results do not depend on the processor.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TRUSSEL_AVX2_KERNEL 1
#else
#define TRUSSEL_AVX2_KERNEL 0
#endif

// sum[s * kTile + r] = the sum over p < width of a[p * kTile + r] * b[p * kTile + s], in order
// of p: the inner products of kTile rows with kTile rows, each stored interleaved by term.
void tile_product(const double* a, const double* b, std::size_t width, double* sum) {
  std::array<double, kTile * kTile> acc{};
  for (std::size_t p = 0; p < width; ++p) {
    const double* x = a + p * kTile;
    const double* y = b + p * kTile;
    for (std::size_t s = 0; s < kTile; ++s) {
      for (std::size_t r = 0; r < kTile; ++r) acc[s * kTile + r] = acc[s * kTile + r] + x[r] * y[s];
    }
  }
  std::copy(acc.begin(), acc.end(), sum);
}

#if TRUSSEL_AVX2_KERNEL
// Four doubles, operated on lane by lane.
typedef double Lanes4 __attribute__((vector_size(4 * sizeof(double))));

// tile_product for the rows a0 and then a1 at once, for AVX2, written with explicit lanes (a lane
// per row r) so that the compiler keeps the sum over p in order instead of vectorising across it:
// eight accumulators of four lanes hide the latency of the additions.
__attribute__((target("avx2"))) void tile_pair_product_avx2(const double* a0, const double* a1,
                                                            const double* b, std::size_t width,
                                                            double* sum) {
  static_assert(kTile == 4, "one lane per row of a tile");
  Lanes4 acc[2 * kTile] = {};
  for (std::size_t p = 0; p < width; ++p) {
    Lanes4 x0, x1;
    std::memcpy(&x0, a0 + p * kTile, sizeof(x0));
    std::memcpy(&x1, a1 + p * kTile, sizeof(x1));
    for (std::size_t s = 0; s < kTile; ++s) {
      const double y = b[p * kTile + s];
      const Lanes4 ys = {y, y, y, y};
      acc[s] = acc[s] + x0 * ys;
      acc[kTile + s] = acc[kTile + s] + x1 * ys;
    }
  }
  std::memcpy(sum, acc, sizeof(acc));
}

bool has_avx2() { return __builtin_cpu_supports("avx2") != 0; }
#endif

}  // namespace

SymmetricMatrix rigidity_normal_matrix(const FloatMatrix& coords, const std::vector<Edge>& edges,
                                       double ridge) {
  const std::uint64_t n = coords.rows(), d = coords.cols();
  const std::uint64_t ncols = checked_mul(n, d);
  check(ncols < kNone, "capacity overflow");
  // Bars at each node, by increasing neighbour (then edge order), for sorted rows.
  std::vector<std::size_t> start(static_cast<std::size_t>(n) + 1, 0);
  for (const Edge& edge : edges) {
    ++start[edge.i + 1];
    ++start[edge.j + 1];
  }
  for (std::size_t v = 0; v < n; ++v) start[v + 1] += start[v];
  std::vector<std::size_t> incident(start[n]);
  {
    std::vector<std::size_t> fill(start.begin(), start.end() - 1);
    for (std::size_t e = 0; e < edges.size(); ++e) {
      incident[fill[edges[e].i]++] = e;
      incident[fill[edges[e].j]++] = e;
    }
  }
  auto other = [&](std::size_t e, std::uint64_t v) {
    return edges[e].i == v ? edges[e].j : edges[e].i;
  };
  auto delta = [&](std::size_t e, std::uint64_t v, std::uint64_t c) {
    return coords.at(v, c) - coords.at(other(e, v), c);
  };

  SymmetricMatrix a;
  a.n = ncols;
  const std::uint64_t entries =
      checked_mul(n, d * (d + 1) / 2) + checked_mul(edges.size(), d * d);  // both far below 2^64
  checked_bytes(entries, sizeof(double) + sizeof(std::uint32_t));
  a.start.reserve(static_cast<std::size_t>(ncols) + 1);
  a.row.reserve(static_cast<std::size_t>(entries));
  a.value.reserve(static_cast<std::size_t>(entries));
  std::vector<std::size_t> above;  // the bars at v whose other end comes later
  for (std::uint64_t v = 0; v < n; ++v) {
    above.clear();
    for (std::size_t t = start[v]; t < start[v + 1]; ++t) {
      if (other(incident[t], v) > v) above.push_back(incident[t]);
    }
    std::stable_sort(above.begin(), above.end(),
                     [&](std::size_t e, std::size_t f) { return other(e, v) < other(f, v); });
    for (std::uint64_t c = 0; c < d; ++c) {
      for (std::uint64_t c2 = c; c2 < d; ++c2) {
        double sum = c2 == c ? ridge : 0.0;
        for (std::size_t t = start[v]; t < start[v + 1]; ++t) {
          sum = sum + delta(incident[t], v, c) * delta(incident[t], v, c2);
        }
        a.row.push_back(static_cast<std::uint32_t>(v * d + c2));
        a.value.push_back(sum);
      }
      for (const std::size_t e : above) {
        const std::uint64_t w = other(e, v);
        for (std::uint64_t c2 = 0; c2 < d; ++c2) {
          a.row.push_back(static_cast<std::uint32_t>(w * d + c2));
          a.value.push_back(-(delta(e, v, c) * delta(e, v, c2)));
        }
      }
      a.start.push_back(a.row.size());
    }
    poll_interrupt((start[v + 1] - start[v] + 1) * d * d);
  }
  return a;
}

SparseCholesky::SparseCholesky(const SymmetricMatrix& a, const std::vector<std::uint64_t>& priority)
    : n_(a.n), entry_count_(a.row.size()) {
  check(a.n < kNone, "capacity overflow");
  const auto n = static_cast<std::size_t>(a.n);
  check(a.start.size() == n + 1 && a.start[0] == 0 && a.start[n] == a.row.size(),
        "the column starts must match the entries");
  for (std::size_t j = 0; j < n; ++j) {
    check(a.start[j] <= a.start[j + 1], "the column starts must not decrease");
    for (std::size_t t = a.start[j]; t < a.start[j + 1]; ++t) {
      check(a.row[t] >= j && a.row[t] < n, "the entries must lie in the lower triangle");
    }
  }
  check(priority.size() == n, "priority must hold one key per column");

  // The order of the keys, then a postorder of its elimination tree: the same fill, and every
  // subtree (so every supernode) becomes a run of consecutive columns.
  perm_.resize(n);
  for (std::size_t j = 0; j < n; ++j) perm_[j] = static_cast<std::uint32_t>(j);
  std::sort(perm_.begin(), perm_.end(), [&](std::uint32_t x, std::uint32_t y) {
    return priority[x] != priority[y] ? priority[x] < priority[y] : x < y;
  });
  std::vector<std::uint32_t> position(n);
  for (std::size_t k = 0; k < n; ++k) position[perm_[k]] = static_cast<std::uint32_t>(k);
  {
    const std::vector<std::uint32_t> post =
        postorder(elimination_tree(permuted_pattern(a, position)));
    std::vector<std::uint32_t> keyed = std::move(perm_);
    perm_.resize(n);
    for (std::size_t k = 0; k < n; ++k) perm_[k] = keyed[post[k]];
    for (std::size_t k = 0; k < n; ++k) position[perm_[k]] = static_cast<std::uint32_t>(k);
  }
  Pattern pattern = permuted_pattern(a, position);
  const std::vector<std::uint32_t> parent = elimination_tree(pattern);
  const std::vector<std::uint64_t> count = column_counts(pattern, parent);

  // Fundamental supernodes: column j + 1 continues j's when it is j's parent, its only child,
  // and its structure is j's without j.
  std::vector<std::uint32_t> children(n, 0);
  for (std::size_t j = 0; j < n; ++j) {
    if (parent[j] != kNone) ++children[parent[j]];
  }
  std::vector<std::uint32_t> fundamental;
  for (std::size_t j = 0; j < n; ++j) {
    if (j == 0 || parent[j - 1] != j || children[j] != 1 || count[j - 1] != count[j] + 1) {
      fundamental.push_back(static_cast<std::uint32_t>(j));
    }
  }
  fundamental.push_back(static_cast<std::uint32_t>(n));

  // Relaxed supernodes: walking up in order, the group just before a supernode joins it while
  // the parent of the group's last column lies in it and the explicit zeros stay few. A merged
  // group's structure is its columns followed by the rows below the later part.
  struct Group {
    std::uint32_t first;
    std::uint64_t columns, rows, zeros;
  };
  std::vector<Group> groups;
  for (std::size_t s = 0; s + 1 < fundamental.size(); ++s) {
    const std::uint32_t first = fundamental[s];
    const std::uint64_t columns = fundamental[s + 1] - first;
    Group group{first, columns, count[first], 0};
    const std::uint32_t last = fundamental[s + 1] - 1;
    while (!groups.empty()) {
      const Group& child = groups.back();
      const std::uint32_t above = parent[group.first - 1];
      if (above == kNone || above > last) break;
      const std::uint64_t merged_columns = child.columns + group.columns;
      const std::uint64_t merged_rows = child.columns + group.rows;
      const std::uint64_t merged_entries = trapezoid(merged_columns, merged_rows);
      const std::uint64_t merged_zeros = child.zeros + group.zeros + merged_entries -
                                         trapezoid(child.columns, child.rows) -
                                         trapezoid(group.columns, group.rows);
      bool relax = false;
      for (std::size_t r = 0; r < kRelaxColumns.size(); ++r) {
        relax = relax || (merged_columns <= kRelaxColumns[r] &&
                          static_cast<double>(merged_zeros) <=
                              kRelaxZeros[r] * static_cast<double>(merged_entries));
      }
      if (!relax) break;
      group = Group{child.first, merged_columns, merged_rows, merged_zeros};
      groups.pop_back();
    }
    groups.push_back(group);
  }

  const std::size_t supernodes = groups.size();
  first_col_.resize(supernodes + 1);
  row_start_.assign(supernodes + 1, 0);
  value_start_.assign(supernodes + 1, 0);
  std::vector<std::uint32_t> super_of(n);
  std::uint64_t rows_total = 0, values_total = 0;
  for (std::size_t s = 0; s < supernodes; ++s) {
    first_col_[s] = groups[s].first;
    const std::uint64_t k = groups[s].columns, m = groups[s].rows;
    for (std::uint64_t j = groups[s].first; j < groups[s].first + k; ++j) {
      super_of[j] = static_cast<std::uint32_t>(s);
    }
    rows_total += m;
    values_total += checked_mul(k, m);
    row_start_[s + 1] = static_cast<std::size_t>(rows_total);
    value_start_[s + 1] = static_cast<std::size_t>(values_total);
    factor_entries_ += trapezoid(k, m);
    for (std::uint64_t j = 0; j < k; ++j) {
      const auto entries = static_cast<double>(m - j);
      factor_flops_ += entries * entries;
    }
  }
  first_col_[supernodes] = static_cast<std::uint32_t>(n);
  // The peak of the stack of pending update matrices (each popped when its parent is reached)
  // and the largest update matrix.
  {
    std::uint64_t top = 0, peak = 0, largest = 0;
    std::vector<std::uint64_t> below(supernodes, 0);  // the children's update matrices
    for (std::size_t s = 0; s < supernodes; ++s) {
      const std::uint64_t u = groups[s].rows - groups[s].columns;
      const std::uint64_t size = checked_mul(u, u);
      largest = std::max(largest, size);
      top = top - below[s] + size;
      peak = std::max(peak, top);
      const std::uint32_t up = parent[first_col_[s + 1] - 1];
      if (up != kNone) below[super_of[up]] += size;
    }
    stack_size_ = checked_bytes(peak, sizeof(double)) / sizeof(double);
    front_size_ = checked_bytes(largest, sizeof(double)) / sizeof(double);
  }
  checked_bytes(values_total, sizeof(double));
  checked_bytes(rows_total, sizeof(std::uint32_t));
  row_.resize(static_cast<std::size_t>(rows_total));
  // Left uninitialised: each supernode clears its block before assembling into it.
  factor_.reset(new double[static_cast<std::size_t>(values_total)]);

  super_parent_.assign(supernodes, kNone);
  child_start_.assign(supernodes + 1, 0);
  for (std::size_t s = 0; s < supernodes; ++s) {
    const std::uint32_t up = parent[first_col_[s + 1] - 1];
    if (up == kNone) continue;
    super_parent_[s] = super_of[up];
    ++child_start_[super_of[up] + 1];
  }
  for (std::size_t s = 0; s < supernodes; ++s) child_start_[s + 1] += child_start_[s];
  child_.resize(child_start_[supernodes]);
  {
    std::vector<std::size_t> fill(child_start_.begin(), child_start_.end() - 1);
    for (std::size_t s = 0; s < supernodes; ++s) {
      if (super_parent_[s] != kNone)
        child_[fill[super_parent_[s]]++] = static_cast<std::uint32_t>(s);
    }
  }

  // Each supernode's rows: its columns, then the rows below them of its columns of A and of its
  // children's structures.
  std::vector<std::uint32_t> mark(n, kNone);
  for (std::size_t s = 0; s < supernodes; ++s) {
    const std::uint32_t first = first_col_[s], end = first_col_[s + 1];
    std::uint32_t* rows = row_.data() + row_start_[s];
    std::size_t size = 0;
    for (std::uint32_t j = first; j < end; ++j) {
      rows[size++] = j;
      mark[j] = static_cast<std::uint32_t>(s);
    }
    auto add = [&](std::uint32_t i) {
      if (mark[i] == s) return;
      check(size < row_start_[s + 1] - row_start_[s], "supernode structure exceeds its count");
      mark[i] = static_cast<std::uint32_t>(s);
      rows[size++] = i;
    };
    for (std::uint32_t j = first; j < end; ++j) {
      for (std::size_t t = pattern.lower_start[j]; t < pattern.lower_start[j + 1]; ++t) {
        add(pattern.lower_row[t]);
      }
    }
    for (std::size_t t = child_start_[s]; t < child_start_[s + 1]; ++t) {
      const std::uint32_t c = child_[t];
      const std::size_t below = row_start_[c] + (first_col_[c + 1] - first_col_[c]);
      for (std::size_t r = below; r < row_start_[c + 1]; ++r) add(row_[r]);
    }
    check(size == row_start_[s + 1] - row_start_[s], "supernode structure differs from its count");
    std::sort(rows + (end - first), rows + size);
    poll_interrupt(size + 1);
  }

  a_start_ = std::move(pattern.lower_start);
  a_row_ = std::move(pattern.lower_row);
  a_source_ = std::move(pattern.source);
}

// The buffers of one numeric factorisation. The update matrices waiting for their parents form a
// stack: in a postorder, a supernode's children are the last ones pushed when it is reached.
struct SparseCholesky::Workspace {
  std::unique_ptr<double[]> stack;      // pending update matrices, each u x u column-major
  std::size_t top = 0;                  // doubles in use on the stack
  std::vector<std::size_t> offset;      // where each pending update matrix starts
  std::unique_ptr<double[]> front;      // the update matrix of the supernode being factored
  std::vector<std::uint32_t> map;       // the position of each row in the current supernode
  std::vector<std::uint32_t> position;  // a child's rows in the current supernode
  std::vector<double> packed;           // rows of a block of columns, interleaved by tile
  bool avx2 = false;
};

bool SparseCholesky::factorize(const std::vector<double>& value) {
  check(value.size() == entry_count_, "value must hold one entry per pattern entry");
  factored_ = false;
  const std::size_t supernodes = first_col_.size() - 1;
  Workspace work;
  // Left uninitialised: only the lower triangles are used, and they are cleared before use.
  work.stack.reset(new double[stack_size_]);
  work.front.reset(new double[front_size_]);
  work.offset.assign(supernodes, 0);
  work.map.assign(static_cast<std::size_t>(n_), 0);
#if TRUSSEL_AVX2_KERNEL
  work.avx2 = !portable_kernel_ && has_avx2();
#endif
  for (std::size_t s = 0; s < supernodes; ++s) {
    if (!factor_supernode(s, value, work)) return false;
  }
  factored_ = true;
  return true;
}

bool SparseCholesky::factor_supernode(std::size_t s, const std::vector<double>& value,
                                      Workspace& work) {
  std::vector<std::uint32_t>& map = work.map;
  std::vector<double>& packed = work.packed;
  const std::uint32_t first = first_col_[s];
  const std::size_t k = first_col_[s + 1] - first;
  const std::size_t m = row_start_[s + 1] - row_start_[s];
  const std::size_t u = m - k;
  const std::uint32_t* rows = row_.data() + row_start_[s];
  double* panel = factor_.get() + value_start_[s];  // column-major, m x k
  std::fill(panel, panel + m * k, 0.0);
  // Column-major, u x u, rows and columns k .. m - 1; only the lower triangle is used.
  double* const update = work.front.get();
  for (std::size_t j = 0; j < u; ++j) std::fill(update + j * u + j, update + (j + 1) * u, 0.0);
  for (std::size_t r = 0; r < m; ++r) map[rows[r]] = static_cast<std::uint32_t>(r);

  // Assembly: the supernode's columns of A, then the children's update matrices (extend-add).
  for (std::size_t j = 0; j < k; ++j) {
    double* column = panel + j * m;
    for (std::size_t t = a_start_[first + j]; t < a_start_[first + j + 1]; ++t) {
      column[map[a_row_[t]]] = column[map[a_row_[t]]] + value[a_source_[t]];
    }
  }
  std::vector<std::uint32_t>& position = work.position;
  for (std::size_t t = child_start_[s]; t < child_start_[s + 1]; ++t) {
    const std::uint32_t c = child_[t];
    const std::size_t kc = first_col_[c + 1] - first_col_[c];
    const std::size_t uc = row_start_[c + 1] - row_start_[c] - kc;
    const std::uint32_t* below = row_.data() + row_start_[c] + kc;
    position.resize(uc);
    for (std::size_t r = 0; r < uc; ++r) position[r] = map[below[r]];
    const double* source = work.stack.get() + work.offset[c];
    for (std::size_t jj = 0; jj < uc; ++jj) {
      const std::size_t col = position[jj];
      double* target = col < k ? panel + col * m : update + (col - k) * u;
      const std::size_t offset = col < k ? 0 : k;
      for (std::size_t ii = jj; ii < uc; ++ii) {
        const std::size_t at = position[ii] - offset;
        target[at] = target[at] + source[ii + jj * uc];
      }
    }
    poll_interrupt(uc * uc / 2 + 1);
  }
  if (child_start_[s] < child_start_[s + 1]) work.top = work.offset[child_[child_start_[s]]];

  // Blocked right-looking Cholesky of the front [panel | update]: each block of columns is
  // factored left-looking within itself, then its contribution to every later column (the rest of
  // the panel and the update matrix) is subtracted tile by tile.
  for (std::size_t c0 = 0; c0 < k; c0 += kPanelWidth) {
    const std::size_t c1 = std::min(k, c0 + kPanelWidth);
    for (std::size_t j = c0; j < c1; ++j) {
      double* column = panel + j * m;
      for (std::size_t p = c0; p < j; ++p) {
        const double* left = panel + p * m;
        const double g = left[j];
        for (std::size_t i = j; i < m; ++i) column[i] = column[i] - left[i] * g;
      }
      const double pivot = column[j];
      if (!(pivot > 0.0)) return false;
      const double root = std::sqrt(pivot);
      column[j] = root;
      for (std::size_t i = j + 1; i < m; ++i) column[i] = column[i] / root;
    }
    const std::size_t rest = m - c1;
    if (rest == 0) continue;
    // Rows c1 .. m - 1 of the block, kTile rows at a time, interleaved by column, zero-padded.
    const std::size_t width = c1 - c0;
    const std::size_t tiles = (rest + kTile - 1) / kTile;
    if (packed.size() < tiles * kTile * width) packed.resize(tiles * kTile * width);
    for (std::size_t p = 0; p < width; ++p) {
      const double* column = panel + (c0 + p) * m + c1;
      for (std::size_t r = 0; r < rest; ++r) {
        packed[(r / kTile * width + p) * kTile + r % kTile] = column[r];
      }
      for (std::size_t r = rest; r < tiles * kTile; ++r) {
        packed[(r / kTile * width + p) * kTile + r % kTile] = 0.0;
      }
    }
    std::array<double, 2 * kTile * kTile> sum{};
    auto subtract = [&](std::size_t it, std::size_t jt, const double* tile) {
      for (std::size_t sc = 0; sc < kTile; ++sc) {
        const std::size_t j = c1 + jt * kTile + sc;
        if (j >= m) break;
        double* target = j < k ? panel + j * m : update + (j - k) * u;
        const std::size_t offset = j < k ? 0 : k;
        for (std::size_t sr = 0; sr < kTile; ++sr) {
          const std::size_t i = c1 + it * kTile + sr;
          if (i < j || i >= m) continue;
          target[i - offset] = target[i - offset] - tile[sc * kTile + sr];
        }
      }
    };
    for (std::size_t jt = 0; jt < tiles; ++jt) {
      const double* b = packed.data() + jt * kTile * width;
      std::size_t it = jt;
#if TRUSSEL_AVX2_KERNEL
      if (work.avx2) {
        for (; it + 1 < tiles; it += 2) {
          tile_pair_product_avx2(packed.data() + it * kTile * width,
                                 packed.data() + (it + 1) * kTile * width, b, width, sum.data());
          subtract(it, jt, sum.data());
          subtract(it + 1, jt, sum.data() + kTile * kTile);
        }
      }
#endif
      for (; it < tiles; ++it) {
        tile_product(packed.data() + it * kTile * width, b, width, sum.data());
        subtract(it, jt, sum.data());
      }
      poll_interrupt((tiles - jt) * kTile * kTile * width + 1);
    }
  }
  // Onto the stack, where the children's update matrices were.
  work.offset[s] = work.top;
  for (std::size_t j = 0; j < u; ++j) {
    std::copy(update + j * u + j, update + (j + 1) * u, work.stack.get() + work.top + j * u + j);
  }
  work.top += u * u;
  return true;
}

std::vector<double> SparseCholesky::solve(std::vector<double> b) const {
  check(b.size() == n_, "b must hold one entry per column");
  check(factored_, "solve needs a successful factorisation");
  const auto n = static_cast<std::size_t>(n_);
  std::vector<double> y(n);
  for (std::size_t k = 0; k < n; ++k) y[k] = b[perm_[k]];
  const std::size_t supernodes = first_col_.size() - 1;
  std::vector<double> local;
  // L y' = y, supernode by supernode: the diagonal block's triangle, then its rows below.
  for (std::size_t s = 0; s < supernodes; ++s) {
    const std::size_t k = first_col_[s + 1] - first_col_[s];
    const std::size_t m = row_start_[s + 1] - row_start_[s];
    const std::uint32_t* rows = row_.data() + row_start_[s];
    const double* panel = factor_.get() + value_start_[s];
    local.resize(m);
    for (std::size_t r = 0; r < m; ++r) local[r] = y[rows[r]];
    for (std::size_t j = 0; j < k; ++j) {
      const double* column = panel + j * m;
      const double x = local[j] / column[j];
      local[j] = x;
      for (std::size_t i = j + 1; i < m; ++i) local[i] = local[i] - column[i] * x;
    }
    for (std::size_t r = 0; r < m; ++r) y[rows[r]] = local[r];
    poll_interrupt(m * k + 1);
  }
  // Lᵀ x = y', in reverse: the rows below are final when a supernode is reached.
  for (std::size_t s = supernodes; s-- > 0;) {
    const std::size_t k = first_col_[s + 1] - first_col_[s];
    const std::size_t m = row_start_[s + 1] - row_start_[s];
    const std::uint32_t* rows = row_.data() + row_start_[s];
    const double* panel = factor_.get() + value_start_[s];
    local.resize(m);
    for (std::size_t r = 0; r < m; ++r) local[r] = y[rows[r]];
    for (std::size_t j = k; j-- > 0;) {
      const double* column = panel + j * m;
      double sum = local[j];
      for (std::size_t i = j + 1; i < m; ++i) sum = sum - column[i] * local[i];
      local[j] = sum / column[j];
    }
    for (std::size_t r = 0; r < k; ++r) y[rows[r]] = local[r];
    poll_interrupt(m * k + 1);
  }
  for (std::size_t k = 0; k < n; ++k) b[perm_[k]] = y[k];
  return b;
}

}  // namespace trussel
