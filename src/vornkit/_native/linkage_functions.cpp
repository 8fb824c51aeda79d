// The record linkage's kernels: numbering keys by hashing.
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

PyMethodDef linkage_method_table[] = {
    {"number_keys", number_keys, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_linkage_functions(PyObject* module) { return PyModule_AddFunctions(module, linkage_method_table); }

}  // namespace vornkit::native
