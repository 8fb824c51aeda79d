// Test and benchmark entries of the UTF-8 validation kernels:
//   _utf8_kernels() -> list of the kernels this processor runs, widest first
//   _is_valid_utf8(data, kernel=None) -> whether the bytes-like data is
//       well-formed UTF-8, by the given kernel (default: the fastest)
#include <string_view>

#include "kernel_names.hpp"
#include "native.hpp"
#include "text/utf8_validation.hpp"

namespace vornkit::native {
namespace {

using vorn::utf8::ValidationKernel;

PyObject* utf8_kernels(PyObject*, PyObject*) {
    return supported_kernel_names<ValidationKernel>(vorn::utf8::validation_kernel_supported);
}

PyObject* is_valid_utf8(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"data", "kernel", nullptr};
    Py_buffer data;
    PyObject* kernel_name = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*|O", const_cast<char**>(keywords), &data, &kernel_name))
        return nullptr;
    ValidationKernel kernel;
    PyObject* result = nullptr;
    if (parse_kernel_name(kernel_name, "kernel", vorn::utf8::best_validation_kernel(),
                          vorn::utf8::validation_kernel_supported, kernel))
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
