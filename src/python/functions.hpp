// Entry points of the module-level functions (fast-call convention with
// keywords) and the type objects of the classes. Each family of bindings
// lives in its own file; module.cpp registers them in order.
#pragma once

#include "python/pyref.hpp"

namespace vorn::py {

using FastcallFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// edit_functions.cpp
PyObject* levenshtein_distance(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* levenshtein_similarity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* jaro_winkler_similarity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* hamming_similarity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* hamming_distance(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// set_functions.cpp
PyObject* jaccard_similarity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* jaccard_bigram_similarity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* jaccard_trigram_similarity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* jaccard_word_similarity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// fingerprint_functions.cpp
PyObject* minhash_signature(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* minhash_similarity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* minhash_similarity_default(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* simhash_fingerprint(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* simhash_fingerprint_default(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* simhash_similarity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* simhash_similarity_default(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// corpus_functions.cpp
PyObject* bm25_similarity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* tfidf_similarity(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// text_functions.cpp
PyObject* clean_text(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
PyObject* clean_text_stopwords(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

}  // namespace vorn::py
