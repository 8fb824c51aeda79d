// Bindings of the edit-distance functions.
#include "algo/hamming.hpp"
#include "algo/jaro_winkler.hpp"
#include "algo/levenshtein.hpp"
#include "python/binding.hpp"
#include "python/functions.hpp"

namespace vorn::py {
namespace {

constexpr Signature<2> kLevenshteinDistance{"levenshtein_distance()", {"a", "b"}};
constexpr Signature<2> kLevenshteinSimilarity{"levenshtein_similarity()", {"a", "b"}};
constexpr Signature<2> kJaroWinklerSimilarity{"jaro_winkler_similarity()", {"a", "b"}};
constexpr Signature<2> kHammingSimilarity{"hamming_similarity()", {"a", "b"}};
constexpr Signature<2> kHammingDistance{"hamming_distance()", {"a", "b"}};

}  // namespace

PyObject* levenshtein_distance(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kLevenshteinDistance, algo::levenshtein_distance>(m, args, n, kw);
}

PyObject* levenshtein_similarity(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kLevenshteinSimilarity, algo::levenshtein_similarity>(m, args, n, kw);
}

PyObject* jaro_winkler_similarity(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kJaroWinklerSimilarity, algo::jaro_winkler_similarity>(m, args, n, kw);
}

PyObject* hamming_similarity(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kHammingSimilarity, algo::hamming_similarity>(m, args, n, kw);
}

PyObject* hamming_distance(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kHammingDistance, algo::hamming_distance>(m, args, n, kw);
}

}  // namespace vorn::py
