// Python result objects built from owned computation results.
#pragma once

#include "python/ref.hpp"

#include <cstdint>
#include <vector>

#include "common/edge.hpp"
#include "common/matrix.hpp"

namespace trussel::py {

/// Inserts `value` under the str key `key`; the dict keeps its own references.
void set_item(PyObject* dict, const char* key, PyRef value);

/// A new int from an unsigned 64-bit value.
PyRef new_int(std::uint64_t value);

/// A new list of (i, j) int tuples, in order.
PyRef new_edge_list(const std::vector<Edge>& edges);

/// The eight-entry dict of one simulation: "labels", "accepted_edges", "distance_matrix",
/// "final_rank", "max_rank", "is_rigid", "n_nodes", "d". The labels and the matrix become the
/// arrays' buffers without a copy.
PyRef make_result_dict(std::uint64_t n_nodes, std::uint64_t d, std::vector<Edge>&& accepted_edges,
                       std::vector<std::uint8_t>&& labels, FloatMatrix&& distance_matrix,
                       std::uint64_t final_rank, std::uint64_t max_rank);

}  // namespace trussel::py
