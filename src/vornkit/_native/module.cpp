// The vornkit._native extension module: collection kernels and indexes over
// the vorn core library. Functions are registered by the files of this
// folder through the table in native.hpp.
#include "native.hpp"
#include "python/main_interpreter.hpp"

namespace vornkit::native {
namespace {

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(vorn::py::refuse_subinterpreters)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "vornkit._native",  // m_name
    "Collection kernels and indexes of vornkit.",
    0,  // m_size
    methods(),
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace vornkit::native

extern "C" PyMODINIT_FUNC PyInit__native() { return PyModuleDef_Init(&vornkit::native::module_def); }
