// Shared declarations of the vornkit._native extension.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vornkit::native {

// The module's method table, null-terminated.
PyMethodDef* methods();

// Module execution step: adds types and constants.
int exec_module(PyObject* module);

}  // namespace vornkit::native
