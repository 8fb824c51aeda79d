// Test and benchmark entries for the tile kernels, on a chosen instruction
// set: the tests compare them with vorn on every set the machine runs, the
// benchmark times them without the collection layer around them.
//   _tile_isas() -> list of the supported sets, widest first
//   _tile_levenshtein(queries, choices, max_distance, isa=None, out=None, block=0)
//   _tile_jaro_winkler(queries, choices, isa=None, out=None, block=0)
//   _pair_levenshtein(a, b, max_distance, isa=None) -> list of the distances
//       of the aligned pairs a[i], b[i]
// Without `out` the scores come back as a list of lists; with it they are
// written into a C-contiguous 2-D buffer of 8-byte items of the right shape.
// With block > 0 the choices are prepared once and the queries scored
// `block` at a time against them, as a driver does.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "collection/tile_kernels.hpp"
#include "kernel_names.hpp"
#include "native.hpp"

namespace vornkit::native {
namespace {

using vorn::collection::TileIsa;

bool parse_isa(PyObject* name, TileIsa& isa) {
    return parse_kernel_name(name, "instruction set", vorn::collection::best_tile_isa(),
                             vorn::collection::tile_isa_supported, isa);
}

// UTF-8 views of a list of str, valid while the list's items live.
bool read_texts(PyObject* list, std::vector<std::string_view>& out) {
    if (!PyList_Check(list)) {
        PyErr_SetString(PyExc_TypeError, "expected a list of str");
        return false;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        Py_ssize_t size = 0;
        PyObject* item = PyList_GET_ITEM(list, i);
        const char* data = PyUnicode_Check(item) ? PyUnicode_AsUTF8AndSize(item, &size) : nullptr;
        if (data == nullptr) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_TypeError, "item %zd is not a str", i);
            return false;
        }
        out.emplace_back(data, static_cast<std::size_t>(size));
    }
    return true;
}

// `formats`: the buffer format characters of T (an unsigned 64-bit integer
// is 'Q' or, from NumPy on LP64 systems, 'L').
template <class T, class Tile>
PyObject* run_tile(PyObject* query_list, PyObject* choice_list, PyObject* isa_name, PyObject* out_object,
                   Py_ssize_t block, const char* formats, Tile tile) {
    std::vector<std::string_view> queries, choices;
    TileIsa isa;
    if (!read_texts(query_list, queries) || !read_texts(choice_list, choices) || !parse_isa(isa_name, isa))
        return nullptr;
    const Py_ssize_t rows = static_cast<Py_ssize_t>(queries.size()), columns = static_cast<Py_ssize_t>(choices.size());
    if (block < 0) {
        PyErr_SetString(PyExc_ValueError, "block must be >= 0");
        return nullptr;
    }
    const auto score = [&](T* out) {
        const std::size_t stride = choices.size();
        if (block == 0) return tile(queries, vorn::collection::TileChoices(isa, choices), out, stride);
        const vorn::collection::TileChoices prepared(isa, choices);
        const std::span<const std::string_view> all(queries);
        for (std::size_t first = 0; first < queries.size(); first += static_cast<std::size_t>(block)) {
            const std::size_t count = std::min(static_cast<std::size_t>(block), queries.size() - first);
            tile(all.subspan(first, count), prepared, out + first * stride, stride);
        }
    };
    if (out_object != Py_None) {
        Py_buffer view;
        if (PyObject_GetBuffer(out_object, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | PyBUF_WRITABLE) != 0)
            return nullptr;
        const bool fits = view.ndim == 2 && view.itemsize == sizeof(T) && view.format != nullptr &&
                          std::strlen(view.format) == 1 && std::strchr(formats, view.format[0]) != nullptr &&
                          view.shape[0] == rows && view.shape[1] == columns;
        if (fits) score(static_cast<T*>(view.buf));
        PyBuffer_Release(&view);
        if (!fits) {
            PyErr_Format(PyExc_ValueError, "out must be a C-contiguous '%c' array of shape (%zd, %zd)", formats[0],
                         rows, columns);
            return nullptr;
        }
        Py_RETURN_NONE;
    }
    std::vector<T> scores(queries.size() * choices.size());
    score(scores.data());
    PyObject* result = PyList_New(rows);
    for (Py_ssize_t q = 0; result != nullptr && q < rows; ++q) {
        PyObject* row = PyList_New(columns);
        for (Py_ssize_t c = 0; row != nullptr && c < columns; ++c) {
            const T score = scores[static_cast<std::size_t>(q * columns + c)];
            PyObject* item;
            if constexpr (std::is_same_v<T, double>) item = PyFloat_FromDouble(score);
            else item = PyLong_FromUnsignedLongLong(score);
            if (item == nullptr) Py_CLEAR(row);
            else PyList_SET_ITEM(row, c, item);
        }
        if (row == nullptr) Py_CLEAR(result);
        else PyList_SET_ITEM(result, q, row);
    }
    return result;
}

PyObject* tile_isas(PyObject*, PyObject*) {
    return supported_kernel_names<TileIsa>(vorn::collection::tile_isa_supported);
}

PyObject* tile_levenshtein(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"queries", "choices", "max_distance", "isa", "out", "block", nullptr};
    PyObject *queries, *choices, *isa = Py_None, *out = Py_None;
    unsigned long long max_distance;
    Py_ssize_t block = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOK|OOn", const_cast<char**>(keywords), &queries, &choices,
                                     &max_distance, &isa, &out, &block))
        return nullptr;
    return run_tile<std::uint64_t>(
        queries, choices, isa, out, block, "QL",
        [&](auto q, const auto& c, auto* o, auto s) { vorn::collection::levenshtein_tile(q, c, o, s, max_distance); });
}

PyObject* tile_jaro_winkler(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"queries", "choices", "isa", "out", "block", nullptr};
    PyObject *queries, *choices, *isa = Py_None, *out = Py_None;
    Py_ssize_t block = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|OOn", const_cast<char**>(keywords), &queries, &choices, &isa,
                                     &out, &block))
        return nullptr;
    return run_tile<double>(queries, choices, isa, out, block, "d", [](auto q, const auto& c, auto* o, auto s) {
        vorn::collection::jaro_winkler_tile(q, c, o, s);
    });
}

PyObject* pair_levenshtein(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"a", "b", "max_distance", "isa", nullptr};
    PyObject *a_list, *b_list, *isa_name = Py_None;
    unsigned long long max_distance;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOK|O", const_cast<char**>(keywords), &a_list, &b_list,
                                     &max_distance, &isa_name))
        return nullptr;
    std::vector<std::string_view> a, b;
    TileIsa isa;
    if (!read_texts(a_list, a) || !read_texts(b_list, b) || !parse_isa(isa_name, isa)) return nullptr;
    if (a.size() != b.size()) {
        PyErr_SetString(PyExc_ValueError, "a and b must have the same length");
        return nullptr;
    }
    std::vector<std::uint64_t> distances(a.size());
    vorn::collection::levenshtein_pairs(isa, a, b, distances.data(), max_distance);
    PyObject* result = PyList_New(static_cast<Py_ssize_t>(a.size()));
    for (std::size_t i = 0; result != nullptr && i < a.size(); ++i) {
        PyObject* item = PyLong_FromUnsignedLongLong(distances[i]);
        if (item == nullptr) Py_CLEAR(result);
        else PyList_SET_ITEM(result, static_cast<Py_ssize_t>(i), item);
    }
    return result;
}

}  // namespace

PyMethodDef tile_testing_methods[] = {
    {"_tile_isas", tile_isas, METH_NOARGS, "Instruction sets of the tile kernels this processor runs."},
    {"_tile_levenshtein", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tile_levenshtein)),
     METH_VARARGS | METH_KEYWORDS, "Levenshtein tile kernel (tests and benchmarks)."},
    {"_tile_jaro_winkler", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tile_jaro_winkler)),
     METH_VARARGS | METH_KEYWORDS, "Jaro-Winkler tile kernel (tests and benchmarks)."},
    {"_pair_levenshtein", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pair_levenshtein)),
     METH_VARARGS | METH_KEYWORDS, "Levenshtein kernel of aligned pairs (tests and benchmarks)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace vornkit::native
