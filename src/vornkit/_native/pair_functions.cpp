// Scores of candidate pairs named by row numbers (vornkit/_blocking.py
// makes the arrays and documents the rules).
#include "collection/indexed_pairs.hpp"
#include "dedup_native.hpp"
#include "native.hpp"

namespace vornkit::native {

namespace col = vorn::collection;

namespace {

// The first index outside [0, size), or -1 when every index is in range.
Py_ssize_t first_out_of_range(std::span<const std::int64_t> indices, std::size_t size) {
    const auto limit = static_cast<std::int64_t>(size);
    for (std::size_t k = 0; k < indices.size(); ++k)
        if (indices[k] < 0 || indices[k] >= limit) return static_cast<Py_ssize_t>(k);
    return -1;
}

bool check_indices(std::span<const std::int64_t> indices, std::size_t size, const char* name) {
    const Py_ssize_t bad = first_out_of_range(indices, size);
    if (bad < 0) return true;
    PyErr_Format(PyExc_IndexError, "%s[%zd] = %lld is out of range for %zu strings", name, bad,
                 static_cast<long long>(indices[static_cast<std::size_t>(bad)]), size);
    return false;
}

}  // namespace

// score_pairs(a, b, i, j, scorer, scorer_kwargs, out, workers): out[k] is
// the score of a[i[k]] and b[j[k]] as float64, NaN with a null or empty
// text (a missing field).
PyObject* score_pairs(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 8) {
        PyErr_Format(PyExc_TypeError, "score_pairs() takes 8 arguments (%zd given)", nargs);
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        const StringInput* a = strings_input(args[0]);
        if (a == nullptr) return nullptr;
        const StringInput* b = strings_input(args[1]);
        if (b == nullptr) return nullptr;
        Buffer i, j, out;
        if (!i.get(args[2], false, sizeof(std::int64_t), "i") || !j.get(args[3], false, sizeof(std::int64_t), "j"))
            return nullptr;
        col::ScorerConfig config;
        std::size_t workers;
        if (!convert_scorer(args[4], args[5], config) || !out.get(args[6], true, sizeof(double), "out") ||
            !convert_workers(args[7], workers))
            return nullptr;
        const auto first = i.span<std::int64_t>(), second = j.span<std::int64_t>();
        if (first.size() != second.size()) {
            PyErr_Format(PyExc_ValueError, "i and j must have the same length, got %zu and %zu", first.size(),
                         second.size());
            return nullptr;
        }
        if (out.span<double>().size() != first.size()) {
            PyErr_SetString(PyExc_ValueError, "output array has the wrong size");
            return nullptr;
        }
        if (!check_indices(first, a->column.size(), "i") || !check_indices(second, b->column.size(), "j"))
            return nullptr;
        auto runner = [workers](std::size_t n, std::size_t chunk, const col::ChunkBody& body) {
            return run_released(n, chunk, workers, body);
        };
        // The same Strings twice is one column: signatures are made once.
        col::PairScorer scorer(config, a->column, b->column);
        if (!runner(scorer.prepare_count(), 64,
                    [&](std::size_t begin, std::size_t end, const col::ChunkContext&) { scorer.prepare(begin, end); }))
            return nullptr;
        if (!col::indexed_pairs(scorer, first, second, true, runner, out.mutable_span<double>().data())) return nullptr;
        Py_RETURN_NONE;
    });
}

}  // namespace vornkit::native
