// Python result objects built from owned computation results.
#pragma once

#include "python/ref.hpp"

#include <cstdint>
#include <vector>

#include "common/edge.hpp"
#include "common/matrix.hpp"

namespace trussel::py {

/// Holds off the cyclic garbage collector for one scope and restores its previous state, for
/// building many small result objects that cannot form cycles: their allocations would otherwise
/// run a collection every few hundred objects. Runs no Python code; use it with the interpreter
/// lock held.
class GcPause {
 public:
  GcPause() noexcept : was_enabled_(PyGC_Disable() != 0) {}
  ~GcPause() {
    if (was_enabled_) PyGC_Enable();
  }
  GcPause(const GcPause&) = delete;
  GcPause& operator=(const GcPause&) = delete;

 private:
  bool was_enabled_;
};

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
