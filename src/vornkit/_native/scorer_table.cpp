// vorn's pairwise functions as core scorers. A scorer is recognised by
// identity with the function objects of the imported vorn module; its size
// parameters come from scorer_kwargs under the names vorn uses.
#include <array>
#include <cstring>

#include "native.hpp"

namespace vornkit::native {
namespace {

using vorn::collection::ScorerConfig;
using vorn::collection::ScorerKind;

enum class Parameter { none, n, shingle_size, num_hashes };

struct ScorerEntry {
    const char* name;
    ScorerKind kind;
    std::array<const char*, 2> parameters;  // taken from scorer_kwargs
    std::uint64_t size;                     // fixed by the function itself
    std::uint64_t num_hashes;
};

constexpr ScorerEntry kScorers[] = {
    {"levenshtein_distance", ScorerKind::levenshtein_distance, {}, 0, 0},
    {"levenshtein_similarity", ScorerKind::levenshtein_similarity, {}, 0, 0},
    {"jaro_winkler_similarity", ScorerKind::jaro_winkler_similarity, {}, 0, 0},
    {"hamming_distance", ScorerKind::hamming_distance, {}, 0, 0},
    {"hamming_similarity", ScorerKind::hamming_similarity, {}, 0, 0},
    {"jaccard_similarity", ScorerKind::jaccard_similarity, {"n", nullptr}, 0, 0},
    {"jaccard_bigram_similarity", ScorerKind::jaccard_similarity, {}, 2, 0},
    {"jaccard_trigram_similarity", ScorerKind::jaccard_similarity, {}, 3, 0},
    {"jaccard_word_similarity", ScorerKind::jaccard_word_similarity, {}, 0, 0},
    {"minhash_similarity", ScorerKind::minhash_similarity, {"shingle_size", "num_hashes"}, 0, 0},
    {"minhash_similarity_default", ScorerKind::minhash_similarity, {}, 3, 128},
    {"simhash_similarity", ScorerKind::simhash_similarity, {"shingle_size", nullptr}, 0, 0},
    {"simhash_similarity_default", ScorerKind::simhash_similarity, {}, 4, 0},
    {"bm25_similarity", ScorerKind::bm25_similarity, {}, 0, 0},
    {"tfidf_similarity", ScorerKind::tfidf_similarity, {}, 0, 0},
};

const ScorerEntry* find_scorer(PyObject* scorer) {
    PyRef vorn_module(PyImport_ImportModule("vorn"));
    if (!vorn_module) return nullptr;
    for (const ScorerEntry& entry : kScorers) {
        PyRef function(PyObject_GetAttrString(vorn_module.get(), entry.name));
        if (!function) return nullptr;
        if (function.get() == scorer) return &entry;
    }
    PyErr_Format(PyExc_TypeError, "scorer must be one of vorn's pairwise scoring functions, not %R", scorer);
    return nullptr;
}

}  // namespace

const char* scorer_name(ScorerKind kind) {
    for (const ScorerEntry& entry : kScorers)
        if (entry.kind == kind) return entry.name;
    return "?";
}

bool convert_scorer(PyObject* scorer, PyObject* kwargs, ScorerConfig& out) {
    const ScorerEntry* entry = find_scorer(scorer);
    if (entry == nullptr) return false;
    if (kwargs != Py_None && !PyDict_Check(kwargs)) {
        PyErr_Format(PyExc_TypeError, "scorer_kwargs must be a dict or None, not '%.200s'", Py_TYPE(kwargs)->tp_name);
        return false;
    }
    ScorerConfig config{entry->kind, entry->size, entry->num_hashes};
    std::size_t found = 0;
    for (std::size_t p = 0; p < entry->parameters.size() && entry->parameters[p] != nullptr; ++p) {
        const char* parameter = entry->parameters[p];
        PyObject* value = kwargs == Py_None ? nullptr : PyDict_GetItemString(kwargs, parameter);
        if (value == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() needs scorer_kwargs['%s']", entry->name, parameter);
            return false;
        }
        ++found;
        std::uint64_t& field = std::strcmp(parameter, "num_hashes") == 0 ? config.num_hashes : config.size;
        if (!convert_size(value, field, "while processing scorer_kwargs['%s'] of %s()", parameter, entry->name))
            return false;
    }
    if (kwargs != Py_None && static_cast<std::size_t>(PyDict_GET_SIZE(kwargs)) != found) {
        PyObject *key, *value;
        Py_ssize_t position = 0;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            bool known = false;
            for (const char* parameter : entry->parameters)
                known = known || (parameter != nullptr && PyUnicode_Check(key) &&
                                  PyUnicode_CompareWithASCIIString(key, parameter) == 0);
            if (!known) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected scorer_kwargs entry %R", entry->name, key);
                return false;
            }
        }
    }
    if (auto checked = vorn::collection::check_scorer(config); !checked) {
        PyErr_Format(PyExc_ValueError, "%s(): %s", entry->name, std::string(checked.error().message).c_str());
        return false;
    }
    out = config;
    return true;
}

}  // namespace vornkit::native
