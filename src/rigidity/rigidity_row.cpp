// Rigidity-matrix rows of bars and the rank bound of a framework.
#include "rigidity/rigidity_row.hpp"

#include "common/errors.hpp"

namespace trussel {

RigidityRow RigidityRow::make(const NodeList& nodes, std::uint64_t i, std::uint64_t j) {
  const std::uint64_t n = nodes.size();
  check(i < n && j < n, "bar endpoint is not a node of the framework");
  const std::vector<double>& pi = nodes[i].coords;
  const std::vector<double>& pj = nodes[j].coords;
  const std::uint64_t d = pi.size();
  check_eq(d, pj.size(), "Nodes must all have the same dimension");
  checked_bytes(checked_mul(n, d), sizeof(double));

  RigidityRow row;
  row.values.assign(static_cast<std::size_t>(n * d), 0.0);
  row.i = i;
  row.j = j;
  // The difference is formed once and negated for node j, so equal coordinates give +0.0 in
  // node i's block and -0.0 in node j's (which wins when i == j).
  for (std::uint64_t c = 0; c < d; ++c) {
    const double delta = pi[c] - pj[c];
    row.values[i * d + c] = delta;
    row.values[j * d + c] = -delta;
  }
  return row;
}

namespace {

// Full 64 x 64 -> 128-bit product from 32-bit halves.
WideCount multiply(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t a_lo = a & 0xFFFFFFFFu, a_hi = a >> 32;
  const std::uint64_t b_lo = b & 0xFFFFFFFFu, b_hi = b >> 32;
  const std::uint64_t lo_lo = a_lo * b_lo;
  const std::uint64_t hi_lo = a_hi * b_lo;
  const std::uint64_t lo_hi = a_lo * b_hi;
  const std::uint64_t hi_hi = a_hi * b_hi;
  const std::uint64_t middle = (lo_lo >> 32) + (hi_lo & 0xFFFFFFFFu) + (lo_hi & 0xFFFFFFFFu);
  WideCount result;
  result.lo = (middle << 32) | (lo_lo & 0xFFFFFFFFu);
  result.hi = hi_hi + (hi_lo >> 32) + (lo_hi >> 32) + (middle >> 32);
  return result;
}

bool less(const WideCount& a, const WideCount& b) {
  return a.hi != b.hi ? a.hi < b.hi : a.lo < b.lo;
}

}  // namespace

WideCount rank_bound(std::uint64_t n, std::uint64_t d) {
  const WideCount nd = multiply(n, d);
  // d(d+1) = d*d + d; the sum cannot overflow 128 bits, and halving it is exact.
  WideCount dd = multiply(d, d);
  dd.lo += d;
  if (dd.lo < d) ++dd.hi;
  const WideCount half{dd.hi >> 1, (dd.lo >> 1) | (dd.hi << 63)};
  if (less(nd, half)) return {};
  WideCount result{nd.hi - half.hi, nd.lo - half.lo};
  if (nd.lo < half.lo) --result.hi;
  return result;
}

std::uint64_t max_rank(std::uint64_t n, std::uint64_t d) {
  const WideCount bound = rank_bound(n, d);
  check(bound.hi == 0, "capacity overflow");
  return bound.lo;
}

}  // namespace trussel
