// The method table of vornkit._native. Each entry points into the file of
// its concern.
#include "dedup_native.hpp"
#include "native.hpp"

namespace vornkit::native {

// collection_functions.cpp
PyObject* scorer_info(PyObject*, PyObject* const*, Py_ssize_t);
PyObject* apply_processor(PyObject*, PyObject* const*, Py_ssize_t);

namespace {

PyObject* abi_version(PyObject*, PyObject*) { return PyLong_FromLong(1); }

template <class Entry>
PyCFunction as_function(Entry* entry) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

PyMethodDef method_table[] = {
    {"abi_version", abi_version, METH_NOARGS, "Version of the native interface."},
    {"scorer_info", as_function(scorer_info), METH_FASTCALL,
     "scorer_info(scorer, scorer_kwargs, /)\n--\n\n(vorn name, is_distance) of a scorer, checking its kwargs."},
    {"apply_processor", as_function(apply_processor), METH_FASTCALL,
     "apply_processor(strings, processor, workers, /)\n--\n\nStrings with every text processed once."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* methods() { return method_table; }

int exec_module(PyObject* module) {
    PyTypeObject* type = strings_type();
    if (type == nullptr) return -1;
    if (add_dedup_functions(module) != 0) return -1;
    return PyModule_AddObjectRef(module, "Strings", reinterpret_cast<PyObject*>(type));
}

}  // namespace vornkit::native
