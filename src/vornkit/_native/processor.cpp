// vorn.Preprocessor objects: the record is read through vorn's own instance
// layout after checking that the object's type is vorn's class, and each
// string is processed once, in parallel, with the interpreter lock released.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "native.hpp"
#include "python/preprocessor_class.hpp"
#include "text/icu_chunks.hpp"

namespace vornkit::native {

bool convert_processor(PyObject* object, vorn::py::PreprocessorRecord& out) {
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
    out = vorn::py::record_of<vorn::py::PreprocessorRecord>(object);
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
        vorn::py::PreprocessorRecord record;
        if (!convert_processor(args[0], record)) return nullptr;
        const vorn::preprocess::Preprocessor& config = record.config;
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

namespace {

void raise_failure(const vorn::text::UnicodeFailure& failure) {
    if (failure.out_of_memory) {
        // The wording of vorn's own functions for the same failure.
        PyErr_Format(PyExc_MemoryError, "out of memory during %s", vorn::text::step_name(failure.step).data());
    } else {
        const std::string message = "Preprocessing error: " + vorn::text::describe(failure);
        PyErr_SetString(PyExc_ValueError, message.c_str());
    }
}

}  // namespace

bool preprocess_text(const vorn::py::PreprocessorRecord& processor, std::string_view text, std::string& out) {
    auto processed = vorn::preprocess::process(processor.config, text, processor.custom_stopwords.get());
    if (!processed) {
        raise_failure(processed.error());
        return false;
    }
    out = std::move(*processed);
    return true;
}

std::unique_ptr<StringInput> process_strings(const StringInput& input, const vorn::py::PreprocessorRecord& processor,
                                             std::size_t workers) {
    auto processed = std::make_unique<StringInput>();
    const StringColumn& column = input.column;
    const std::size_t n = column.size();
    processed->owned.resize(n);
    // The first text that fails (ICU out of memory, or a run ICU cannot
    // take) stops the work and is raised as vorn raises it.
    std::mutex failure_lock;
    std::optional<vorn::text::UnicodeFailure> failure;
    std::atomic<bool> failed{false};
    // Items are short; chunks of a few hundred keep thread hand-offs rare.
    const bool completed = run_released(
        n, 256, workers, [&](std::size_t begin, std::size_t end, const vorn::collection::ChunkContext& context) {
            for (std::size_t i = begin; i < end && !context.stop_requested() && !failed.load(std::memory_order_relaxed);
                 ++i) {
                if (column.is_null(i)) continue;
                auto text = vorn::preprocess::process(processor.config, column[i], processor.custom_stopwords.get());
                if (text) {
                    processed->owned[i] = std::move(*text);
                    continue;
                }
                std::lock_guard guard(failure_lock);
                if (!failure) failure = text.error();
                failed.store(true, std::memory_order_relaxed);
            }
        });
    if (!completed) return nullptr;
    if (failure) {
        raise_failure(*failure);
        return nullptr;
    }
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
