// Shared declarations of the vornkit._native extension.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace vornkit::native {

// The module's method table, null-terminated.
PyMethodDef* methods();

// Test-only entries of the tile kernels (tile_testing.cpp).
extern PyMethodDef tile_testing_methods[];

// Module execution step: adds types and constants.
int exec_module(PyObject* module);

}  // namespace vornkit::native
