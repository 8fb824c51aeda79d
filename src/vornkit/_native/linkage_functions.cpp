// The record linkage's kernels: numbering keys by hashing, the union of candidate pairs.
#include <algorithm>

#include "collection/key_codes.hpp"
#include "dedup_native.hpp"

namespace vornkit::native {

namespace {

PyObject* number_keys(PyObject*, PyObject* args) {
    PyObject *keys_object, *codes_object, *first_object;
    if (!PyArg_ParseTuple(args, "OOO:number_keys", &keys_object, &codes_object, &first_object)) return nullptr;
    return guarded([&]() -> PyObject* {
        Buffer keys, codes, first;
        if (!keys.get(keys_object, false, 8, "keys") || !codes.get(codes_object, true, 8, "codes") ||
            !first.get(first_object, true, 8, "first"))
            return nullptr;
        if (codes.view.len != keys.view.len || first.view.len != keys.view.len) {
            PyErr_SetString(PyExc_ValueError, "keys, codes and first must have the same length");
            return nullptr;
        }
        std::optional<std::size_t> distinct;
        if (!run_released_with_stop([&](const vorn::index::StopCheck& stop) {
                distinct = vorn::collection::number_keys(keys.span<std::int64_t>(), codes.mutable_span<std::int64_t>(),
                                                         first.mutable_span<std::int64_t>(), stop);
                return distinct.has_value();
            }))
            return nullptr;
        return PyLong_FromSize_t(*distinct);
    });
}

// distinct_pair_codes(codes, n_left, n_right) -> count: the codes sorted, repeats dropped, in place.
PyObject* distinct_pair_codes(PyObject*, PyObject* args) {
    PyObject* codes_object;
    Py_ssize_t n_left, n_right;
    if (!PyArg_ParseTuple(args, "Onn:distinct_pair_codes", &codes_object, &n_left, &n_right)) return nullptr;
    if (n_left < 0 || n_right < 1 || n_left > PY_SSIZE_T_MAX / n_right) {
        PyErr_SetString(PyExc_ValueError, "n_left must not be negative, n_right must be positive");
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        Buffer codes;
        if (!codes.get(codes_object, true, 8, "codes")) return nullptr;
        const auto pair_codes = codes.mutable_span<std::int64_t>();
        const std::int64_t limit = static_cast<std::int64_t>(n_left) * static_cast<std::int64_t>(n_right);
        bool in_range = true;
        std::optional<std::size_t> distinct;
        if (!run_released_with_stop([&](const vorn::index::StopCheck& stop) {
                in_range = std::all_of(pair_codes.begin(), pair_codes.end(),
                                       [limit](std::int64_t code) { return code >= 0 && code < limit; });
                if (!in_range) return true;
                distinct = vorn::collection::distinct_pair_codes(pair_codes, static_cast<std::size_t>(n_left),
                                                                 static_cast<std::size_t>(n_right), stop);
                return distinct.has_value();
            }))
            return nullptr;
        if (!in_range) {
            PyErr_SetString(PyExc_ValueError, "a pair code is outside [0, n_left * n_right)");
            return nullptr;
        }
        return PyLong_FromSize_t(*distinct);
    });
}

PyMethodDef linkage_method_table[] = {
    {"number_keys", number_keys, METH_VARARGS, nullptr},
    {"distinct_pair_codes", distinct_pair_codes, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_linkage_functions(PyObject* module) { return PyModule_AddFunctions(module, linkage_method_table); }

}  // namespace vornkit::native
