// vorn.Preprocessor objects: their settings are read through the class's
// private accessor __vorn_settings__ (never through its memory), rebuilt
// here into a pipeline record, and each string is processed once, in
// parallel, with the interpreter lock released.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "native.hpp"
#include "python/preprocessor_class.hpp"
#include "text/icu_chunks.hpp"

namespace vornkit::native {
namespace {

constexpr Py_ssize_t kSettingsSize = 7;

// vorn.Preprocessor and its accessor, looked up once per process.
PyObject* preprocessor_class = nullptr;
PyObject* settings_accessor = nullptr;

bool find_preprocessor_class() {
    if (preprocessor_class != nullptr) return true;
    PyRef vorn_module(PyImport_ImportModule("vorn"));
    if (!vorn_module) return false;
    PyRef type(PyObject_GetAttrString(vorn_module.get(), "Preprocessor"));
    if (!type) return false;
    PyRef accessor(PyType_Check(type.get()) ? PyObject_GetAttrString(type.get(), "__vorn_settings__") : nullptr);
    if (!accessor) {
        PyErr_Clear();
        PyErr_SetString(PyExc_RuntimeError, "vorn.Preprocessor does not offer the settings vornkit reads");
        return false;
    }
    // The import may have let another thread get here first.
    if (preprocessor_class != nullptr) return true;
    preprocessor_class = type.release();
    settings_accessor = accessor.release();
    return true;
}

bool refuse_settings() {
    PyErr_SetString(PyExc_RuntimeError, "vorn.Preprocessor gave settings of a form vornkit does not read");
    return false;
}

// The settings tuple of a vorn.Preprocessor (or subclass) instance, through
// the class's own accessor whatever a subclass defines; TypeError for
// anything else.
PyObject* settings_of(PyObject* object) {
    if (!find_preprocessor_class()) return nullptr;
    if (!PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(preprocessor_class))) {
        PyErr_Format(PyExc_TypeError, "processor must be a vorn.Preprocessor or None, not %R", object);
        return nullptr;
    }
    PyRef settings(PyObject_CallOneArg(settings_accessor, object));
    if (!settings) return nullptr;
    if (!PyTuple_CheckExact(settings.get()) || PyTuple_GET_SIZE(settings.get()) != kSettingsSize ||
        !PyTuple_CheckExact(PyTuple_GET_ITEM(settings.get(), 5)) ||
        !PyLong_CheckExact(PyTuple_GET_ITEM(settings.get(), 6))) {
        refuse_settings();
        return nullptr;
    }
    return settings.release();
}

bool read_flag(PyObject* settings, Py_ssize_t index, bool& out) {
    PyObject* value = PyTuple_GET_ITEM(settings, index);
    if (!PyBool_Check(value)) return refuse_settings();
    out = value == Py_True;
    return true;
}

}  // namespace

bool convert_processor(PyObject* object, vorn::py::PreprocessorRecord& out) {
    PyRef settings(settings_of(object));
    if (!settings) return false;
    vorn::preprocess::Preprocessor config;
    if (!read_flag(settings.get(), 0, config.normalize_unicode) ||
        !read_flag(settings.get(), 1, config.collapse_whitespace) || !read_flag(settings.get(), 2, config.trim) ||
        !read_flag(settings.get(), 3, config.lowercase) || !read_flag(settings.get(), 4, config.remove_stopwords))
        return false;
    PyObject* words = PyTuple_GET_ITEM(settings.get(), 5);
    config.stopwords.reserve(static_cast<std::size_t>(PyTuple_GET_SIZE(words)));
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(words); ++i) {
        PyObject* word = PyTuple_GET_ITEM(words, i);
        Py_ssize_t size = 0;
        const char* data = PyUnicode_Check(word) ? PyUnicode_AsUTF8AndSize(word, &size) : nullptr;
        if (data == nullptr) {
            PyErr_Clear();
            return refuse_settings();
        }
        config.stopwords.emplace_back(data, static_cast<std::size_t>(size));
    }
    config.max_length = PyLong_AsUnsignedLongLong(PyTuple_GET_ITEM(settings.get(), 6));
    if (config.max_length == static_cast<std::uint64_t>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        return refuse_settings();
    }
    // The custom list's set, built as the class builds it for its instances.
    std::shared_ptr<const vorn::preprocess::StopwordSet> custom;
    if (!config.stopwords.empty())
        custom = std::make_shared<const vorn::preprocess::StopwordSet>(std::span<const std::string>(config.stopwords));
    out = vorn::py::PreprocessorRecord{std::move(config), std::move(custom)};
    return true;
}

// processor_state(processor, /): the settings as a tuple (normalize_unicode,
// collapse_whitespace, trim, lowercase, remove_stopwords, stopwords,
// max_length), stopwords being the custom list (empty for the default one).
// The Preprocessor class cannot be pickled; this lets a job rebuild an equal
// one elsewhere (on Spark executors) through its public builder methods.
PyObject* processor_state(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 1) {
        PyErr_Format(PyExc_TypeError, "processor_state() takes exactly one argument (%zd given)", nargs);
        return nullptr;
    }
    return settings_of(args[0]);
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
    processed->fill_column_from_owned(column);
    return processed;
}

}  // namespace vornkit::native
