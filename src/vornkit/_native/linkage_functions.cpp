// The record linkage's kernels: coding a column's texts, numbering keys by hashing, the union of
// candidate pairs, the pairs of records agreeing on two fields at once.
#include <algorithm>
#include <deque>
#include <tuple>
#include <vector>

#include "collection/co_agreement.hpp"
#include "collection/key_codes.hpp"
#include "dedup_native.hpp"
#include "support/flat_hash_table.hpp"

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

// Exact str objects as a dict holds them: by their cached hash, then their text.
struct TextHash {
    std::uint64_t operator()(PyObject* text) const noexcept { return static_cast<std::uint64_t>(PyObject_Hash(text)); }
};
struct TextEqual {
    bool operator()(PyObject* a, PyObject* b) const noexcept {
        return a == b || (PyUnicode_GET_LENGTH(a) == PyUnicode_GET_LENGTH(b) && PyUnicode_Compare(a, b) == 0);
    }
};

// code_texts(values, codes) -> distinct: for a list of str and None, codes[k] = the position in
// distinct of values[k], distinct holding each value once in order of first appearance (what
// dict.fromkeys gives). None, leaving codes unwritten, for anything else.
PyObject* code_texts(PyObject*, PyObject* args) {
    PyObject *values, *codes_object;
    if (!PyArg_ParseTuple(args, "OO:code_texts", &values, &codes_object)) return nullptr;
    if (!PyList_CheckExact(values)) Py_RETURN_NONE;
    return guarded([&]() -> PyObject* {
        Buffer codes;
        if (!codes.get(codes_object, true, 8, "codes")) return nullptr;
        const auto out = codes.mutable_span<std::int64_t>();
        const Py_ssize_t count = PyList_GET_SIZE(values);
        if (static_cast<Py_ssize_t>(out.size()) != count) {
            PyErr_SetString(PyExc_ValueError, "codes must have one entry per value");
            return nullptr;
        }
        for (Py_ssize_t k = 0; k < count; ++k) {
            PyObject* item = PyList_GET_ITEM(values, k);
            if (item != Py_None && !PyUnicode_CheckExact(item)) Py_RETURN_NONE;
        }
        PyRef distinct(PyList_New(0));
        if (!distinct) return nullptr;
        // Borrowed keys: the list holds them for the call, and no Python code runs meanwhile.
        vorn::support::FlatHashMap<PyObject*, std::int64_t, TextHash, TextEqual> code_of;
        code_of.reserve(std::min<std::size_t>(static_cast<std::size_t>(count), std::size_t{1} << 14));
        std::int64_t none_code = -1;
        for (Py_ssize_t k = 0; k < count; ++k) {
            PyObject* item = PyList_GET_ITEM(values, k);
            std::int64_t* code = &none_code;
            bool inserted = false;
            if (item != Py_None) {
                std::tie(code, inserted) = code_of.insert(item);
            } else if (none_code < 0) {
                inserted = true;
            }
            if (inserted) {
                *code = PyList_GET_SIZE(distinct.get());
                if (PyList_Append(distinct.get(), item) < 0) return nullptr;
            }
            out[static_cast<std::size_t>(k)] = *code;
        }
        return distinct.release();
    });
}

// distinct_pair_codes(codes, n_left, n_right) -> count: the codes sorted, repeats dropped, in place.
PyObject* distinct_pair_codes(PyObject*, PyObject* args) {
    PyObject* codes_object;
    Py_ssize_t n_left, n_right;
    if (!PyArg_ParseTuple(args, "Onn:distinct_pair_codes", &codes_object, &n_left, &n_right)) return nullptr;
    if (n_left < 0 || n_right < 1 || n_left > PY_SSIZE_T_MAX / n_right) {
        PyErr_SetString(PyExc_ValueError, "n_left must not be negative, n_right must be positive");
        return nullptr;
    }
    return guarded([&]() -> PyObject* {
        Buffer codes;
        if (!codes.get(codes_object, true, 8, "codes")) return nullptr;
        const auto pair_codes = codes.mutable_span<std::int64_t>();
        const std::int64_t limit = static_cast<std::int64_t>(n_left) * static_cast<std::int64_t>(n_right);
        bool in_range = true;
        std::optional<std::size_t> distinct;
        if (!run_released_with_stop([&](const vorn::index::StopCheck& stop) {
                in_range = std::all_of(pair_codes.begin(), pair_codes.end(),
                                       [limit](std::int64_t code) { return code >= 0 && code < limit; });
                if (!in_range) return true;
                distinct = vorn::collection::distinct_pair_codes(pair_codes, static_cast<std::size_t>(n_left),
                                                                 static_cast<std::size_t>(n_right), stop);
                return distinct.has_value();
            }))
            return nullptr;
        if (!in_range) {
            PyErr_SetString(PyExc_ValueError, "a pair code is outside [0, n_left * n_right)");
            return nullptr;
        }
        return PyLong_FromSize_t(*distinct);
    });
}

// The fields' code columns of one side (a sequence of int64 buffers), each checked against its
// distinct count: a code beyond it would index past the counts.
bool code_columns(PyObject* sequence, const std::vector<std::size_t>& distinct, std::deque<Buffer>& buffers,
                  std::vector<vorn::collection::CodeColumn>& columns) {
    vorn::py::PyRef items(PySequence_Fast(sequence, "codes must be a sequence of int64 arrays"));
    if (!items) return false;
    if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(items.get())) != distinct.size()) {
        PyErr_SetString(PyExc_ValueError, "one code column and one distinct count per field");
        return false;
    }
    for (std::size_t field = 0; field < distinct.size(); ++field) {
        Buffer& buffer = buffers.emplace_back();
        if (!buffer.get(PySequence_Fast_GET_ITEM(items.get(), field), false, 8, "codes")) return false;
        const auto codes = buffer.span<std::int64_t>();
        if (!columns.empty() && codes.size() != columns.front().codes.size()) {
            PyErr_SetString(PyExc_ValueError, "the code columns of a side must have the same length");
            return false;
        }
        const auto bound = static_cast<std::int64_t>(distinct[field]);
        if (!std::all_of(codes.begin(), codes.end(),
                         [bound](std::int64_t code) { return code >= -1 && code < bound; })) {
            PyErr_SetString(PyExc_ValueError, "a code is outside [-1, distinct)");
            return false;
        }
        columns.push_back({codes, distinct[field]});
    }
    return true;
}

// co_agreement_counts(left, right, distinct, out, workers): for each pair of fields a < b (in
// order), out's row holds the CoAgreement counts; right None for one table.
PyObject* co_agreement_counts(PyObject*, PyObject* args) {
    PyObject *left_object, *right_object, *distinct_object, *out_object, *workers_object;
    if (!PyArg_ParseTuple(args, "OOOOO:co_agreement_counts", &left_object, &right_object, &distinct_object, &out_object,
                          &workers_object))
        return nullptr;
    return guarded([&]() -> PyObject* {
        std::size_t workers;
        if (!convert_workers(workers_object, workers)) return nullptr;
        vorn::py::PyRef counts(PySequence_Fast(distinct_object, "distinct must be a sequence of counts"));
        if (!counts) return nullptr;
        std::vector<std::size_t> distinct;
        for (Py_ssize_t field = 0; field < PySequence_Fast_GET_SIZE(counts.get()); ++field) {
            const std::size_t count = PyLong_AsSize_t(PySequence_Fast_GET_ITEM(counts.get(), field));
            if (count == static_cast<std::size_t>(-1) && PyErr_Occurred()) return nullptr;
            for (const std::size_t other : distinct) {
                if (other != 0 && count > SIZE_MAX / other) {
                    PyErr_SetString(PyExc_ValueError, "too many distinct values to combine two fields' codes");
                    return nullptr;
                }
            }
            distinct.push_back(count);
        }
        const bool one_table = right_object == Py_None;
        std::deque<Buffer> buffers;
        std::vector<vorn::collection::CodeColumn> left, right;
        if (!code_columns(left_object, distinct, buffers, left) ||
            (!one_table && !code_columns(right_object, distinct, buffers, right)))
            return nullptr;
        const std::size_t fields = distinct.size();
        const std::size_t pairs = fields < 2 ? 0 : fields * (fields - 1) / 2;
        Buffer out;
        if (!out.get(out_object, true, 8, "out")) return nullptr;
        const auto rows = out.mutable_span<std::uint64_t>();
        if (rows.size() != 5 * pairs) {
            PyErr_SetString(PyExc_ValueError, "out must hold five counts per pair of fields");
            return nullptr;
        }
        std::vector<std::pair<std::size_t, std::size_t>> fields_of;
        for (std::size_t a = 0; a < fields; ++a)
            for (std::size_t b = a + 1; b < fields; ++b) fields_of.emplace_back(a, b);
        const vorn::collection::CodeColumn none{};
        const auto body = [&](std::size_t begin, std::size_t end, const vorn::collection::ChunkContext&) {
            for (std::size_t pair = begin; pair < end; ++pair) {
                const auto [a, b] = fields_of[pair];
                const auto found = vorn::collection::co_agreement(left[a], left[b], one_table ? none : right[a],
                                                                  one_table ? none : right[b], one_table);
                const std::uint64_t values[] = {found.left_records, found.right_records, found.agree_first,
                                                found.agree_second, found.agree_both};
                std::copy(std::begin(values), std::end(values), rows.begin() + static_cast<std::ptrdiff_t>(5 * pair));
            }
        };
        if (!run_released(pairs, 1, workers, body)) return nullptr;
        Py_RETURN_NONE;
    });
}

PyMethodDef linkage_method_table[] = {
    {"code_texts", code_texts, METH_VARARGS, nullptr},
    {"number_keys", number_keys, METH_VARARGS, nullptr},
    {"distinct_pair_codes", distinct_pair_codes, METH_VARARGS, nullptr},
    {"co_agreement_counts", co_agreement_counts, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_linkage_functions(PyObject* module) { return PyModule_AddFunctions(module, linkage_method_table); }

}  // namespace vornkit::native
