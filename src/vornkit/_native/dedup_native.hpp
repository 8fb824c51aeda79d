// Declarations shared by the dedup and index files of vornkit._native.
#pragma once

#include <functional>
#include <span>

#include "error/vorn_error.hpp"
#include "index/components.hpp"
#include "native.hpp"

namespace vornkit::native {

// A C-contiguous buffer of fixed-size items, released on scope exit.
struct Buffer {
    Py_buffer view{};
    bool held = false;
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
        if (held) PyBuffer_Release(&view);
    }
    // False with TypeError (or the buffer protocol's error) set.
    bool get(PyObject* object, bool writable, std::size_t item_size, const char* name);
    template <class T>
    std::span<const T> span() const noexcept {
        return {static_cast<const T*>(view.buf), static_cast<std::size_t>(view.len) / sizeof(T)};
    }
    template <class T>
    std::span<T> mutable_span() const noexcept {
        return {static_cast<T*>(view.buf), static_cast<std::size_t>(view.len) / sizeof(T)};
    }
};

// Sets ValueError with the message; returns false.
bool set_invalid_argument(const vorn::InvalidArgument& error);

// Runs body(should_stop) with the interpreter lock released; should_stop
// takes the lock back briefly to run signal handlers. False with the
// handler's exception set when it raised.
bool run_released_with_stop(const std::function<bool(const vorn::index::StopCheck&)>& body);

// Adds the dedup functions and the index types to the module.
int add_dedup_functions(PyObject* module);
int add_index_types(PyObject* module);

// Adds the record linkage's kernels (linkage_functions.cpp).
int add_linkage_functions(PyObject* module);

}  // namespace vornkit::native
