// vorn.Preprocessor objects: the record is read through vorn's own instance
// layout after checking that the object's type is vorn's class, and each
// string is processed once, in parallel, with the interpreter lock released.
#include <algorithm>

#include "native.hpp"
#include "python/preprocessor_class.hpp"

namespace vornkit::native {

bool convert_processor(PyObject* object, vorn::preprocess::Preprocessor& out) {
    PyRef vorn_module(PyImport_ImportModule("vorn"));
    if (!vorn_module) return false;
    PyRef type(PyObject_GetAttrString(vorn_module.get(), "Preprocessor"));
    if (!type) return false;
    if (!PyType_Check(type.get()) ||
        reinterpret_cast<PyTypeObject*>(type.get())->tp_basicsize != sizeof(vorn::py::PreprocessorObject)) {
        PyErr_SetString(PyExc_RuntimeError, "vorn.Preprocessor does not have the layout vornkit was built with");
        return false;
    }
    if (!PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(type.get()))) {
        PyErr_Format(PyExc_TypeError, "processor must be a vorn.Preprocessor or None, not %R", object);
        return false;
    }
    out = vorn::py::record_of<vorn::preprocess::Preprocessor>(object);
    return true;
}

// processor_state(processor, /): the record as a tuple (normalize_unicode,
// collapse_whitespace, trim, lowercase, remove_stopwords, stopwords,
// max_length), stopwords being the custom list (empty for the default one).
// The Preprocessor class cannot be pickled; this lets a job rebuild an equal
// one elsewhere (on Spark executors) through its public builder methods.
PyObject* processor_state(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 1) {
        PyErr_Format(PyExc_TypeError, "processor_state() takes exactly one argument (%zd given)", nargs);
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        vorn::preprocess::Preprocessor config;
        if (!convert_processor(args[0], config)) return nullptr;
        PyRef stopwords(PyList_New(static_cast<Py_ssize_t>(config.stopwords.size())));
        if (!stopwords) return nullptr;
        for (std::size_t i = 0; i < config.stopwords.size(); ++i) {
            PyObject* word = PyUnicode_FromStringAndSize(config.stopwords[i].data(),
                                                         static_cast<Py_ssize_t>(config.stopwords[i].size()));
            if (word == nullptr) return nullptr;
            PyList_SET_ITEM(stopwords.get(), static_cast<Py_ssize_t>(i), word);
        }
        return Py_BuildValue("(OOOOOOK)", config.normalize_unicode ? Py_True : Py_False,
                             config.collapse_whitespace ? Py_True : Py_False, config.trim ? Py_True : Py_False,
                             config.lowercase ? Py_True : Py_False, config.remove_stopwords ? Py_True : Py_False,
                             stopwords.get(), static_cast<unsigned long long>(config.max_length));
    });
}

std::unique_ptr<StringInput> process_strings(const StringInput& input, const vorn::preprocess::Preprocessor& config,
                                             std::size_t workers) {
    auto processed = std::make_unique<StringInput>();
    const StringColumn& column = input.column;
    const std::size_t n = column.size();
    processed->owned.resize(n);
    // Items are short; chunks of a few hundred keep thread hand-offs rare.
    const bool completed = run_released(n, 256, workers, [&](std::size_t begin, std::size_t end,
                                                            const vorn::collection::ChunkContext& context) {
        for (std::size_t i = begin; i < end && !context.stop_requested(); ++i)
            if (!column.is_null(i)) processed->owned[i] = vorn::preprocess::process(config, column[i]);
    });
    if (!completed) return nullptr;
    processed->column.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (column.is_null(i)) {
            processed->column.push_null();
        } else {
            processed->column.push_back(processed->owned[i]);
        }
    }
    return processed;
}

}  // namespace vornkit::native
