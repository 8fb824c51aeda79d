// The method table of vornkit._native. Each entry points into the file of
// its concern.
#include "dedup_native.hpp"
#include "native.hpp"
#include "router/registry.hpp"
#include "simd/isa.hpp"

namespace vornkit::native {

// collection_functions.cpp
PyObject* scorer_info(PyObject*, PyObject* const*, Py_ssize_t);
PyObject* apply_processor(PyObject*, PyObject* const*, Py_ssize_t);
PyObject* mark_prepared(PyObject*, PyObject*);
PyObject* cdist(PyObject*, PyObject* const*, Py_ssize_t);
PyObject* cpdist(PyObject*, PyObject* const*, Py_ssize_t);
PyObject* topk(PyObject*, PyObject* const*, Py_ssize_t);
PyObject* threshold_join(PyObject*, PyObject* const*, Py_ssize_t);
// pair_functions.cpp
PyObject* score_pairs(PyObject*, PyObject* const*, Py_ssize_t);
// scorer_table.cpp
PyObject* algorithms(PyObject*, PyObject*);
// processor.cpp
PyObject* processor_state(PyObject*, PyObject* const*, Py_ssize_t);

namespace {

PyObject* abi_version(PyObject*, PyObject*) { return PyLong_FromLong(1); }

// The instruction-set levels, for diagnostics and for the tests and
// benchmarks that run each level under VORN_ISA: `isa`, the active one, and
// `isa_levels`, those this processor runs, lowest first.
PyObject* level_text(vorn::simd::Level level) {
    const std::string_view name = vorn::simd::level_name(level);
    return PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
}

int add_isa_levels(PyObject* module) {
    const std::span<const vorn::simd::Level> supported = vorn::simd::supported_levels();
    PyRef levels(PyTuple_New(static_cast<Py_ssize_t>(supported.size())));
    for (std::size_t i = 0; levels && i < supported.size(); ++i) {
        PyObject* text = level_text(supported[i]);
        if (text == nullptr) return -1;
        PyTuple_SET_ITEM(levels.get(), static_cast<Py_ssize_t>(i), text);
    }
    const PyRef active(level_text(vorn::simd::active_level()));
    if (!levels || !active || PyModule_AddObjectRef(module, "isa_levels", levels.get()) != 0) return -1;
    return PyModule_AddObjectRef(module, "isa", active.get());
}

template <class Entry>
PyCFunction as_function(Entry* entry) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

PyMethodDef method_table[] = {
    {"abi_version", abi_version, METH_NOARGS, "Version of the native interface."},
    {"scorer_info", as_function(scorer_info), METH_FASTCALL,
     "scorer_info(scorer, scorer_kwargs, /)\n--\n\n(function name, is_distance) of a scorer, checking its kwargs."},
    {"algorithms", algorithms, METH_NOARGS,
     "algorithms()\n--\n\nThe algorithm registry: (module, function, is_distance, sizes given, router name) rows."},
    {"apply_processor", as_function(apply_processor), METH_FASTCALL,
     "apply_processor(strings, processor, workers, /)\n--\n\nStrings with every text processed once."},
    {"mark_prepared", mark_prepared, METH_O,
     "mark_prepared(strings, /)\n--\n\nLets searches keep per-text data with these strings."},
    {"cdist", as_function(cdist), METH_FASTCALL,
     "cdist(a, b, scorer, scorer_kwargs, score_cutoff, out, workers, /)\n--\n\nScores of every pair into out."},
    {"cpdist", as_function(cpdist), METH_FASTCALL,
     "cpdist(a, b, scorer, scorer_kwargs, score_cutoff, out, workers, /)\n--\n\nScores of aligned pairs into out."},
    {"topk", as_function(topk), METH_FASTCALL,
     "topk(a, b, scorer, scorer_kwargs, score_cutoff, k, indices, scores, workers, /)\n--\n\n"
     "The k best choices of each query."},
    {"threshold_join", as_function(threshold_join), METH_FASTCALL,
     "threshold_join(a, b, scorer, scorer_kwargs, score_cutoff, workers, /)\n--\n\n"
     "Every pair within the cutoff, as three bytearrays."},
    {"score_pairs", as_function(score_pairs), METH_FASTCALL,
     "score_pairs(a, b, i, j, scorer, scorer_kwargs, out, workers, /)\n--\n\n"
     "Scores of the pairs a[i[k]], b[j[k]] into out (float64, NaN for a missing text)."},
    {"processor_state", as_function(processor_state), METH_FASTCALL,
     "processor_state(processor, /)\n--\n\nThe settings of a vorn.Preprocessor as a tuple."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* methods() { return method_table; }

int exec_module(PyObject* module) {
    PyTypeObject* type = strings_type();
    if (type == nullptr) return -1;
    if (add_isa_levels(module) != 0) return -1;
    if (PyModule_AddFunctions(module, fuzz_methods) != 0) return -1;
    if (add_dedup_functions(module) != 0) return -1;
    if (add_linkage_functions(module) != 0) return -1;
    // The sizes of the *_default functions, which vornkit's fingerprint
    // functions take as their defaults.
    if (PyModule_AddIntConstant(module, "MINHASH_SHINGLE_SIZE", vorn::registry::kMinHashShingleSize) != 0 ||
        PyModule_AddIntConstant(module, "MINHASH_NUM_HASHES", vorn::registry::kMinHashNumHashes) != 0 ||
        PyModule_AddIntConstant(module, "SIMHASH_SHINGLE_SIZE", vorn::registry::kSimHashShingleSize) != 0)
        return -1;
    return PyModule_AddObjectRef(module, "Strings", reinterpret_cast<PyObject*>(type));
}

}  // namespace vornkit::native
