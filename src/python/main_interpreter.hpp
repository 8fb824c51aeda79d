// Both extension modules create their type objects once per process, so
// they run in the main interpreter only. Declaring the module slot
// Py_mod_multiple_interpreters refuses isolated sub-interpreters; legacy
// ones, which share the main interpreter's lock, would still load it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vorn::py {

// A module execution step (Py_mod_exec) that fails the import with
// ImportError in any interpreter but the main one.
inline int refuse_subinterpreters(PyObject* module) {
    if (PyInterpreterState_Get() == PyInterpreterState_Main()) return 0;
    PyErr_Format(PyExc_ImportError,
                 "module %s does not support loading in subinterpreters: its classes are shared by the whole "
                 "process",
                 PyModule_GetName(module));
    return -1;
}

}  // namespace vorn::py
