// Bindings of the Jaccard family.
#include "algo/jaccard.hpp"
#include "python/binding.hpp"
#include "python/functions.hpp"

namespace vorn::py {
namespace {

constexpr Signature<3> kJaccardSimilarity{"jaccard_similarity()", {"a", "b", "n"}};
constexpr Signature<2> kJaccardBigramSimilarity{"jaccard_bigram_similarity()", {"a", "b"}};
constexpr Signature<2> kJaccardTrigramSimilarity{"jaccard_trigram_similarity()", {"a", "b"}};
constexpr Signature<2> kJaccardWordSimilarity{"jaccard_word_similarity()", {"a", "b"}};

Expected<double, InvalidArgument> bigram_similarity(std::string_view a, std::string_view b) {
    return algo::jaccard_similarity(a, b, 2);
}

Expected<double, InvalidArgument> trigram_similarity(std::string_view a, std::string_view b) {
    return algo::jaccard_similarity(a, b, 3);
}

}  // namespace

PyObject* jaccard_similarity(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kJaccardSimilarity, algo::jaccard_similarity>(m, args, n, kw);
}

PyObject* jaccard_bigram_similarity(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kJaccardBigramSimilarity, bigram_similarity>(m, args, n, kw);
}

PyObject* jaccard_trigram_similarity(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kJaccardTrigramSimilarity, trigram_similarity>(m, args, n, kw);
}

PyObject* jaccard_word_similarity(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kJaccardWordSimilarity, algo::jaccard_word_similarity>(m, args, n, kw);
}

}  // namespace vorn::py
