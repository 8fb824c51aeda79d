// Batch fingerprints, LSH helpers, components and the linking steps of
// dedup. The Python layer (vornkit/dedup.py) checks shapes and dtypes and
// allocates the output arrays; these functions check byte sizes again so
// that no call can read or write out of bounds.
#include <cstring>

#include "algo/minhash.hpp"
#include "dedup_native.hpp"
#include "index/components.hpp"
#include "index/fingerprint_batch.hpp"
#include "index/lsh.hpp"

namespace vornkit::native {

namespace ix = vorn::index;

bool Buffer::get(PyObject* object, bool writable, std::size_t item_size, const char* name) {
    if (PyObject_GetBuffer(object, &view, PyBUF_C_CONTIGUOUS | (writable ? PyBUF_WRITABLE : 0)) != 0) return false;
    held = true;
    if (view.itemsize != static_cast<Py_ssize_t>(item_size) || view.len % static_cast<Py_ssize_t>(item_size) != 0) {
        PyErr_Format(PyExc_TypeError, "%s must hold %zu-byte items", name, item_size);
        return false;
    }
    return true;
}

bool set_invalid_argument(const vorn::InvalidArgument& error) {
    PyErr_SetString(PyExc_ValueError, std::string(error.message).c_str());
    return false;
}

bool run_released_with_stop(const std::function<bool(const ix::StopCheck&)>& body) {
    PyThreadState* state = PyEval_SaveThread();
    bool interrupted = false;
    const ix::StopCheck should_stop = [&] {
        PyEval_RestoreThread(state);
        interrupted = PyErr_CheckSignals() != 0;
        state = PyEval_SaveThread();
        return interrupted;
    };
    try {
        body(should_stop);
    } catch (...) {
        PyEval_RestoreThread(state);
        throw;
    }
    PyEval_RestoreThread(state);
    return !interrupted;
}

namespace {

constexpr std::size_t kTextsPerChunk = 64;

// Texts [begin, end) of a Strings object, checked against the column.
bool text_range(const StringInput& input, Py_ssize_t begin, Py_ssize_t end, std::span<const std::string_view>& texts) {
    const auto& all = input.column.values();
    if (begin < 0 || end < begin || static_cast<std::size_t>(end) > all.size()) {
        PyErr_SetString(PyExc_IndexError, "text range out of bounds");
        return false;
    }
    texts = std::span<const std::string_view>(all).subspan(static_cast<std::size_t>(begin),
                                                           static_cast<std::size_t>(end - begin));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (input.column.is_null(static_cast<std::size_t>(begin) + i)) {
            PyErr_Format(PyExc_ValueError, "texts[%zu] is null; drop or fill nulls first",
                         static_cast<std::size_t>(begin) + i);
            return false;
        }
    }
    return true;
}

// (simhash, strings, begin, end, shingle_size, num_hashes, workers, out):
// MinHash signature rows (num_hashes each) or SimHash fingerprints (one
// each, num_hashes ignored) of texts [begin, end), into out, which holds
// exactly those rows.
PyObject* fingerprint_rows(PyObject*, PyObject* args) {
    PyObject *strings, *out_object, *workers_object, *shingle_object, *num_hashes_object;
    int simhash;
    Py_ssize_t begin, end;
    std::uint64_t shingle_size, num_hashes;
    if (!PyArg_ParseTuple(args, "pOnnOOOO:fingerprint_rows", &simhash, &strings, &begin, &end, &shingle_object,
                          &num_hashes_object, &workers_object, &out_object) ||
        !convert_size(shingle_object, "shingle_size", shingle_size) ||
        !convert_size(num_hashes_object, "num_hashes", num_hashes))
        return nullptr;
    return guarded([&]() -> PyObject* {
        const StringInput* input = strings_input(strings);
        std::span<const std::string_view> texts;
        std::size_t workers;
        Buffer out;
        if (input == nullptr || !text_range(*input, begin, end, texts) || !convert_workers(workers_object, workers) ||
            !out.get(out_object, true, 8, "out"))
            return nullptr;
        const std::size_t per_text = simhash ? 1 : num_hashes;
        if (static_cast<std::size_t>(out.view.len) / 8 != texts.size() * per_text) {
            PyErr_SetString(PyExc_ValueError, "out has the wrong size");
            return nullptr;
        }
        if (shingle_size == 0) return set_invalid_argument(vorn::kZeroWindow), nullptr;
        const auto rows = out.mutable_span<std::uint64_t>();
        const std::size_t chunk = simhash ? 4 * kTextsPerChunk : kTextsPerChunk;
        std::vector<vorn::algo::MinHashScratch> scratch(
            simhash ? 0 : vorn::collection::thread_count(texts.size(), chunk, workers));
        auto body = [&](std::size_t first, std::size_t last, const vorn::collection::ChunkContext& context) {
            if (simhash) (void)ix::simhash_fingerprint_rows(texts, first, last, shingle_size, rows);
            else
                (void)ix::minhash_signature_rows(texts, first, last, shingle_size, num_hashes, rows,
                                                 scratch[context.worker()]);
        };
        if (!run_released(texts.size(), chunk, workers, body)) return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* lsh_params(PyObject*, PyObject* args) {
    double threshold, fp_weight, fn_weight;
    PyObject* num_hashes_object;
    std::uint64_t num_hashes;
    if (!PyArg_ParseTuple(args, "dOdd:lsh_params", &threshold, &num_hashes_object, &fp_weight, &fn_weight) ||
        !convert_size(num_hashes_object, "num_hashes", num_hashes))
        return nullptr;
    auto shape = ix::choose_band_shape(threshold, num_hashes, fp_weight, fn_weight);
    if (!shape) return set_invalid_argument(shape.error()), nullptr;
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(shape->bands),
                         static_cast<unsigned long long>(shape->rows));
}

PyObject* lsh_band_keys(PyObject*, PyObject* args) {
    PyObject *signatures_object, *out_object;
    PyObject *num_hashes_object, *bands_object, *rows_object;
    std::uint64_t num_hashes, bands, rows;
    if (!PyArg_ParseTuple(args, "OOOOO:lsh_band_keys", &signatures_object, &num_hashes_object, &bands_object,
                          &rows_object, &out_object) ||
        !convert_size(num_hashes_object, "num_hashes", num_hashes) || !convert_size(bands_object, "bands", bands) ||
        !convert_size(rows_object, "rows", rows))
        return nullptr;
    return guarded([&]() -> PyObject* {
        Buffer signatures, out;
        if (!signatures.get(signatures_object, false, 8, "signatures") || !out.get(out_object, true, 8, "out"))
            return nullptr;
        auto shape = ix::check_band_shape(bands, rows, num_hashes);
        if (!shape) return set_invalid_argument(shape.error()), nullptr;
        const std::size_t n = static_cast<std::size_t>(signatures.view.len) / 8 / num_hashes;
        if (n * num_hashes * 8 != static_cast<std::size_t>(signatures.view.len) ||
            static_cast<std::size_t>(out.view.len) != n * bands * 8) {
            PyErr_SetString(PyExc_ValueError, "signatures or out have the wrong size");
            return nullptr;
        }
        Py_BEGIN_ALLOW_THREADS ix::band_keys({static_cast<const std::uint64_t*>(signatures.view.buf), n * num_hashes},
                                             num_hashes, *shape,
                                             {static_cast<std::uint64_t*>(out.view.buf), n * bands});
        Py_END_ALLOW_THREADS Py_RETURN_NONE;
    });
}

PyObject* signature_agreement(PyObject*, PyObject* args) {
    PyObject *a_object, *b_object, *out_object;
    unsigned long long num_hashes;
    if (!PyArg_ParseTuple(args, "OOKO:signature_agreement", &a_object, &b_object, &num_hashes, &out_object))
        return nullptr;
    return guarded([&]() -> PyObject* {
        Buffer a, b, out;
        if (!a.get(a_object, false, 8, "a") || !b.get(b_object, false, 8, "b") || !out.get(out_object, true, 8, "out"))
            return nullptr;
        const std::size_t n = static_cast<std::size_t>(out.view.len) / 8;
        if (a.view.len != b.view.len || static_cast<std::size_t>(a.view.len) != n * num_hashes * 8) {
            PyErr_SetString(PyExc_ValueError, "a, b and out have mismatched sizes");
            return nullptr;
        }
        const auto* pa = static_cast<const std::uint64_t*>(a.view.buf);
        const auto* pb = static_cast<const std::uint64_t*>(b.view.buf);
        auto* agreement = static_cast<double*>(out.view.buf);
        Py_BEGIN_ALLOW_THREADS for (std::size_t i = 0; i < n; ++i) agreement[i] =
            vorn::algo::minhash_signature_similarity({pa + i * num_hashes, num_hashes},
                                                     {pb + i * num_hashes, num_hashes});
        Py_END_ALLOW_THREADS Py_RETURN_NONE;
    });
}

PyObject* connected_components(PyObject*, PyObject* args) {
    PyObject *first_object, *second_object, *labels_object;
    if (!PyArg_ParseTuple(args, "OOO:connected_components", &first_object, &second_object, &labels_object))
        return nullptr;
    return guarded([&]() -> PyObject* {
        Buffer first, second, labels;
        if (!first.get(first_object, false, 8, "i") || !second.get(second_object, false, 8, "j") ||
            !labels.get(labels_object, true, 8, "labels"))
            return nullptr;
        if (first.view.len != second.view.len) {
            PyErr_SetString(PyExc_ValueError, "i and j must have the same length");
            return nullptr;
        }
        auto done = ix::connected_components(first.span<std::int64_t>(), second.span<std::int64_t>(),
                                             labels.mutable_span<std::int64_t>());
        if (!done) return set_invalid_argument(done.error()), nullptr;
        Py_RETURN_NONE;
    });
}

bool get_parent(PyObject* object, Buffer& parent) {
    if (!parent.get(object, true, 8, "parent")) return false;
    if (!ix::DisjointSets::valid(parent.span<std::int64_t>())) {
        PyErr_SetString(PyExc_ValueError, "parent is not a union-find forest");
        return false;
    }
    return true;
}

PyObject* link_identical(PyObject*, PyObject* args) {
    PyObject *signatures_object, *parent_object;
    unsigned long long num_hashes;
    if (!PyArg_ParseTuple(args, "OKO:link_identical", &signatures_object, &num_hashes, &parent_object)) return nullptr;
    return guarded([&]() -> PyObject* {
        Buffer signatures, parent;
        if (!signatures.get(signatures_object, false, 8, "signatures") || !get_parent(parent_object, parent))
            return nullptr;
        if (static_cast<std::size_t>(signatures.view.len) != static_cast<std::size_t>(parent.view.len) * num_hashes) {
            PyErr_SetString(PyExc_ValueError, "signatures and parent have mismatched sizes");
            return nullptr;
        }
        ix::DisjointSets sets(parent.mutable_span<std::int64_t>());
        if (!run_released_with_stop([&](const ix::StopCheck& stop) {
                return ix::link_identical_signatures(signatures.span<std::uint64_t>(), num_hashes, sets, stop);
            }))
            return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* link_band(PyObject*, PyObject* args) {
    PyObject *keys_object, *active_object, *signatures_object, *parent_object;
    unsigned long long bands, band, num_hashes;
    double threshold;
    if (!PyArg_ParseTuple(args, "OKKOOKdO:link_band", &keys_object, &bands, &band, &active_object, &signatures_object,
                          &num_hashes, &threshold, &parent_object))
        return nullptr;
    return guarded([&]() -> PyObject* {
        Buffer keys, active, signatures, parent;
        if (!keys.get(keys_object, false, 8, "keys") || !active.get(active_object, false, 1, "active") ||
            !signatures.get(signatures_object, false, 8, "signatures") || !get_parent(parent_object, parent))
            return nullptr;
        const std::size_t n = static_cast<std::size_t>(parent.view.len) / 8;
        if (band >= bands || static_cast<std::size_t>(keys.view.len) != n * bands * 8 ||
            static_cast<std::size_t>(active.view.len) != n ||
            static_cast<std::size_t>(signatures.view.len) != n * num_hashes * 8) {
            PyErr_SetString(PyExc_ValueError, "keys, active, signatures and parent have mismatched sizes");
            return nullptr;
        }
        ix::DisjointSets sets(parent.mutable_span<std::int64_t>());
        if (!run_released_with_stop([&](const ix::StopCheck& stop) {
                return ix::link_band(keys.span<std::uint64_t>(), bands, band, active.span<std::uint8_t>(),
                                     signatures.span<std::uint64_t>(), num_hashes, threshold, sets, stop);
            }))
            return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* link_simhash(PyObject*, PyObject* args) {
    PyObject *fingerprints_object, *parent_object;
    double threshold;
    if (!PyArg_ParseTuple(args, "OdO:link_simhash", &fingerprints_object, &threshold, &parent_object)) return nullptr;
    return guarded([&]() -> PyObject* {
        Buffer fingerprints, parent;
        if (!fingerprints.get(fingerprints_object, false, 8, "fingerprints") || !get_parent(parent_object, parent))
            return nullptr;
        if (fingerprints.view.len != parent.view.len) {
            PyErr_SetString(PyExc_ValueError, "fingerprints and parent have mismatched sizes");
            return nullptr;
        }
        const int max_distance = ix::simhash_distance_for(threshold);
        ix::DisjointSets sets(parent.mutable_span<std::int64_t>());
        if (!run_released_with_stop([&](const ix::StopCheck& stop) {
                return ix::link_simhash(fingerprints.span<std::uint64_t>(), max_distance, sets, stop);
            }))
            return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* component_labels(PyObject*, PyObject* args) {
    PyObject *parent_object, *labels_object;
    if (!PyArg_ParseTuple(args, "OO:component_labels", &parent_object, &labels_object)) return nullptr;
    return guarded([&]() -> PyObject* {
        Buffer parent, labels;
        if (!get_parent(parent_object, parent) || !labels.get(labels_object, true, 8, "labels")) return nullptr;
        if (parent.view.len != labels.view.len) {
            PyErr_SetString(PyExc_ValueError, "parent and labels have mismatched sizes");
            return nullptr;
        }
        ix::DisjointSets(parent.mutable_span<std::int64_t>()).labels(labels.mutable_span<std::int64_t>());
        Py_RETURN_NONE;
    });
}

PyMethodDef dedup_method_table[] = {
    {"fingerprint_rows", fingerprint_rows, METH_VARARGS, nullptr},
    {"lsh_params", lsh_params, METH_VARARGS, nullptr},
    {"lsh_band_keys", lsh_band_keys, METH_VARARGS, nullptr},
    {"signature_agreement", signature_agreement, METH_VARARGS, nullptr},
    {"connected_components", connected_components, METH_VARARGS, nullptr},
    {"link_identical", link_identical, METH_VARARGS, nullptr},
    {"link_band", link_band, METH_VARARGS, nullptr},
    {"link_simhash", link_simhash, METH_VARARGS, nullptr},
    {"component_labels", component_labels, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_dedup_functions(PyObject* module) {
    if (PyModule_AddFunctions(module, dedup_method_table) != 0) return -1;
    return add_index_types(module);
}

}  // namespace vornkit::native
