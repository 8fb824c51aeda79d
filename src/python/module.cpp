// The module definition and its execution step, which registers every
// public object in a fixed order and lists each name in __all__.
#include "python/binding.hpp"
#include "python/functions.hpp"
#include "python/main_interpreter.hpp"
#include "python/preprocessor_class.hpp"
#include "python/vornflow_class.hpp"
#include "router/registry.hpp"

#include <iterator>
#include <string>

namespace vorn::py {
namespace {

struct Registration {
    PyMethodDef function;        // used when type_object is null
    PyObject* (*type_object)();  // new reference to a class's type object
};

Registration function(const char* name, FastcallFunction entry, const char* doc) {
    return {fastcall_method(name, entry, doc), nullptr};
}

Registration type(const char* name, PyObject* (*type_object)()) { return {{name, nullptr, 0, nullptr}, type_object}; }

// A pairwise function of the algorithm registry: its name and signature
// text are the entry's (a name the registry lacks does not compile).
Registration pairwise(const registry::Entry& entry, FastcallFunction implementation) {
    static std::string signatures[std::size(registry::kAlgorithms)];
    std::string& text = signatures[&entry - registry::kAlgorithms];
    text = std::string(entry.function) + "(a, b";
    for (registry::Size size : entry.given)
        if (size != registry::Size::none) text += ", " + std::string(registry::size_name(size));
    text += ")\n--\n\n";
    return function(entry.function.data(), implementation, text.c_str());
}

// Registration order is the order of __all__. The method records must
// outlive the function objects made from them, hence static storage.
Registration registrations[] = {
    pairwise(registry::entry("levenshtein_distance"), levenshtein_distance),
    pairwise(registry::entry("levenshtein_similarity"), levenshtein_similarity),
    pairwise(registry::entry("jaro_winkler_similarity"), jaro_winkler_similarity),
    pairwise(registry::entry("hamming_similarity"), hamming_similarity),
    pairwise(registry::entry("hamming_distance"), hamming_distance),
    pairwise(registry::entry("jaccard_similarity"), jaccard_similarity),
    pairwise(registry::entry("jaccard_bigram_similarity"), jaccard_bigram_similarity),
    pairwise(registry::entry("jaccard_trigram_similarity"), jaccard_trigram_similarity),
    pairwise(registry::entry("jaccard_word_similarity"), jaccard_word_similarity),
    function("minhash_signature", minhash_signature, "minhash_signature(text, shingle_size, num_hashes)\n--\n\n"),
    pairwise(registry::entry("minhash_similarity"), minhash_similarity),
    pairwise(registry::entry("minhash_similarity_default"), minhash_similarity_default),
    function("simhash_fingerprint", simhash_fingerprint, "simhash_fingerprint(text, shingle_size)\n--\n\n"),
    function("simhash_fingerprint_default", simhash_fingerprint_default, "simhash_fingerprint_default(text)\n--\n\n"),
    pairwise(registry::entry("simhash_similarity"), simhash_similarity),
    pairwise(registry::entry("simhash_similarity_default"), simhash_similarity_default),
    pairwise(registry::entry("bm25_similarity"), bm25_similarity),
    pairwise(registry::entry("tfidf_similarity"), tfidf_similarity),
    type("Preprocessor", preprocessor_type),
    function("clean_text", clean_text, "clean_text(text)\n--\n\n"),
    function("clean_text_stopwords", clean_text_stopwords, "clean_text_stopwords(text)\n--\n\n"),
    type("VornFlow", vornflow_type),
};

// Appends the name to __all__ (created on first use) and sets the attribute.
int add_public(PyObject* module, const char* name, PyObject* object) {
    PyObject* namespace_dict = PyModule_GetDict(module);              // borrowed
    PyObject* all = PyDict_GetItemString(namespace_dict, "__all__");  // borrowed
    if (all == nullptr) {
        PyRef created(PyList_New(0));
        if (!created || PyDict_SetItemString(namespace_dict, "__all__", created.get()) < 0) return -1;
        all = created.get();  // the module dict keeps it alive
    }
    PyRef key(PyUnicode_FromString(name));
    if (!key || PyList_Append(all, key.get()) < 0) return -1;
    return PyDict_SetItem(namespace_dict, key.get(), object);
}

int register_one(PyObject* module, PyObject* module_name, Registration& entry) {
    PyRef object(entry.type_object != nullptr ? entry.type_object()
                                              : PyCMethod_New(&entry.function, module, module_name, nullptr));
    if (!object) return -1;
    return add_public(module, entry.function.ml_name, object.get());
}

int exec_module(PyObject* module) {
    PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (Registration& entry : registrations) {
        if (register_one(module, module_name.get(), entry) < 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot slots[] = {
    // The class and exception type objects are created once per process,
    // which is not safe to share across interpreters.
    {Py_mod_exec, reinterpret_cast<void*>(refuse_subinterpreters)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "vorn",   // m_name
    "",       // m_doc
    0,        // m_size: no per-module state
    nullptr,  // m_methods: functions are added by the execution step
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace vorn::py

extern "C" PyMODINIT_FUNC PyInit_vorn() { return PyModuleDef_Init(&vorn::py::module_def); }
