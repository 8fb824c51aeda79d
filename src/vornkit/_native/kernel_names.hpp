// The names by which the test entries pick a kernel of one instruction set:
// "avx512", "avx2" and "portable", for any kernel enumeration with those
// three members.
#pragma once

#include <cstring>

#include "native.hpp"

namespace vornkit::native {

template <class Kernel>
struct NamedKernel {
    const char* name;
    Kernel kernel;
};

// Widest first.
template <class Kernel>
constexpr NamedKernel<Kernel> kNamedKernels[] = {
    {"avx512", Kernel::avx512}, {"avx2", Kernel::avx2}, {"portable", Kernel::portable}};

// The names of the kernels this processor runs, widest first.
template <class Kernel, class Supported>
PyObject* supported_kernel_names(Supported supported) {
    PyObject* names = PyList_New(0);
    for (const auto& entry : kNamedKernels<Kernel>) {
        if (names == nullptr || !supported(entry.kernel)) continue;
        PyObject* name = PyUnicode_FromString(entry.name);
        if (name == nullptr || PyList_Append(names, name) != 0) Py_CLEAR(names);
        Py_XDECREF(name);
    }
    return names;
}

// The kernel `name` names, or `best` for None; false with ValueError set
// for an unknown name ("unknown <what> 'name'") or a kernel this processor
// does not run.
template <class Kernel, class Supported>
bool parse_kernel_name(PyObject* name, const char* what, Kernel best, Supported supported, Kernel& out) {
    if (name == Py_None) {
        out = best;
        return true;
    }
    const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8(name) : nullptr;
    for (const auto& entry : kNamedKernels<Kernel>) {
        if (text != nullptr && std::strcmp(text, entry.name) == 0) {
            if (supported(entry.kernel)) {
                out = entry.kernel;
                return true;
            }
            PyErr_Format(PyExc_ValueError, "this processor does not run %s", text);
            return false;
        }
    }
    if (!PyErr_Occurred()) PyErr_Format(PyExc_ValueError, "unknown %s %R", what, name);
    return false;
}

}  // namespace vornkit::native
