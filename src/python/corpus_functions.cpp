// Bindings of the two-document corpus scores, TF-IDF and BM25.
#include "algo/bm25.hpp"
#include "algo/tfidf.hpp"
#include "python/binding.hpp"
#include "python/functions.hpp"

namespace vorn::py {
namespace {

constexpr Signature<2> kBm25Similarity{"bm25_similarity()", {"a", "b"}};
constexpr Signature<2> kTfidfSimilarity{"tfidf_similarity()", {"a", "b"}};

}  // namespace

PyObject* bm25_similarity(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kBm25Similarity, algo::bm25_similarity>(m, args, n, kw);
}

PyObject* tfidf_similarity(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kTfidfSimilarity, algo::tfidf_similarity>(m, args, n, kw);
}

}  // namespace vorn::py
