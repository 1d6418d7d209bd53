// Binding of call arguments to parameters and their conversion, with the module's messages.
#pragma once

#include "python/ref.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

#include "python/numpy_api.hpp"

namespace trussel::py {

/// One function's parameters: its Python name (used in every message), the parameter names in
/// order (unused entries nullptr) and how many leading parameters are required.
struct Signature {
  const char* name;
  std::array<const char*, 4> parameters;
  std::size_t required;
};

inline constexpr Signature kSimulateSignature{"simulate", {"coords", "d", "tol"}, 2};
inline constexpr Signature kGramFromDistSignature{"gram_from_dist", {"dist"}, 1};
inline constexpr Signature kTrainingBatchSignature{
    "generate_training_batch", {"n_graphs", "n_nodes", "d", "seed"}, 4};
inline constexpr Signature kMaxIndependentSignature{"max_independent", {"n", "d"}, 2};
inline constexpr Signature kReconstructSignature{"reconstruct", {"distance_matrix", "d", "tol"}, 2};
inline constexpr Signature kPebbleGameSignature{"pebble_game", {"coords", "d"}, 2};
inline constexpr Signature kMdsSignature{"mds", {"distance_matrix", "d", "tol"}, 2};
inline constexpr Signature kLabelEdgesSignature{"label_edges", {"coords", "edges", "d", "tol"}, 3};
inline constexpr Signature kRigidComponentsSignature{"rigid_components", {"n", "edges"}, 2};
inline constexpr Signature kGenericRigiditySignature{"generic_rigidity", {"n", "edges", "d"}, 3};
inline constexpr Signature kDrawFrameworkSignature{"draw_framework", {"n_nodes", "d", "seed"}, 3};
inline constexpr Signature kRigiditySweepSignature{"rigidity_sweep", {"n", "edges"}, 2};
inline constexpr Signature kGlobalRigiditySignature{"global_rigidity", {"n", "edges", "d"}, 3};
inline constexpr Signature kSelfStressesSignature{
    "self_stresses", {"coords", "edges", "d", "tol"}, 3};
inline constexpr Signature kInfinitesimalFlexesSignature{
    "infinitesimal_flexes", {"coords", "edges", "d", "tol"}, 3};

/// Binds the positional tuple and keyword dict (may be NULL) to `slots` (borrowed references,
/// nullptr where a parameter was not given). Raises TypeError with the module's binding messages.
void bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** slots);

/// Converts a float array argument; a TypeError is renamed "argument '<name>': ...".
FloatArrayView to_float_array(PyObject* obj, const char* name);

/// Converts a count argument (int, int subclass or __index__) to 0 .. 2^64-1. A TypeError is
/// renamed; the interpreter's OverflowError for negative or too large values passes unchanged.
std::uint64_t to_count(PyObject* obj, const char* name);

/// Converts an edge-list argument (see as_edge_array): an (E, 2) integer array or anything
/// numpy.asarray turns into one. A TypeError is renamed "argument '<name>': ..."; a shape other
/// than (E, 2) raises ValueError "<name> must have shape (E, 2), got <shape>". The rows are not
/// checked against a node count: check_edge_list does that, after every argument is converted.
EdgeList to_edge_list(PyObject* obj, const char* name);

/// Converts an optional float argument: absent or None gives `fallback`.
double to_optional_float(PyObject* obj, const char* name, double fallback);

}  // namespace trussel::py
