// The method table of vornkit._native. Each entry points into the file of
// its concern.
#include "native.hpp"

namespace vornkit::native {
namespace {

PyObject* abi_version(PyObject*, PyObject*) { return PyLong_FromLong(1); }

PyMethodDef method_table[] = {
    {"abi_version", abi_version, METH_NOARGS, "Version of the native interface."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* methods() { return method_table; }

int exec_module(PyObject* module) { return PyModule_AddFunctions(module, tile_testing_methods); }

}  // namespace vornkit::native
