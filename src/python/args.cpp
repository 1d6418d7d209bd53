// Binding of call arguments to parameters and their conversion, with the module's messages.
#include "python/args.hpp"

#include <string>

namespace trussel::py {
namespace {

std::size_t parameter_count(const Signature& signature) {
  std::size_t count = 0;
  while (count < signature.parameters.size() && signature.parameters[count] != nullptr) ++count;
  return count;
}

[[noreturn]] void raise_type_error(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  throw ErrorAlreadySet{};
}

// Replaces a pending TypeError by "argument '<name>': <message>", keeping its cause; any other
// pending exception is left as it is.
[[noreturn]] void rename_conversion_error(const char* name) {
  if (PyErr_Occurred() == nullptr || !PyErr_ExceptionMatches(PyExc_TypeError)) {
    throw_error_already_set();
  }
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef owned_type = PyRef::steal(type), owned_value = PyRef::steal(value),
        owned_traceback = PyRef::steal(traceback);
  if (owned_type.get() != PyExc_TypeError) {  // a subclass of TypeError passes unchanged
    PyErr_Restore(owned_type.release(), owned_value.release(), owned_traceback.release());
    throw ErrorAlreadySet{};
  }
  PyRef text = check_new(PyObject_Str(owned_value.get()));
  PyRef message = check_new(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  PyRef renamed = check_new(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
  PyException_SetCause(renamed.get(), PyException_GetCause(owned_value.get()));  // steals
  PyErr_SetObject(PyExc_TypeError, renamed.get());
  throw ErrorAlreadySet{};
}

}  // namespace

void bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                    PyObject** slots) {
  const std::size_t count = parameter_count(signature);
  const std::string full_name = std::string(signature.name) + "()";
  const Py_ssize_t given = PyTuple_Size(args);
  if (given < 0) throw_error_already_set();
  const auto positional = static_cast<std::size_t>(given);
  for (std::size_t k = 0; k < count; ++k) slots[k] = nullptr;

  if (positional > count) {
    const std::string verb = positional == 1 ? "was" : "were";
    if (signature.required == count) {
      raise_type_error(full_name + " takes " + std::to_string(count) +
                       " positional arguments but " + std::to_string(positional) + " " + verb +
                       " given");
    }
    raise_type_error(full_name + " takes from " + std::to_string(signature.required) + " to " +
                     std::to_string(count) + " positional arguments but " +
                     std::to_string(positional) + " " + verb + " given");
  }
  for (std::size_t k = 0; k < positional; ++k) {
    slots[k] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(k));
  }

  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      std::size_t match = count;
      if (PyUnicode_Check(key)) {
        for (std::size_t k = 0; k < count; ++k) {
          if (PyUnicode_CompareWithASCIIString(key, signature.parameters[k]) == 0) {
            match = k;
            break;
          }
        }
      }
      if (match == count) {
        PyRef text = check_new(PyObject_Str(key));
        PyRef message = check_new(PyUnicode_FromFormat("%s got an unexpected keyword argument '%U'",
                                                       full_name.c_str(), text.get()));
        PyErr_SetObject(PyExc_TypeError, message.get());
        throw ErrorAlreadySet{};
      }
      if (match < positional) {
        raise_type_error(full_name + " got multiple values for argument '" +
                         signature.parameters[match] + "'");
      }
      slots[match] = value;
    }
  }

  std::size_t missing = 0;
  std::string names;
  for (std::size_t k = 0; k < signature.required; ++k) {
    if (slots[k] == nullptr) ++missing;
  }
  if (missing == 0) return;
  std::size_t listed = 0;
  for (std::size_t k = 0; k < signature.required; ++k) {
    if (slots[k] != nullptr) continue;
    ++listed;
    if (listed > 1) names += missing == 2 ? " and " : (listed == missing ? ", and " : ", ");
    names += std::string("'") + signature.parameters[k] + "'";
  }
  raise_type_error(full_name + " missing " + std::to_string(missing) + " required positional " +
                   (missing == 1 ? "argument" : "arguments") + ": " + names);
}

FloatArrayView to_float_array(PyObject* obj, const char* name) {
  try {
    return as_float_array(obj);
  } catch (const ErrorAlreadySet&) {
    rename_conversion_error(name);
  }
}

EdgeList to_edge_list(PyObject* obj, const char* name) {
  try {
    return as_edge_array(obj, name);
  } catch (const ErrorAlreadySet&) {
    rename_conversion_error(name);
  }
}

std::uint64_t to_count(PyObject* obj, const char* name) {
  PyRef index;
  if (!PyLong_Check(obj)) {
    index = PyRef::steal(PyNumber_Index(obj));
    if (!index) rename_conversion_error(name);
    obj = index.get();
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(obj);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    rename_conversion_error(name);
  }
  return static_cast<std::uint64_t>(value);
}

double to_optional_float(PyObject* obj, const char* name, double fallback) {
  if (obj == nullptr || obj == Py_None) return fallback;
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred() != nullptr) rename_conversion_error(name);
  return value;
}

}  // namespace trussel::py
