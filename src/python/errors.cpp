#include "python/errors.hpp"

#include <exception>
#include <new>
#include <stdexcept>
#include <string>

namespace vorn::py {
namespace {

// Created once per process on first use; the module does not support
// sub-interpreters, so one class object serves every import.
PyObject* internal_failure_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) {
        type = PyErr_NewExceptionWithDoc(
            "vorn.InternalFailure",
            "A violated internal precondition of the vorn library. Derives from BaseException "
            "so that it is not swallowed by handlers for Exception.",
            PyExc_BaseException, nullptr);
    }
    return type;
}

}  // namespace

PyObject* raise_value_error(std::string_view message) {
    PyRef text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
    return nullptr;
}

PyObject* to_py_err(const VornError& error) { return raise_value_error(error.display()); }

PyObject* raise_invalid_argument(const InvalidArgument& rejection) { return raise_value_error(rejection.message); }

PyObject* raise_unicode_failure(const text::UnicodeFailure& failure) {
    if (failure.out_of_memory) {
        // Step names are string literals, so their data is NUL-terminated.
        PyErr_Format(PyExc_MemoryError, "out of memory during %s", text::step_name(failure.step).data());
        return nullptr;
    }
    return to_py_err(VornError(VornError::Kind::PreprocessingError, text::describe(failure)));
}

PyObject* raise_internal_failure(std::string_view message) {
    PyObject* type = internal_failure_type();
    if (type == nullptr) return nullptr;  // the failure to create it is set
    PyRef text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
    return nullptr;
}

void translate_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::length_error&) {
        // A size that cannot be allocated at all (vector::reserve past max_size).
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_internal_failure(e.what());
    } catch (...) {
        raise_internal_failure("unknown internal failure");
    }
}

}  // namespace vorn::py
