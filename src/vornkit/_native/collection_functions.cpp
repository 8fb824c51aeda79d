// The collection functions: each converts its arguments, scores with the
// interpreter lock released and writes into arrays the Python layer made
// (vornkit/_collections.py allocates them and documents the rules).
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "collection/batch.hpp"
#include "native.hpp"

namespace vornkit::native {

namespace col = vorn::collection;

namespace {

bool check_count(Py_ssize_t given, Py_ssize_t expected, const char* name) {
    if (given == expected) return true;
    PyErr_Format(PyExc_TypeError, "%s() takes %zd arguments (%zd given)", name, expected, given);
    return false;
}

// A writable C-contiguous buffer of one of the output element types.
class OutputBuffer {
public:
    OutputBuffer() = default;
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;
    ~OutputBuffer() {
        if (held_) PyBuffer_Release(&view_);
    }

    bool acquire(PyObject* object, std::size_t expected_items) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) != 0) return false;
        held_ = true;
        const std::string_view format = view_.format == nullptr ? "B" : view_.format;
        const char code = format.size() == 1 ? format[0] : (format.size() == 2 && format[0] == '=' ? format[1] : '?');
        const bool is_signed = std::strchr("bhilq", code) != nullptr;
        const bool is_unsigned = std::strchr("BHILQ", code) != nullptr;
        if (code == 'd' && view_.itemsize == 8) {
            type_ = col::OutputType::float64;
        } else if (code == 'f' && view_.itemsize == 4) {
            type_ = col::OutputType::float32;
        } else if (is_signed || is_unsigned) {
            constexpr col::OutputType kSigned[] = {col::OutputType::int8, col::OutputType::int16,
                                                   col::OutputType::int32, col::OutputType::int64};
            constexpr col::OutputType kUnsigned[] = {col::OutputType::uint8, col::OutputType::uint16,
                                                     col::OutputType::uint32, col::OutputType::uint64};
            const int width = view_.itemsize == 1 ? 0 : view_.itemsize == 2 ? 1 : view_.itemsize == 4 ? 2 : 3;
            type_ = is_signed ? kSigned[width] : kUnsigned[width];
        } else {
            PyErr_Format(PyExc_TypeError, "unsupported output element format '%s'", view_.format);
            return false;
        }
        if (static_cast<std::size_t>(view_.len / view_.itemsize) != expected_items) {
            PyErr_SetString(PyExc_ValueError, "output array has the wrong size");
            return false;
        }
        return true;
    }

    col::Output output() const { return {view_.buf, type_}; }
    col::OutputType type() const { return type_; }

private:
    Py_buffer view_{};
    bool held_ = false;
    col::OutputType type_ = col::OutputType::float64;
};

bool convert_cutoff(PyObject* object, bool distance, col::Cutoff& out) {
    if (object == Py_None) return true;
    if (distance) {
        PyRef index(PyNumber_Index(object));
        if (!index) return false;
        const long long value = PyLong_AsLongLong(index.get());
        if (value == -1 && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError) || _PyLong_Sign(index.get()) < 0) return false;
            PyErr_Clear();
            out.distance = col::kUnbounded;  // no distance is that large
            return true;
        }
        if (value < 0) {
            PyErr_SetString(PyExc_ValueError, "score_cutoff of a distance must not be negative");
            return false;
        }
        out.distance = std::min<long long>(value, col::kUnbounded);
        return true;
    }
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return false;
    if (std::isnan(value)) {
        PyErr_SetString(PyExc_ValueError, "score_cutoff must not be NaN");
        return false;
    }
    out.similarity = value;
    return true;
}

// The common arguments of every collection function.
struct Job {
    const StringInput* a = nullptr;
    const StringInput* b = nullptr;
    col::ScorerConfig config;
    col::Cutoff cutoff;
    std::size_t workers = 1;

    bool convert(PyObject* a_object, PyObject* b_object, PyObject* scorer, PyObject* kwargs, PyObject* cutoff_object,
                 PyObject* workers_object) {
        a = strings_input(a_object);
        if (a == nullptr) return false;
        b = b_object == Py_None ? a : strings_input(b_object);
        if (b == nullptr) return false;
        if (convert_scorer(scorer, kwargs, config) == nullptr ||
            !convert_cutoff(cutoff_object, col::is_distance(config.kind), cutoff) ||
            !convert_workers(workers_object, workers))
            return false;
        config.score_cutoff = cutoff.similarity.value_or(0.0);
        return true;
    }

    col::Runner runner() const {
        return [workers = workers](std::size_t n, std::size_t chunk, const col::ChunkBody& body) {
            return run_released(n, chunk, workers, body);
        };
    }

    // The scorer over a and b with its per-string work done (a search of a
    // few queries scores the RapidFuzz-compatible measures without it).
    std::unique_ptr<col::PairScorer> prepared_scorer(bool search = false) const {
        const bool per_string_data = !(search && col::prefers_pruned_search(a->column.size()));
        auto scorer = std::make_unique<col::PairScorer>(config, a->column, b->column, per_string_data);
        const bool completed = runner()(
            scorer->prepare_count(), 64,
            [&](std::size_t begin, std::size_t end, const col::ChunkContext&) { scorer->prepare(begin, end); });
        if (!completed) return nullptr;
        return scorer;
    }
};

// A Python callable applied once per string, with the interpreter lock
// held; nulls stay null and are not passed to it.
std::unique_ptr<StringInput> call_processor(const StringInput& input, PyObject* callable) {
    const col::StringColumn& column = input.column;
    const std::size_t n = column.size();
    auto processed = std::make_unique<StringInput>();
    processed->owned.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (column.is_null(i)) continue;
        const std::string_view text = column[i];
        PyRef original(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
        if (!original) return nullptr;
        PyRef result(PyObject_CallOneArg(callable, original.get()));
        if (!result) return nullptr;
        if (!PyUnicode_Check(result.get())) {
            PyErr_Format(PyExc_TypeError, "processor must return str, not '%.200s'", Py_TYPE(result.get())->tp_name);
            return nullptr;
        }
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(result.get(), &size);
        if (data != nullptr) {
            processed->owned[i].assign(data, static_cast<std::size_t>(size));
        } else {
            // Lone surrogates are kept, one character each, as the scorers read them.
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return nullptr;
            PyErr_Clear();
            PyRef encoded(PyUnicode_AsEncodedString(result.get(), "utf-8", "surrogatepass"));
            if (!encoded) return nullptr;
            processed->owned[i].assign(PyBytes_AS_STRING(encoded.get()),
                                       static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get())));
        }
        if (PyErr_CheckSignals() < 0) return nullptr;
    }
    processed->fill_column_from_owned(column);
    return processed;
}

// The length index of prepared texts, built on first use (the calling
// thread holds the interpreter lock until the build starts, so only one
// builds it); none for other texts. False when interrupted.
bool length_index_of(const StringInput& input, const col::LengthIndex*& index) {
    index = nullptr;
    if (!input.prepared || input.column.size() > UINT32_MAX) return true;
    if (!input.length_index) {
        std::unique_ptr<col::LengthIndex> built;
        if (!run_released(1, 1, 1, [&](std::size_t, std::size_t, const col::ChunkContext&) {
                built = std::make_unique<col::LengthIndex>(input.column);
            }))
            return false;
        if (!input.length_index) input.length_index = std::move(built);
    }
    index = input.length_index.get();
    return true;
}

template <class T>
PyObject* to_bytearray(const std::vector<T>& values) {
    return PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                         static_cast<Py_ssize_t>(values.size() * sizeof(T)));
}

}  // namespace

PyObject* scorer_info(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!check_count(nargs, 2, "scorer_info")) return nullptr;
    return guarded([&]() -> PyObject* {
        col::ScorerConfig config;
        const vorn::registry::Entry* entry = convert_scorer(args[0], args[1], config);
        if (entry == nullptr) return nullptr;
        return Py_BuildValue("(s#O)", entry->function.data(), static_cast<Py_ssize_t>(entry->function.size()),
                             col::is_distance(config.kind) ? Py_True : Py_False);
    });
}

PyObject* apply_processor(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!check_count(nargs, 3, "apply_processor")) return nullptr;
    return guarded([&]() -> PyObject* {
        const StringInput* input = strings_input(args[0]);
        if (input == nullptr) return nullptr;
        if (PyCallable_Check(args[1])) {
            auto processed = call_processor(*input, args[1]);
            if (!processed) return nullptr;
            processed->origin = PyRef::borrow(args[0]);
            return new_strings_object(std::move(processed));
        }
        vorn::py::PreprocessorRecord processor;
        std::size_t workers;
        if (!convert_processor(args[1], processor) || !convert_workers(args[2], workers)) return nullptr;
        auto processed = process_strings(*input, processor, workers);
        if (!processed) return nullptr;
        processed->origin = PyRef::borrow(args[0]);
        return new_strings_object(std::move(processed));
    });
}

// mark_prepared(strings): its texts are searched many times; searches
// may keep per-text data with them.
PyObject* mark_prepared(PyObject*, PyObject* strings) {
    const StringInput* input = strings_input(strings);
    if (input == nullptr) return nullptr;
    const_cast<StringInput*>(input)->prepared = true;
    Py_RETURN_NONE;
}

// cdist(a, b, scorer, scorer_kwargs, score_cutoff, out, workers)
PyObject* cdist(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!check_count(nargs, 7, "cdist")) return nullptr;
    return guarded([&]() -> PyObject* {
        Job job;
        if (!job.convert(args[0], args[1], args[2], args[3], args[4], args[6])) return nullptr;
        OutputBuffer out;
        if (!out.acquire(args[5], job.a->column.size() * job.b->column.size())) return nullptr;
        auto scorer = job.prepared_scorer();
        if (!scorer || !col::cdist(*scorer, job.runner(), job.cutoff, out.output())) return nullptr;
        Py_RETURN_NONE;
    });
}

// cpdist(a, b, scorer, scorer_kwargs, score_cutoff, out, workers)
PyObject* cpdist(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!check_count(nargs, 7, "cpdist")) return nullptr;
    return guarded([&]() -> PyObject* {
        Job job;
        if (!job.convert(args[0], args[1], args[2], args[3], args[4], args[6])) return nullptr;
        if (job.a->column.size() != job.b->column.size()) {
            PyErr_Format(PyExc_ValueError, "cpdist needs collections of equal length, got %zu and %zu",
                         job.a->column.size(), job.b->column.size());
            return nullptr;
        }
        OutputBuffer out;
        if (!out.acquire(args[5], job.a->column.size())) return nullptr;
        auto scorer = job.prepared_scorer();
        if (!scorer || !col::cpdist(*scorer, job.runner(), job.cutoff, out.output())) return nullptr;
        Py_RETURN_NONE;
    });
}

// topk(a, b, scorer, scorer_kwargs, score_cutoff, k, indices_out, scores_out, workers)
PyObject* topk(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!check_count(nargs, 9, "topk")) return nullptr;
    return guarded([&]() -> PyObject* {
        Job job;
        if (!job.convert(args[0], args[1], args[2], args[3], args[4], args[8])) return nullptr;
        const Py_ssize_t k = PyLong_AsSsize_t(args[5]);
        if (k == -1 && PyErr_Occurred()) return nullptr;
        std::size_t rows = 0;
        if (k < 0 || __builtin_mul_overflow(job.a->column.size(), static_cast<std::size_t>(k), &rows)) {
            PyErr_SetString(PyExc_ValueError, "k is out of range");
            return nullptr;
        }
        OutputBuffer indices, scores;
        if (!indices.acquire(args[6], rows) || !scores.acquire(args[7], rows)) return nullptr;
        if (indices.type() != col::OutputType::int64) {
            PyErr_SetString(PyExc_TypeError, "indices must be int64");
            return nullptr;
        }
        const col::LengthIndex* choices_index;
        if (!length_index_of(*job.b, choices_index)) return nullptr;
        auto scorer = job.prepared_scorer(true);
        if (!scorer || !col::topk(*scorer, static_cast<std::size_t>(k), job.runner(), job.workers, job.cutoff,
                                  static_cast<std::int64_t*>(indices.output().data), scores.output(),
                                  {choices_index, job.b->char_counts}))
            return nullptr;
        Py_RETURN_NONE;
    });
}

// threshold_join(a, b or None, scorer, scorer_kwargs, score_cutoff, workers)
//   -> (bytearray of int64 i, of int64 j, of float64 or int64 scores)
PyObject* threshold_join(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!check_count(nargs, 6, "threshold_join")) return nullptr;
    return guarded([&]() -> PyObject* {
        Job job;
        if (!job.convert(args[0], args[1], args[2], args[3], args[4], args[5])) return nullptr;
        auto scorer = job.prepared_scorer();
        if (!scorer) return nullptr;
        auto result = col::threshold_join(*scorer, args[1] == Py_None, job.runner(), job.cutoff);
        if (!result) return nullptr;
        PyRef i(to_bytearray(result->i));
        if (!i) return nullptr;
        std::vector<std::int64_t>().swap(result->i);
        PyRef j(to_bytearray(result->j));
        if (!j) return nullptr;
        std::vector<std::int64_t>().swap(result->j);
        PyRef scores(col::is_distance(job.config.kind) ? to_bytearray(result->distance)
                                                       : to_bytearray(result->similarity));
        if (!scores) return nullptr;
        return PyTuple_Pack(3, i.get(), j.get(), scores.get());
    });
}

}  // namespace vornkit::native
