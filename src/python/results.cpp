// Python result objects built from owned computation results.
#include "python/results.hpp"

#include "python/numpy_api.hpp"

namespace trussel::py {

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
  set_item(dict.get(), "labels", new_uint8_array(std::move(labels)));
  {
    std::vector<Edge> edges = std::move(accepted_edges);  // freed once the list is built
    set_item(dict.get(), "accepted_edges", new_edge_list(edges));
  }
  set_item(dict.get(), "distance_matrix", new_float64_array(std::move(distance_matrix)));
  set_item(dict.get(), "final_rank", new_int(final_rank));
  set_item(dict.get(), "max_rank", new_int(max_rank));
  set_item(dict.get(), "is_rigid", PyRef::borrow(final_rank == max_rank ? Py_True : Py_False));
  set_item(dict.get(), "n_nodes", new_int(n_nodes));
  set_item(dict.get(), "d", new_int(d));
  return dict;
}

}  // namespace trussel::py
