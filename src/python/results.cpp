// Python result objects built from owned computation results.
#include "python/results.hpp"

#include <array>
#include <cstddef>

#include "python/numpy_api.hpp"

namespace trussel::py {
namespace {

// The keys of the simulation dict, in insertion order.
enum ResultKey : std::size_t {
  kLabels,
  kAcceptedEdges,
  kDistanceMatrix,
  kFinalRank,
  kMaxRank,
  kIsRigid,
  kNodes,
  kDimension,
  kResultKeyCount
};
constexpr std::array<const char*, kResultKeyCount> kResultKeyNames = {
    "labels",   "accepted_edges", "distance_matrix", "final_rank",
    "max_rank", "is_rigid",       "n_nodes",         "d"};

// A result key as an interned str, made at its first use and kept for the life of the process,
// so that a batch of many dicts neither makes nor hashes a key per entry.
PyObject* result_key(ResultKey key) {
  static std::array<PyObject*, kResultKeyCount> keys{};
  if (keys[key] == nullptr) {
    keys[key] = check_new(PyUnicode_InternFromString(kResultKeyNames[key])).release();
  }
  return keys[key];
}

void set_result_item(PyObject* dict, ResultKey key, PyRef value) {
  check_status(PyDict_SetItem(dict, result_key(key), value.get()));
}

}  // namespace

void set_item(PyObject* dict, const char* key, PyRef value) {
  PyRef key_object = check_new(PyUnicode_FromString(key));
  check_status(PyDict_SetItem(dict, key_object.get(), value.get()));
}

PyRef new_int(std::uint64_t value) { return check_new(PyLong_FromUnsignedLongLong(value)); }

PyRef new_edge_list(const std::vector<Edge>& edges) {
  PyRef list = check_new(PyList_New(static_cast<Py_ssize_t>(edges.size())));
  for (std::size_t k = 0; k < edges.size(); ++k) {
    PyRef i = new_int(edges[k].i);
    PyRef j = new_int(edges[k].j);
    PyRef pair = check_new(PyTuple_New(2));
    check_status(PyTuple_SetItem(pair.get(), 0, i.release()));
    check_status(PyTuple_SetItem(pair.get(), 1, j.release()));
    check_status(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), pair.release()));
  }
  return list;
}

PyRef make_result_dict(std::uint64_t n_nodes, std::uint64_t d, std::vector<Edge>&& accepted_edges,
                       std::vector<std::uint8_t>&& labels, FloatMatrix&& distance_matrix,
                       std::uint64_t final_rank, std::uint64_t max_rank) {
  PyRef dict = check_new(PyDict_New());
  set_result_item(dict.get(), kLabels, new_uint8_array(std::move(labels)));
  {
    std::vector<Edge> edges = std::move(accepted_edges);  // freed once the list is built
    set_result_item(dict.get(), kAcceptedEdges, new_edge_list(edges));
  }
  set_result_item(dict.get(), kDistanceMatrix, new_float64_array(std::move(distance_matrix)));
  set_result_item(dict.get(), kFinalRank, new_int(final_rank));
  set_result_item(dict.get(), kMaxRank, new_int(max_rank));
  set_result_item(dict.get(), kIsRigid, PyRef::borrow(final_rank == max_rank ? Py_True : Py_False));
  set_result_item(dict.get(), kNodes, new_int(n_nodes));
  set_result_item(dict.get(), kDimension, new_int(d));
  return dict;
}

}  // namespace trussel::py
