// Bindings of the MinHash and SimHash functions.
#include <limits>

#include "algo/minhash.hpp"
#include "algo/simhash.hpp"
#include "python/binding.hpp"
#include "python/functions.hpp"
#include "router/registry.hpp"
#include "support/memory.hpp"

namespace vorn::py {
namespace {

constexpr Signature<3> kMinhashSignature{"minhash_signature()", {"text", "shingle_size", "num_hashes"}};
constexpr Signature<4> kMinhashSimilarity{"minhash_similarity()", {"a", "b", "shingle_size", "num_hashes"}};
constexpr Signature<2> kMinhashSimilarityDefault{"minhash_similarity_default()", {"a", "b"}};
constexpr Signature<2> kSimhashFingerprint{"simhash_fingerprint()", {"text", "shingle_size"}};
constexpr Signature<1> kSimhashFingerprintDefault{"simhash_fingerprint_default()", {"text"}};
constexpr Signature<3> kSimhashSimilarity{"simhash_similarity()", {"a", "b", "shingle_size"}};
constexpr Signature<2> kSimhashSimilarityDefault{"simhash_similarity_default()", {"a", "b"}};

// What one hash of a signature takes while the signature becomes a list:
// its 8 bytes, the list's item pointer and the int object (48 bytes for a
// value of 61 bits, allocation rounding included).
constexpr std::uint64_t kBytesPerListedHash = 8 + 8 + 48;
// Two signatures, compared and dropped.
constexpr std::uint64_t kBytesPerComparedHash = 2 * 8;

// Raises MemoryError, before anything is allocated, when num_hashes hashes
// of `bytes_per_hash` cannot fit in this machine's memory. A shingle size
// of 0 is left to the call, whose ValueError comes first.
bool refuse_unfitting(std::uint64_t shingle_size, std::uint64_t num_hashes, std::uint64_t bytes_per_hash) {
    if (shingle_size == 0) return false;
    if (num_hashes <= std::numeric_limits<std::uint64_t>::max() / bytes_per_hash &&
        support::fits_in_memory(num_hashes * bytes_per_hash))
        return false;
    PyErr_Format(PyExc_MemoryError, "%llu hashes need more memory than this machine has (%llu bytes)",
                 static_cast<unsigned long long>(num_hashes),
                 static_cast<unsigned long long>(support::memory_limit_bytes()));
    return true;
}

Expected<double, InvalidArgument> minhash_default(std::string_view a, std::string_view b) {
    return algo::minhash_similarity(a, b, registry::kMinHashShingleSize, registry::kMinHashNumHashes);
}

Expected<std::uint64_t, InvalidArgument> simhash_fingerprint_default_4(std::string_view text) {
    return algo::simhash_fingerprint(text, registry::kSimHashShingleSize);
}

Expected<double, InvalidArgument> simhash_default(std::string_view a, std::string_view b) {
    return algo::simhash_similarity(a, b, registry::kSimHashShingleSize);
}

}  // namespace

PyObject* minhash_signature(PyObject* /*module*/, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guarded([&]() -> PyObject* {
        std::string_view text;
        std::uint64_t shingle_size, num_hashes;
        if (!parse_args(kMinhashSignature, args, n, kw, text, shingle_size, num_hashes)) return nullptr;
        if (refuse_unfitting(shingle_size, num_hashes, kBytesPerListedHash)) return nullptr;
        return to_python(algo::minhash_signature(text, shingle_size, num_hashes));
    });
}

PyObject* minhash_similarity(PyObject* /*module*/, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guarded([&]() -> PyObject* {
        std::string_view a, b;
        std::uint64_t shingle_size, num_hashes;
        if (!parse_args(kMinhashSimilarity, args, n, kw, a, b, shingle_size, num_hashes)) return nullptr;
        if (refuse_unfitting(shingle_size, num_hashes, kBytesPerComparedHash)) return nullptr;
        return to_python(algo::minhash_similarity(a, b, shingle_size, num_hashes));
    });
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
