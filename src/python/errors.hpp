// How library outcomes and C++ exceptions become Python exceptions.
#pragma once

#include "python/pyref.hpp"

#include <string_view>

#include "error/vorn_error.hpp"
#include "text/icu_chunks.hpp"

namespace vorn::py {

// Sets ValueError with this message; returns nullptr.
PyObject* raise_value_error(std::string_view message);

// Sets ValueError with the error's Display text; returns nullptr.
PyObject* to_py_err(const VornError& error);

// Sets ValueError with the rejection's text; returns nullptr.
PyObject* raise_invalid_argument(const InvalidArgument& rejection);

// A failed Unicode step: MemoryError naming the step when ICU ran out of
// memory, otherwise ValueError with the preprocessing error's Display
// text. Returns nullptr.
PyObject* raise_unicode_failure(const text::UnicodeFailure& failure);

// Sets the internal-failure exception (derived directly from
// BaseException) with this text; returns nullptr.
PyObject* raise_internal_failure(std::string_view message);

// Turns the C++ exception being handled into a Python exception:
// allocation failures become MemoryError, anything else an internal failure.
void translate_current_exception() noexcept;

// Runs a binding body; no C++ exception ever reaches the interpreter.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        translate_current_exception();
        return nullptr;
    }
}

}  // namespace vorn::py
