// Preprocessor objects each own one pipeline record; the with_* builders
// copy it, change one field and wrap the copy in a new object.
#include "python/preprocessor_class.hpp"

#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "preprocess/preprocessor.hpp"
#include "python/binding.hpp"
#include "python/heap_type.hpp"

namespace vorn::py {

// The `words` argument of with_stopwords: any sequence of str except a str.
struct StopwordList {
    std::vector<std::string> words;
};

namespace {

// A sequence may report any length; it only sizes the first allocation.
constexpr Py_ssize_t kMaxReservedWords = 1024;

// The length only sizes the list, so an ordinary failure to give it (an
// Exception) is dropped. KeyboardInterrupt, SystemExit and MemoryError
// are kept: false, with the exception still set.
bool discard_length_failure() {
    if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
    PyErr_Clear();
    return true;
}

}  // namespace

bool convert(PyObject* object, StopwordList& out) {
    if (PyUnicode_Check(object)) {
        // The odd wording is part of the public contract.
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(object)) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to 'Sequence'", Py_TYPE(object)->tp_name);
        return false;
    }
    std::vector<std::string> words;
    Py_ssize_t hint = PySequence_Size(object);
    if (hint >= 0) {
        words.reserve(static_cast<std::size_t>(std::min(hint, kMaxReservedWords)));
    } else if (!discard_length_failure()) {
        return false;
    }
    PyRef iterator(PyObject_GetIter(object));
    if (!iterator) return false;
    while (PyRef item{PyIter_Next(iterator.get())}) {
        std::string_view word;
        if (!convert(item.get(), word)) return false;
        words.emplace_back(word);
    }
    if (PyErr_Occurred()) return false;
    out.words = std::move(words);
    return true;
}

namespace {

PyTypeObject* preprocessor_type_object = nullptr;  // created once, never released

using Config = preprocess::Preprocessor;
using Record = PreprocessorRecord;

// A new Preprocessor (never a subclass instance) owning the record.
PyObject* wrap(Record record) { return new_record_object(preprocessor_type_object, std::move(record)); }

constexpr Signature<0> kConstructor{"Preprocessor()", {}};
constexpr Signature<1> kWithTrim{"Preprocessor.with_trim()", {"v"}};
constexpr Signature<1> kWithLowercase{"Preprocessor.with_lowercase()", {"v"}};
constexpr Signature<1> kWithStopwords{"Preprocessor.with_stopwords()", {"words"}};
constexpr Signature<1> kWithMaxLength{"Preprocessor.with_max_length()", {"max"}};
constexpr Signature<1> kWithRemoveStopwords{"Preprocessor.with_remove_stopwords()", {"v"}};
constexpr Signature<1> kWithNormalizeUnicode{"Preprocessor.with_normalize_unicode()", {"v"}};
constexpr Signature<1> kWithCollapseWhitespace{"Preprocessor.with_collapse_whitespace()", {"v"}};
constexpr Signature<1> kProcess{"Preprocessor.process()", {"text"}};

PyObject* preprocessor_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        if (!parse_tuple_args(kConstructor, args, kwargs)) return nullptr;
        return new_record_object(type, Record());
    });
}

// The field names and the lower-case true/false are part of the public contract.
PyObject* preprocessor_repr(PyObject* self) {
    const preprocess::Preprocessor& record = record_of<Record>(self).config;
    std::string text = "Preprocessor(lowercase=";
    text += record.lowercase ? "true" : "false";
    text += ", stopwords=";
    text += record.remove_stopwords ? "true" : "false";
    text += ")";
    return to_python(text);
}

// A builder: converts its one argument, then stores it in a copy of the
// receiver's record.
template <const auto& Sig, class Value, auto Store>
PyObject* builder(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    return guarded([&]() -> PyObject* {
        Value value{};
        if (!parse_args(Sig, args, nargsf, kwnames, value)) return nullptr;
        Record record = record_of<Record>(self);
        Store(record, std::move(value));
        return wrap(std::move(record));
    });
}

template <auto Field>
void store_flag(Record& record, bool value) {
    record.config.*Field = value;
}

void store_max_length(Record& record, std::uint64_t value) { record.config.max_length = value; }

void store_stopwords(Record& record, StopwordList list) {
    record.config.stopwords = std::move(list.words);
    record.custom_stopwords.reset();
    if (!record.config.stopwords.empty())
        record.custom_stopwords =
            std::make_shared<const preprocess::StopwordSet>(std::span<const std::string>(record.config.stopwords));
}

PyObject* preprocessor_process(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        std::string_view text;
        if (!parse_args(kProcess, args, nargsf, kwnames, text)) return nullptr;
        const Record& record = record_of<Record>(self);
        return to_python(preprocess::process(record.config, text, record.custom_stopwords.get()));
    });
}

// Private accessor for vornkit (see preprocessor_class.hpp): the settings
// as plain values, so that no other module reads this class's memory.
PyObject* preprocessor_settings(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        const preprocess::Preprocessor& config = record_of<Record>(self).config;
        PyRef stopwords(PyTuple_New(static_cast<Py_ssize_t>(config.stopwords.size())));
        if (!stopwords) return nullptr;
        for (std::size_t i = 0; i < config.stopwords.size(); ++i) {
            PyObject* word = to_python(config.stopwords[i]);
            if (word == nullptr) return nullptr;
            PyTuple_SET_ITEM(stopwords.get(), static_cast<Py_ssize_t>(i), word);
        }
        PyRef max_length(to_python(config.max_length));
        if (!max_length) return nullptr;
        return Py_BuildValue("(OOOOOOO)", config.normalize_unicode ? Py_True : Py_False,
                             config.collapse_whitespace ? Py_True : Py_False, config.trim ? Py_True : Py_False,
                             config.lowercase ? Py_True : Py_False, config.remove_stopwords ? Py_True : Py_False,
                             stopwords.get(), max_length.get());
    });
}

PyMethodDef preprocessor_methods[] = {
    fastcall_method("with_trim", builder<kWithTrim, bool, store_flag<&Config::trim>>, "with_trim($self, v)\n--\n\n"),
    fastcall_method("with_lowercase", builder<kWithLowercase, bool, store_flag<&Config::lowercase>>,
                    "with_lowercase($self, v)\n--\n\n"),
    fastcall_method("with_stopwords", builder<kWithStopwords, StopwordList, store_stopwords>,
                    "with_stopwords($self, words)\n--\n\n"),
    fastcall_method("with_max_length", builder<kWithMaxLength, std::uint64_t, store_max_length>,
                    "with_max_length($self, max)\n--\n\n"),
    fastcall_method("with_remove_stopwords", builder<kWithRemoveStopwords, bool, store_flag<&Config::remove_stopwords>>,
                    "with_remove_stopwords($self, v)\n--\n\n"),
    fastcall_method("with_normalize_unicode",
                    builder<kWithNormalizeUnicode, bool, store_flag<&Config::normalize_unicode>>,
                    "with_normalize_unicode($self, v)\n--\n\n"),
    fastcall_method("with_collapse_whitespace",
                    builder<kWithCollapseWhitespace, bool, store_flag<&Config::collapse_whitespace>>,
                    "with_collapse_whitespace($self, v)\n--\n\n"),
    fastcall_method("process", preprocessor_process, "process($self, text)\n--\n\n"),
    {"__vorn_settings__", preprocessor_settings, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot preprocessor_slots[] = {
    {Py_tp_doc, const_cast<char*>("Preprocessor()\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(preprocessor_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_record_object<Record>)},
    {Py_tp_repr, reinterpret_cast<void*>(preprocessor_repr)},
    {Py_tp_methods, preprocessor_methods},
    {0, nullptr},
};

PyType_Spec preprocessor_spec = {
    "builtins.Preprocessor",
    sizeof(PreprocessorObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    preprocessor_slots,
};

}  // namespace

PyObject* preprocessor_type() {
    if (preprocessor_type_object == nullptr) {
        preprocessor_type_object = create_builtin_type(preprocessor_spec);
        if (preprocessor_type_object == nullptr) return nullptr;
    }
    return Py_NewRef(reinterpret_cast<PyObject*>(preprocessor_type_object));
}

}  // namespace vorn::py
