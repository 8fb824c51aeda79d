// Bindings of the MinHash and SimHash functions.
#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "python/binding.hpp"
#include "python/functions.hpp"

namespace vorn::py {
namespace {

constexpr Signature<3> kMinhashSignature{"minhash_signature()", {"text", "shingle_size", "num_hashes"}};
constexpr Signature<4> kMinhashSimilarity{"minhash_similarity()", {"a", "b", "shingle_size", "num_hashes"}};
constexpr Signature<2> kMinhashSimilarityDefault{"minhash_similarity_default()", {"a", "b"}};
constexpr Signature<2> kSimhashFingerprint{"simhash_fingerprint()", {"text", "shingle_size"}};
constexpr Signature<1> kSimhashFingerprintDefault{"simhash_fingerprint_default()", {"text"}};
constexpr Signature<3> kSimhashSimilarity{"simhash_similarity()", {"a", "b", "shingle_size"}};
constexpr Signature<2> kSimhashSimilarityDefault{"simhash_similarity_default()", {"a", "b"}};

Expected<double, InvalidArgument> minhash_default(std::string_view a, std::string_view b) {
    return algo::minhash_similarity(a, b, 3, 128);
}

Expected<std::uint64_t, InvalidArgument> simhash_fingerprint_default_4(std::string_view text) {
    return algo::simhash_fingerprint(text, 4);
}

Expected<double, InvalidArgument> simhash_default(std::string_view a, std::string_view b) {
    return algo::simhash_similarity(a, b, 4);
}

}  // namespace

PyObject* minhash_signature(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kMinhashSignature, algo::minhash_signature>(m, args, n, kw);
}

PyObject* minhash_similarity(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kMinhashSimilarity, algo::minhash_similarity>(m, args, n, kw);
}

PyObject* minhash_similarity_default(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kMinhashSimilarityDefault, minhash_default>(m, args, n, kw);
}

PyObject* simhash_fingerprint(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kSimhashFingerprint, algo::simhash_fingerprint>(m, args, n, kw);
}

PyObject* simhash_fingerprint_default(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kSimhashFingerprintDefault, simhash_fingerprint_default_4>(m, args, n, kw);
}

PyObject* simhash_similarity(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kSimhashSimilarity, algo::simhash_similarity>(m, args, n, kw);
}

PyObject* simhash_similarity_default(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kSimhashSimilarityDefault, simhash_default>(m, args, n, kw);
}

}  // namespace vorn::py
