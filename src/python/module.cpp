// The module's init function: the interpreter guard, the module object and its function table.
#include "python/ref.hpp"

#include <atomic>
#include <cstdint>

#include "python/docstrings.hpp"
#include "python/exceptions.hpp"
#include "python/functions.hpp"

namespace trussel::py {
namespace {

// The interpreter that first imported the module; -1 until then.
std::atomic<std::int64_t> owning_interpreter{-1};
// Created by the first successful import and kept for the life of the process.
PyObject* module_object = nullptr;

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "trussel",  // m_name
    "",         // m_doc: __doc__ is an empty str
    0,          // m_size: no per-module state
    nullptr,    // m_methods: the functions are attached after creation
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

template <PyObject* (*Function)(PyObject*, PyObject*, PyObject*) noexcept>
PyCFunction as_method() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
      static_cast<PyObject* (*)(PyObject*, PyObject*, PyObject*)>(Function)));
}

// Function objects keep pointers to these definitions, so they have static storage.
PyMethodDef function_table[] = {
    {"simulate", as_method<py_simulate>(), METH_VARARGS | METH_KEYWORDS, kSimulateDoc},
    {"gram_from_dist", as_method<py_gram_from_dist>(), METH_VARARGS | METH_KEYWORDS,
     kGramFromDistDoc},
    {"generate_training_batch", as_method<py_generate_training_batch>(),
     METH_VARARGS | METH_KEYWORDS, kTrainingBatchDoc},
    {"max_independent", as_method<py_max_independent>(), METH_VARARGS | METH_KEYWORDS,
     kMaxIndependentDoc},
    {"reconstruct", as_method<py_reconstruct_coords>(), METH_VARARGS | METH_KEYWORDS,
     kReconstructDoc},
    {"pebble_game", as_method<py_pebble_game>(), METH_VARARGS | METH_KEYWORDS, kPebbleGameDoc},
    {"label_edges", as_method<py_label_edges>(), METH_VARARGS | METH_KEYWORDS, kLabelEdgesDoc},
    {"rigid_components", as_method<py_rigid_components>(), METH_VARARGS | METH_KEYWORDS,
     kRigidComponentsDoc},
    {"draw_framework", as_method<py_draw_framework>(), METH_VARARGS | METH_KEYWORDS,
     kDrawFrameworkDoc},
    {"mds", as_method<py_mds>(), METH_VARARGS | METH_KEYWORDS, kMdsDoc},
    {"generic_rigidity", as_method<py_generic_rigidity>(), METH_VARARGS | METH_KEYWORDS,
     kGenericRigidityDoc},
    {"rigidity_sweep", as_method<py_rigidity_sweep>(), METH_VARARGS | METH_KEYWORDS,
     kRigiditySweepDoc},
    {"global_rigidity", as_method<py_global_rigidity>(), METH_VARARGS | METH_KEYWORDS,
     kGlobalRigidityDoc},
    {"self_stresses", as_method<py_self_stresses>(), METH_VARARGS | METH_KEYWORDS,
     kSelfStressesDoc},
    {"infinitesimal_flexes", as_method<py_infinitesimal_flexes>(), METH_VARARGS | METH_KEYWORDS,
     kInfinitesimalFlexesDoc},
};

// The module's __getattr__, asked for names the module does not hold: PanicException is
// reachable as an attribute (created at the first request, not at import, and not in __all__).
PyObject* module_getattr(PyObject* /*module*/, PyObject* name) noexcept {
  return guarded([&]() -> PyRef {
    if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, "PanicException") == 0) {
      PyObject* type = panic_exception_type();  // borrowed; NULL if it could not be created
      if (type == nullptr) throw_error_already_set();
      return PyRef::borrow(type);
    }
    PyErr_Format(PyExc_AttributeError, "module 'trussel' has no attribute '%S'", name);
    throw ErrorAlreadySet{};
  });
}

PyMethodDef getattr_definition = {"__getattr__", module_getattr, METH_O, nullptr};

// Creates each function, lists its name in __all__ and sets it as a module attribute.
void add_functions(PyObject* module) {
  PyRef module_name = check_new(PyModule_GetNameObject(module));
  for (PyMethodDef& definition : function_table) {
    PyRef function = check_new(PyCMethod_New(&definition, module, module_name.get(), nullptr));
    PyRef name = check_new(PyObject_GetAttrString(function.get(), "__name__"));
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw ErrorAlreadySet{};
      PyErr_Clear();
      all = check_new(PyList_New(0));
      check_status(PyObject_SetAttrString(module, "__all__", all.get()));
    }
    check_status(PyList_Append(all.get(), name.get()));
    check_status(PyObject_SetAttr(module, name.get(), function.get()));
  }
  PyRef getattr = check_new(PyCMethod_New(&getattr_definition, module, module_name.get(), nullptr));
  check_status(PyObject_SetAttrString(module, "__getattr__", getattr.get()));
}

PyObject* init_module() noexcept {
  return guarded([]() -> PyRef {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) throw_error_already_set();
    // Only the main interpreter (ID 0) may own the module, and others are refused before they
    // claim it: an isolated interpreter would refuse this single-phase module only after this
    // function returned, and a claim made first would leave the module to nobody.
    std::int64_t expected = -1;
    if (id != 0 || (!owning_interpreter.compare_exchange_strong(expected, id) && expected != id)) {
      PyErr_SetString(PyExc_ImportError,
                      "trussel does not support subinterpreters: only the main interpreter "
                      "can import it");
      throw ErrorAlreadySet{};
    }
    if (module_object != nullptr) return PyRef::borrow(module_object);
    PyRef module = check_new(PyModule_Create2(&module_def, PYTHON_ABI_VERSION));
    add_functions(module.get());
    // The package version, as in pyproject.toml (not listed in __all__).
    check_status(PyModule_AddStringConstant(module.get(), "__version__", TRUSSEL_VERSION));
    module_object = module.get();
    Py_INCREF(module_object);  // the process-wide reference, never dropped
    return module;
  });
}

}  // namespace
}  // namespace trussel::py

PyMODINIT_FUNC PyInit_trussel(void) { return trussel::py::init_module(); }
