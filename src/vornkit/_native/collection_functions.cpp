// The collection functions: each converts its arguments, scores with the
// interpreter lock released and writes into arrays the Python layer made.
#include "native.hpp"

namespace vornkit::native {

namespace col = vorn::collection;

namespace {

bool check_count(Py_ssize_t given, Py_ssize_t expected, const char* name) {
    if (given == expected) return true;
    PyErr_Format(PyExc_TypeError, "%s() takes %zd arguments (%zd given)", name, expected, given);
    return false;
}

}  // namespace

PyObject* scorer_info(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!check_count(nargs, 2, "scorer_info")) return nullptr;
    return guarded([&]() -> PyObject* {
        col::ScorerConfig config;
        if (!convert_scorer(args[0], args[1], config)) return nullptr;
        return Py_BuildValue("(sO)", scorer_name(config.kind), col::is_distance(config.kind) ? Py_True : Py_False);
    });
}

PyObject* apply_processor(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!check_count(nargs, 3, "apply_processor")) return nullptr;
    return guarded([&]() -> PyObject* {
        const StringInput* input = strings_input(args[0]);
        if (input == nullptr) return nullptr;
        vorn::preprocess::Preprocessor config;
        std::size_t workers;
        if (!convert_processor(args[1], config) || !convert_workers(args[2], workers)) return nullptr;
        auto processed = process_strings(*input, config, workers);
        if (!processed) return nullptr;
        processed->origin = PyRef::borrow(args[0]);
        return new_strings_object(std::move(processed));
    });
}

}  // namespace vornkit::native
