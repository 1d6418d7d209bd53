// The functions the module exports, as the interpreter calls them.
#pragma once

#include "python/ref.hpp"

namespace trussel::py {

PyObject* py_simulate(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_gram_from_dist(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_generate_training_batch(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_max_independent(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_reconstruct_coords(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_pebble_game(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_mds(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_label_edges(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_rigid_components(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_generic_rigidity(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_draw_framework(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_rigidity_sweep(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_global_rigidity(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_self_stresses(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;
PyObject* py_infinitesimal_flexes(PyObject* module, PyObject* args, PyObject* kwargs) noexcept;

}  // namespace trussel::py
