// Test and benchmark entries of the UTF-8 validation kernels:
//   _utf8_kernels() -> list of the kernels this processor runs, widest first
//   _is_valid_utf8(data, kernel=None) -> whether the bytes-like data is
//       well-formed UTF-8, by the given kernel (default: the fastest)
#include <cstring>
#include <string_view>

#include "native.hpp"
#include "text/utf8_validation.hpp"

namespace vornkit::native {
namespace {

using vorn::utf8::ValidationKernel;

constexpr struct {
    const char* name;
    ValidationKernel kernel;
} kKernels[] = {
    {"avx512", ValidationKernel::avx512}, {"avx2", ValidationKernel::avx2}, {"portable", ValidationKernel::portable}};

PyObject* utf8_kernels(PyObject*, PyObject*) {
    PyObject* names = PyList_New(0);
    for (const auto& entry : kKernels) {
        if (names == nullptr || !vorn::utf8::validation_kernel_supported(entry.kernel)) continue;
        PyObject* name = PyUnicode_FromString(entry.name);
        if (name == nullptr || PyList_Append(names, name) != 0) Py_CLEAR(names);
        Py_XDECREF(name);
    }
    return names;
}

PyObject* is_valid_utf8(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"data", "kernel", nullptr};
    Py_buffer data;
    const char* kernel_name = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*|z", const_cast<char**>(keywords), &data, &kernel_name))
        return nullptr;
    ValidationKernel kernel = vorn::utf8::best_validation_kernel();
    bool known = kernel_name == nullptr;
    for (const auto& entry : kKernels) {
        if (kernel_name != nullptr && std::strcmp(kernel_name, entry.name) == 0) {
            kernel = entry.kernel;
            known = true;
        }
    }
    PyObject* result = nullptr;
    if (!known) PyErr_Format(PyExc_ValueError, "unknown kernel '%s'", kernel_name);
    else if (!vorn::utf8::validation_kernel_supported(kernel))
        PyErr_Format(PyExc_ValueError, "this processor does not run %s", kernel_name);
    else
        result = PyBool_FromLong(vorn::utf8::is_valid_utf8(
            kernel, std::string_view(static_cast<const char*>(data.buf), static_cast<std::size_t>(data.len))));
    PyBuffer_Release(&data);
    return result;
}

}  // namespace

PyMethodDef utf8_testing_methods[] = {
    {"_utf8_kernels", utf8_kernels, METH_NOARGS, "UTF-8 validation kernels this processor runs."},
    {"_is_valid_utf8", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(is_valid_utf8)),
     METH_VARARGS | METH_KEYWORDS, "UTF-8 validation by a chosen kernel (tests and benchmarks)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace vornkit::native
