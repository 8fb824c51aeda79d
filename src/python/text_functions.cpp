// Bindings of the text-cleaning functions, which run the pipeline with two
// fixed configurations.
#include "preprocess/preprocessor.hpp"
#include "python/binding.hpp"
#include "python/functions.hpp"

namespace vorn::py {
namespace {

using Cleaned = Expected<std::string, text::UnicodeFailure>;

Cleaned clean(std::string_view text) { return preprocess::process(preprocess::Preprocessor{}, text); }

Cleaned clean_without_stopwords(std::string_view text) {
    preprocess::Preprocessor config;
    config.remove_stopwords = true;
    return preprocess::process(config, text);
}

constexpr Signature<1> kCleanText{"clean_text()", {"text"}};
constexpr Signature<1> kCleanTextStopwords{"clean_text_stopwords()", {"text"}};

}  // namespace

PyObject* clean_text(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kCleanText, clean>(m, args, n, kw);
}

PyObject* clean_text_stopwords(PyObject* m, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return fastcall<kCleanTextStopwords, clean_without_stopwords>(m, args, n, kw);
}

}  // namespace vorn::py
