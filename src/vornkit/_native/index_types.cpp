// vornkit._native.MinHashIndex, SimHashIndex and EditIndex: the core
// indexes behind vornkit.MinHashLSH, vornkit.SimHashIndex and
// vornkit.EditIndex. Every method works with the interpreter lock released
// and the index's own mutex held, so threads may share an index; an
// EditIndex never changes once built, so its searches need no mutex.
#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <type_traits>

#include "dedup_native.hpp"
#include "index/edit_index.hpp"
#include "index/minhash_lsh.hpp"
#include "index/simhash_index.hpp"

namespace vornkit::native {
namespace {

namespace ix = vorn::index;

template <class Index>
struct IndexObject {
    PyObject_HEAD Index* index;
    std::mutex* mutex;
};

// Runs fn() without the interpreter lock; an exception it throws is
// rethrown once the lock is back.
template <class Fn>
void released(Fn&& fn) {
    std::exception_ptr failure;
    Py_BEGIN_ALLOW_THREADS try { fn(); } catch (...) {
        failure = std::current_exception();
    }
    Py_END_ALLOW_THREADS if (failure) std::rethrow_exception(failure);
}

// Runs fn() on the index without the interpreter lock, under its mutex.
template <class Index, class Fn>
void locked(IndexObject<Index>* self, Fn&& fn) {
    released([&] {
        std::lock_guard guard(*self->mutex);
        fn(*self->index);
    });
}

template <class T>
PyObject* bytes_of(const std::vector<T>& values) {
    return PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                         static_cast<Py_ssize_t>(values.size() * sizeof(T)));
}

PyObject* key_problem(const ix::KeyProblem& problem, std::span<const std::int64_t> keys) {
    using Kind = ix::KeyProblem::Kind;
    const long long key = problem.position < keys.size() ? keys[problem.position] : 0;
    switch (problem.kind) {
        case Kind::kRepeated: return PyErr_Format(PyExc_ValueError, "key %lld appears more than once", key);
        case Kind::kPresent: return PyErr_Format(PyExc_ValueError, "key %lld is already in the index", key);
        case Kind::kMissing: {
            PyRef value(PyLong_FromLongLong(key));
            if (value) PyErr_SetObject(PyExc_KeyError, value.get());
            return nullptr;
        }
        case Kind::kTooMany: break;
    }
    return PyErr_Format(PyExc_OverflowError, "an index holds fewer than 2**32 - 1 documents");
}

PyObject* file_problem(const ix::FileProblem& problem, PyObject* path) {
    if (problem.os_error != 0) {
        errno = problem.os_error;
        return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    }
    return PyErr_Format(PyExc_ValueError, "%S: %s", path, std::string(problem.message).c_str());
}

// The path argument as a str (os.fspath), and its file-system bytes.
bool convert_path(PyObject* object, PyRef& path, std::string& encoded) {
    path = PyRef(PyOS_FSPath(object));
    if (!path) return false;
    PyObject* raw = nullptr;
    if (!PyUnicode_FSConverter(path.get(), &raw)) return false;
    PyRef bytes(raw);
    encoded.assign(PyBytes_AS_STRING(raw), static_cast<std::size_t>(PyBytes_GET_SIZE(raw)));
    return true;
}

template <class Index>
void index_dealloc(PyObject* self) {
    auto* object = reinterpret_cast<IndexObject<Index>*>(self);
    delete object->index;
    delete object->mutex;
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

template <class Index>
PyObject* wrap(PyTypeObject* type, Index&& index) {
    auto* object = reinterpret_cast<IndexObject<Index>*>(type->tp_alloc(type, 0));
    if (object == nullptr) return nullptr;
    object->index = new (std::nothrow) Index(std::move(index));
    object->mutex = new (std::nothrow) std::mutex;
    if (object->index == nullptr || object->mutex == nullptr) {
        Py_DECREF(object);
        return PyErr_NoMemory();
    }
    return reinterpret_cast<PyObject*>(object);
}

template <class Index>
Py_ssize_t index_length(PyObject* self) {
    std::size_t size = 0;
    locked(reinterpret_cast<IndexObject<Index>*>(self), [&](Index& index) { size = index.size(); });
    return static_cast<Py_ssize_t>(size);
}

template <class Index>
PyObject* index_contains(PyObject* self, PyObject* key_object) {
    const long long key = PyLong_AsLongLong(key_object);
    if (key == -1 && PyErr_Occurred()) return nullptr;
    bool found = false;
    locked(reinterpret_cast<IndexObject<Index>*>(self), [&](Index& index) { found = index.contains(key); });
    return PyBool_FromLong(found);
}

template <class Index>
PyObject* index_remove(PyObject* self, PyObject* keys_object) {
    return guarded([&]() -> PyObject* {
        Buffer keys;
        if (!keys.get(keys_object, false, 8, "keys")) return nullptr;
        std::optional<ix::KeyProblem> problem;
        locked(reinterpret_cast<IndexObject<Index>*>(self), [&](Index& index) {
            auto removed = index.remove(keys.span<std::int64_t>());
            if (!removed) problem = removed.error();
        });
        if (problem) return key_problem(*problem, keys.span<std::int64_t>());
        Py_RETURN_NONE;
    });
}

template <class Index>
PyObject* index_add(PyObject* self, PyObject* args, std::size_t values_per_key) {
    PyObject *keys_object, *values_object;
    if (!PyArg_ParseTuple(args, "OO:add", &keys_object, &values_object)) return nullptr;
    return guarded([&]() -> PyObject* {
        Buffer keys, values;
        if (!keys.get(keys_object, false, 8, "keys") || !values.get(values_object, false, 8, "values")) return nullptr;
        if (static_cast<std::size_t>(values.view.len) != static_cast<std::size_t>(keys.view.len) * values_per_key) {
            PyErr_SetString(PyExc_ValueError, "keys and values have mismatched sizes");
            return nullptr;
        }
        std::optional<ix::KeyProblem> problem;
        locked(reinterpret_cast<IndexObject<Index>*>(self), [&](Index& index) {
            auto added = index.add(keys.span<std::int64_t>(), values.span<std::uint64_t>());
            if (!added) problem = added.error();
        });
        if (problem) return key_problem(*problem, keys.span<std::int64_t>());
        Py_RETURN_NONE;
    });
}

template <class Index>
PyObject* index_save(PyObject* self, PyObject* path_object) {
    return guarded([&]() -> PyObject* {
        PyRef path;
        std::string encoded;
        if (!convert_path(path_object, path, encoded)) return nullptr;
        std::optional<ix::FileProblem> problem;
        locked(reinterpret_cast<IndexObject<Index>*>(self), [&](Index& index) {
            auto written = index.save(encoded);
            if (!written) problem = written.error();
        });
        if (problem) return file_problem(*problem, path.get());
        Py_RETURN_NONE;
    });
}

template <class Index>
PyObject* index_load(PyTypeObject* type, PyObject* path_object) {
    return guarded([&]() -> PyObject* {
        PyRef path;
        std::string encoded;
        if (!convert_path(path_object, path, encoded)) return nullptr;
        std::optional<vorn::Expected<Index, ix::FileProblem>> loaded;
        Py_BEGIN_ALLOW_THREADS try { loaded.emplace(Index::load(encoded)); } catch (const std::bad_alloc&) {
        }
        Py_END_ALLOW_THREADS if (!loaded) return PyErr_NoMemory();
        if (!*loaded) return file_problem(loaded->error(), path.get());
        return wrap(type, std::move(**loaded));
    });
}

// ---- MinHashIndex ----

using LshObject = IndexObject<ix::MinHashLsh>;
PyTypeObject* minhash_index_type = nullptr;
PyTypeObject* simhash_index_type = nullptr;

PyObject* lsh_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    double threshold, fp_weight, fn_weight;
    PyObject *num_hashes_object, *bands_object, *rows_object;
    std::uint64_t num_hashes, bands, rows;
    if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) {
        PyErr_SetString(PyExc_TypeError, "MinHashIndex takes positional arguments only");
        return nullptr;
    }
    if (!PyArg_ParseTuple(args, "dOOOdd:MinHashIndex", &threshold, &num_hashes_object, &bands_object, &rows_object,
                          &fp_weight, &fn_weight) ||
        !convert_size(num_hashes_object, "num_hashes", num_hashes) || !convert_size(bands_object, "bands", bands) ||
        !convert_size(rows_object, "rows", rows))
        return nullptr;
    auto shape = ix::check_band_shape(bands, rows, num_hashes);
    if (!shape) return set_invalid_argument(shape.error()), nullptr;
    if (!(threshold >= 0.0 && threshold <= 1.0)) return set_invalid_argument({"threshold must be in [0, 1]"}), nullptr;
    return guarded([&] { return wrap(type, ix::MinHashLsh({threshold, num_hashes, *shape, fp_weight, fn_weight})); });
}

PyObject* lsh_add(PyObject* self, PyObject* args) {
    return index_add<ix::MinHashLsh>(self, args, reinterpret_cast<LshObject*>(self)->index->settings().num_hashes);
}

PyObject* lsh_query_many(PyObject* self, PyObject* signatures_object) {
    return guarded([&]() -> PyObject* {
        Buffer signatures;
        if (!signatures.get(signatures_object, false, 8, "signatures")) return nullptr;
        const std::size_t m = reinterpret_cast<LshObject*>(self)->index->settings().num_hashes;
        const auto values = signatures.span<std::uint64_t>();
        if (values.size() % m != 0) {
            PyErr_SetString(PyExc_ValueError, "signatures have the wrong size");
            return nullptr;
        }
        std::vector<std::int64_t> query_index, keys;
        locked(reinterpret_cast<LshObject*>(self), [&](ix::MinHashLsh& index) {
            for (std::size_t q = 0; q < values.size() / m; ++q) {
                const auto found = index.query(values.subspan(q * m, m));
                query_index.insert(query_index.end(), found.size(), static_cast<std::int64_t>(q));
                keys.insert(keys.end(), found.begin(), found.end());
            }
        });
        return Py_BuildValue("(NN)", bytes_of(query_index), bytes_of(keys));
    });
}

PyObject* lsh_candidate_pairs(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        ix::SlotPairs pairs;
        std::vector<std::int64_t> keys_by_slot;
        locked(reinterpret_cast<LshObject*>(self), [&](ix::MinHashLsh& index) {
            pairs = index.candidate_slot_pairs();
            keys_by_slot.assign(index.keys().begin(), index.keys().end());
        });
        // The key pairs are written straight into the arrays returned,
        // once their size is known, from copies that outlive the lock.
        const auto bytes = static_cast<Py_ssize_t>(pairs.size() * sizeof(std::int64_t));
        PyRef first(PyByteArray_FromStringAndSize(nullptr, bytes)),
            second(PyByteArray_FromStringAndSize(nullptr, bytes));
        if (!first || !second) return nullptr;
        released([&] {
            ix::write_key_pairs(pairs, keys_by_slot,
                                {reinterpret_cast<std::int64_t*>(PyByteArray_AS_STRING(first.get())), pairs.size()},
                                {reinterpret_cast<std::int64_t*>(PyByteArray_AS_STRING(second.get())), pairs.size()});
        });
        return Py_BuildValue("(OO)", first.get(), second.get());
    });
}

PyObject* lsh_settings(PyObject* self, PyObject*) {
    const ix::LshSettings& s = reinterpret_cast<LshObject*>(self)->index->settings();
    return Py_BuildValue("(dKKKdd)", s.threshold, static_cast<unsigned long long>(s.num_hashes),
                         static_cast<unsigned long long>(s.shape.bands), static_cast<unsigned long long>(s.shape.rows),
                         s.fp_weight, s.fn_weight);
}

PyObject* lsh_keys(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        std::vector<std::int64_t> keys;
        locked(reinterpret_cast<LshObject*>(self), [&](ix::MinHashLsh& index) {
            const auto all = index.keys();
            for (std::size_t slot = 0; slot < all.size(); ++slot)
                if (index.alive(static_cast<std::uint32_t>(slot))) keys.push_back(all[slot]);
        });
        return bytes_of(keys);
    });
}

PyObject* lsh_load(PyObject* cls, PyObject* path) {
    return index_load<ix::MinHashLsh>(reinterpret_cast<PyTypeObject*>(cls), path);
}

PyMethodDef lsh_methods[] = {
    {"add", lsh_add, METH_VARARGS, nullptr},
    {"remove", index_remove<ix::MinHashLsh>, METH_O, nullptr},
    {"contains", index_contains<ix::MinHashLsh>, METH_O, nullptr},
    {"query_many", lsh_query_many, METH_O, nullptr},
    {"candidate_pairs", lsh_candidate_pairs, METH_NOARGS, nullptr},
    {"settings", lsh_settings, METH_NOARGS, nullptr},
    {"keys", lsh_keys, METH_NOARGS, nullptr},
    {"save", index_save<ix::MinHashLsh>, METH_O, nullptr},
    {"load", lsh_load, METH_O | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot lsh_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(lsh_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(index_dealloc<ix::MinHashLsh>)},
    {Py_tp_methods, lsh_methods},
    {Py_sq_length, reinterpret_cast<void*>(index_length<ix::MinHashLsh>)},
    {0, nullptr},
};

PyType_Spec lsh_spec = {"vornkit._native.MinHashIndex", sizeof(LshObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, lsh_slots};

// ---- SimHashIndex ----

using SimObject = IndexObject<ix::SimHashIndex>;

PyObject* sim_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* max_distance_object;
    std::uint64_t max_distance;
    if ((kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) ||
        !PyArg_ParseTuple(args, "O:SimHashIndex", &max_distance_object)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "SimHashIndex takes positional arguments only");
        return nullptr;
    }
    if (!convert_size(max_distance_object, "max_distance", max_distance)) return nullptr;
    if (max_distance > ix::kMaxSimHashDistance)
        return PyErr_Format(PyExc_ValueError, "max_distance must be in [0, %u]", ix::kMaxSimHashDistance);
    return guarded([&] { return wrap(type, ix::SimHashIndex(static_cast<unsigned>(max_distance))); });
}

PyObject* sim_add(PyObject* self, PyObject* args) { return index_add<ix::SimHashIndex>(self, args, 1); }

PyObject* sim_query_many(PyObject* self, PyObject* fingerprints_object) {
    return guarded([&]() -> PyObject* {
        Buffer fingerprints;
        if (!fingerprints.get(fingerprints_object, false, 8, "fingerprints")) return nullptr;
        const auto values = fingerprints.span<std::uint64_t>();
        std::vector<std::int64_t> query_index;
        ix::KeyMatches found;
        locked(reinterpret_cast<SimObject*>(self),
               [&](ix::SimHashIndex& index) { index.query_many(values, query_index, found); });
        return Py_BuildValue("(NNN)", bytes_of(query_index), bytes_of(found.keys), bytes_of(found.distances));
    });
}

PyObject* sim_pairs(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        ix::KeyPairsWithDistance pairs;
        locked(reinterpret_cast<SimObject*>(self), [&](ix::SimHashIndex& index) { pairs = index.pairs(); });
        return Py_BuildValue("(NNN)", bytes_of(pairs.first), bytes_of(pairs.second), bytes_of(pairs.distances));
    });
}

PyObject* sim_max_distance(PyObject* self, PyObject*) {
    return PyLong_FromUnsignedLong(reinterpret_cast<SimObject*>(self)->index->max_distance());
}

PyObject* sim_load(PyObject* cls, PyObject* path) {
    return index_load<ix::SimHashIndex>(reinterpret_cast<PyTypeObject*>(cls), path);
}

PyMethodDef sim_methods[] = {
    {"add", sim_add, METH_VARARGS, nullptr},
    {"remove", index_remove<ix::SimHashIndex>, METH_O, nullptr},
    {"contains", index_contains<ix::SimHashIndex>, METH_O, nullptr},
    {"query_many", sim_query_many, METH_O, nullptr},
    {"pairs", sim_pairs, METH_NOARGS, nullptr},
    {"max_distance", sim_max_distance, METH_NOARGS, nullptr},
    {"save", index_save<ix::SimHashIndex>, METH_O, nullptr},
    {"load", sim_load, METH_O | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot sim_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(sim_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(index_dealloc<ix::SimHashIndex>)},
    {Py_tp_methods, sim_methods},
    {Py_sq_length, reinterpret_cast<void*>(index_length<ix::SimHashIndex>)},
    {0, nullptr},
};

PyType_Spec sim_spec = {"vornkit._native.SimHashIndex", sizeof(SimObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, sim_slots};

// ---- EditIndex ----

using EditObject = IndexObject<ix::EditIndex>;
using vorn::collection::ChunkContext;
PyTypeObject* edit_index_type = nullptr;

PyObject* edit_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* strings_object;
    if ((kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) ||
        !PyArg_ParseTuple(args, "O:EditIndex", &strings_object)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "EditIndex takes positional arguments only");
        return nullptr;
    }
    const StringInput* input = strings_input(strings_object);
    if (input == nullptr) return nullptr;
    return guarded([&]() -> PyObject* {
        std::optional<vorn::Expected<ix::EditIndex, vorn::InvalidArgument>> built;
        released([&] { built.emplace(ix::EditIndex::build(input->column)); });
        if (!*built) return PyErr_Format(PyExc_OverflowError, "%s", std::string(built->error().message).c_str());
        return wrap(type, std::move(**built));
    });
}

// The matches of every query, searched in chunks on up to `workers`
// threads, as bytearrays (query index int64, choice int64, value) with
// the values as Value. search(text, scratch, out, context) appends the
// matches of one query; nulls match nothing.
template <class Value, class Match, class Search>
PyObject* search_queries(PyObject* strings_object, PyObject* workers_object, Search&& search) {
    const StringInput* input = strings_input(strings_object);
    std::size_t workers = 1;
    if (input == nullptr || !convert_workers(workers_object, workers)) return nullptr;
    const StringColumn& queries = input->column;
    struct Found {
        std::vector<std::int64_t> query;
        std::vector<Match> matches;
    };
    constexpr std::size_t kChunk = 16;
    std::vector<Found> found((queries.size() + kChunk - 1) / kChunk);
    std::vector<ix::EditSearch> scratch(std::max<std::size_t>(1, workers));
    const bool completed = run_released(
        queries.size(), kChunk, workers, [&](std::size_t begin, std::size_t end, const ChunkContext& context) {
            Found& out = found[begin / kChunk];
            for (std::size_t q = begin; q < end; ++q) {
                if (queries.is_null(q)) continue;
                if (!search(queries[q], scratch[context.worker()], out.matches, &context)) return;
                out.query.resize(out.matches.size(), static_cast<std::int64_t>(q));
            }
        });
    if (!completed) return nullptr;
    std::size_t total = 0;
    for (const Found& f : found) total += f.query.size();
    std::vector<std::int64_t> query_index, choices;
    std::vector<Value> values;
    query_index.reserve(total);
    choices.reserve(total);
    values.reserve(total);
    for (const Found& f : found) {
        query_index.insert(query_index.end(), f.query.begin(), f.query.end());
        for (const Match& match : f.matches) {
            choices.push_back(match.choice);
            if constexpr (std::is_same_v<Match, ix::EditMatch>) values.push_back(match.distance);
            else values.push_back(match.similarity);
        }
    }
    return Py_BuildValue("(NNN)", bytes_of(query_index), bytes_of(choices), bytes_of(values));
}

// query_many(strings, max_distance, workers, by_scan)
PyObject* edit_query_many(PyObject* self, PyObject* args) {
    PyObject *strings_object, *workers_object;
    unsigned long long max_distance;
    int by_scan;
    if (!PyArg_ParseTuple(args, "OKOp:query_many", &strings_object, &max_distance, &workers_object, &by_scan))
        return nullptr;
    const ix::EditIndex& index = *reinterpret_cast<EditObject*>(self)->index;
    return guarded([&] {
        return search_queries<std::int64_t, ix::EditMatch>(
            strings_object, workers_object,
            [&](std::string_view text, ix::EditSearch& search, std::vector<ix::EditMatch>& out,
                const ChunkContext* context) {
                return by_scan ? index.scan(text, max_distance, search, out, context)
                               : index.query(text, max_distance, search, out, context);
            });
    });
}

// query_similar_many(strings, cutoff, workers)
PyObject* edit_query_similar_many(PyObject* self, PyObject* args) {
    PyObject *strings_object, *workers_object;
    double cutoff;
    if (!PyArg_ParseTuple(args, "OdO:query_similar_many", &strings_object, &cutoff, &workers_object)) return nullptr;
    if (std::isnan(cutoff)) {
        PyErr_SetString(PyExc_ValueError, "score_cutoff must not be NaN");
        return nullptr;
    }
    const ix::EditIndex& index = *reinterpret_cast<EditObject*>(self)->index;
    return guarded([&] {
        return search_queries<double, ix::SimilarityMatch>(
            strings_object, workers_object,
            [&](std::string_view text, ix::EditSearch& search, std::vector<ix::SimilarityMatch>& out,
                const ChunkContext* context) { return index.query_similar(text, cutoff, search, out, context); });
    });
}

PyObject* edit_memory_bytes(PyObject* self, PyObject*) {
    return PyLong_FromSize_t(reinterpret_cast<EditObject*>(self)->index->memory_bytes());
}

PyObject* edit_load(PyObject* cls, PyObject* path) {
    return index_load<ix::EditIndex>(reinterpret_cast<PyTypeObject*>(cls), path);
}

PyMethodDef edit_methods[] = {
    {"query_many", edit_query_many, METH_VARARGS, nullptr},
    {"query_similar_many", edit_query_similar_many, METH_VARARGS, nullptr},
    {"memory_bytes", edit_memory_bytes, METH_NOARGS, nullptr},
    {"save", index_save<ix::EditIndex>, METH_O, nullptr},
    {"load", edit_load, METH_O | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot edit_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(edit_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(index_dealloc<ix::EditIndex>)},
    {Py_tp_methods, edit_methods},
    {Py_sq_length, reinterpret_cast<void*>(index_length<ix::EditIndex>)},
    {0, nullptr},
};

PyType_Spec edit_spec = {"vornkit._native.EditIndex", sizeof(EditObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, edit_slots};

}  // namespace

int add_index_types(PyObject* module) {
    if (minhash_index_type == nullptr) minhash_index_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&lsh_spec));
    if (simhash_index_type == nullptr) simhash_index_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&sim_spec));
    if (edit_index_type == nullptr) edit_index_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&edit_spec));
    if (minhash_index_type == nullptr || simhash_index_type == nullptr || edit_index_type == nullptr) return -1;
    if (PyModule_AddObjectRef(module, "MinHashIndex", reinterpret_cast<PyObject*>(minhash_index_type)) != 0) return -1;
    if (PyModule_AddObjectRef(module, "EditIndex", reinterpret_cast<PyObject*>(edit_index_type)) != 0) return -1;
    return PyModule_AddObjectRef(module, "SimHashIndex", reinterpret_cast<PyObject*>(simhash_index_type));
}

}  // namespace vornkit::native
