// vornkit.fuzz and vornkit.distance: RapidFuzz's pair scorers over two str.
//
// Every entry takes s1 and s2 (by position or keyword) and keyword-only
// processor, score_cutoff and score_hint (accepted, not needed), plus one
// option for some metrics (weights, prefix_weight, pad). A processor is
// None, a vorn.Preprocessor (run in C++) or any callable (called once per
// string). Strings are read as their UTF-8; a str with lone surrogates is
// encoded with them kept, so that every code point stays one character.
#include <string>
#include <string_view>

#include <optional>

#include "algo/editops.hpp"
#include "algo/fuzz_ratios.hpp"
#include "algo/lcs_seq.hpp"
#include "algo/levenshtein.hpp"
#include "fuzz_docs.hpp"
#include "native.hpp"
#include "router/registry.hpp"
#include "text/code_points.hpp"

namespace vornkit::native {
namespace {

namespace algo = vorn::algo;
namespace registry = vorn::registry;
using registry::Measure;

// The name of the vornkit function of a RapidFuzz-compatible measure, for
// messages.
constexpr const char* function_name(Measure measure) {
    for (const registry::Entry& entry : registry::kAlgorithms)
        if (entry.measure == measure && entry.module != "vorn") return entry.function.data();
    return "";
}

// The keyword of an option, or nullptr for none.
constexpr const char* option_keyword(registry::Option option) {
    return option == registry::Option::none ? nullptr : registry::option_name(option).data();
}

struct Call {
    PyObject* s1 = nullptr;
    PyObject* s2 = nullptr;
    PyObject* processor = Py_None;
    PyObject* score_cutoff = Py_None;
    PyObject* score_hint = Py_None;
    PyObject* option = nullptr;  // the metric's own keyword, if it has one
};

bool keyword_is(PyObject* key, const char* name) { return PyUnicode_CompareWithASCIIString(key, name) == 0; }

bool bind_call(const char* name, const char* option_name, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
               Call& call) {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (nargs > 2) {
        PyErr_Format(PyExc_TypeError, "%s() takes 2 positional arguments but %zd were given", name, nargs);
        return false;
    }
    if (nargs > 0) call.s1 = args[0];
    if (nargs > 1) call.s2 = args[1];
    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < nkw; ++i) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, i);
        PyObject** slot = nullptr;
        if (keyword_is(key, "processor")) slot = &call.processor;
        else if (keyword_is(key, "score_cutoff")) slot = &call.score_cutoff;
        else if (keyword_is(key, "score_hint")) slot = &call.score_hint;
        else if (option_name != nullptr && keyword_is(key, option_name)) slot = &call.option;
        else if (keyword_is(key, "s1")) slot = &call.s1;
        else if (keyword_is(key, "s2")) slot = &call.s2;
        if (slot == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", name, key);
            return false;
        }
        if ((slot == &call.s1 || slot == &call.s2) && *slot != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%U'", name, key);
            return false;
        }
        *slot = args[nargs + i];
    }
    if (call.s1 == nullptr || call.s2 == nullptr) {
        PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", name, call.s1 == nullptr ? "s1" : "s2");
        return false;
    }
    return true;
}

// One string argument after its processor: the str itself when it holds
// the text, and its UTF-8 when asked for (or a vorn.Preprocessor's result,
// with no str), with what keeps that UTF-8 alive.
struct Text {
    PyObject* str = nullptr;
    std::string_view utf8;
    PyRef processed;    // the processor's result
    PyRef encoded;      // bytes of a str with lone surrogates
    std::string owned;  // a vorn.Preprocessor's result
};

bool read_str(PyObject* value, const char* name, bool utf8_needed, Text& out) {
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be str, not '%.200s'", name, Py_TYPE(value)->tp_name);
        return false;
    }
    out.str = value;
    if (!utf8_needed) return true;
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(value, &size)) {
        out.utf8 = std::string_view(data, static_cast<std::size_t>(size));
        return true;
    }
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
    PyErr_Clear();
    out.encoded = PyRef(PyUnicode_AsEncodedString(value, "utf-8", "surrogatepass"));
    if (!out.encoded) return false;
    out.utf8 = std::string_view(PyBytes_AS_STRING(out.encoded.get()),
                                static_cast<std::size_t>(PyBytes_GET_SIZE(out.encoded.get())));
    return true;
}

// The processor of a call: none, a callable, or a vorn.Preprocessor.
struct Processor {
    PyObject* callable = nullptr;
    bool preprocessor = false;
    vorn::py::PreprocessorRecord record;
};

bool convert_call_processor(PyObject* object, Processor& out) {
    if (object == Py_None) return true;
    if (PyCallable_Check(object)) {
        out.callable = object;
        return true;
    }
    if (!convert_processor(object, out.record)) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "processor must be a callable, a vorn.Preprocessor or None, not %R", object);
        }
        return false;
    }
    out.preprocessor = true;
    return true;
}

bool prepare(const Processor& processor, PyObject* value, const char* name, bool utf8_needed, Text& out) {
    if (processor.callable != nullptr) {
        out.processed = PyRef(PyObject_CallOneArg(processor.callable, value));
        if (!out.processed) return false;
        return read_str(out.processed.get(), name, utf8_needed, out);
    }
    if (!read_str(value, name, utf8_needed || processor.preprocessor, out)) return false;
    if (processor.preprocessor) {
        if (!preprocess_text(processor.record, out.utf8, out.owned)) return false;
        out.utf8 = out.owned;
        out.str = nullptr;
    }
    return true;
}

// The code points of a prepared string, copied from the str's own storage
// (one, two or four bytes a character; lone surrogates included) into a
// buffer of their own, inline for short texts, or decoded from a
// vorn.Preprocessor's UTF-8. Made in place (it views itself).
class CodePointBuffer {
public:
    explicit CodePointBuffer(const Text& text) {
        if (text.str == nullptr) {
            heap_ = vorn::text::decode_code_points(text.utf8);
            view_ = heap_;
            return;
        }
        const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(text.str));
        char32_t* points = inline_;
        if (length > kInline) {
            heap_.resize(length);
            points = heap_.data();
        }
        const void* data = PyUnicode_DATA(text.str);
        switch (PyUnicode_KIND(text.str)) {
            case PyUnicode_1BYTE_KIND: std::copy_n(static_cast<const Py_UCS1*>(data), length, points); break;
            case PyUnicode_2BYTE_KIND: std::copy_n(static_cast<const Py_UCS2*>(data), length, points); break;
            default: std::copy_n(static_cast<const Py_UCS4*>(data), length, points); break;
        }
        view_ = std::u32string_view(points, length);
    }
    CodePointBuffer(const CodePointBuffer&) = delete;
    CodePointBuffer& operator=(const CodePointBuffer&) = delete;

    std::u32string_view view() const noexcept { return view_; }

private:
    static constexpr std::size_t kInline = 64;
    char32_t inline_[kInline];
    std::u32string heap_;
    std::u32string_view view_;
};

// Binds a call and prepares both strings; `none` is set instead when either
// string is None (RapidFuzz scores such a pair without calling the
// processor).
struct Prepared {
    Call call;
    Text a, b;
    bool none = false;
};

bool prepare_call(const char* name, const char* option_name, PyObject* const* args, Py_ssize_t nargsf,
                  PyObject* kwnames, Prepared& out, bool utf8_needed = true) {
    if (!bind_call(name, option_name, args, nargsf, kwnames, out.call)) return false;
    if (out.call.s1 == Py_None || out.call.s2 == Py_None) {
        out.none = true;
        return true;
    }
    Processor processor;
    if (!convert_call_processor(out.call.processor, processor)) return false;
    return prepare(processor, out.call.s1, "s1", utf8_needed, out.a) &&
           prepare(processor, out.call.s2, "s2", utf8_needed, out.b);
}

bool convert_float_cutoff(PyObject* object, double fallback, double& out) {
    if (object == Py_None) {
        out = fallback;
        return true;
    }
    out = PyFloat_AsDouble(object);
    return !(out == -1.0 && PyErr_Occurred());
}

// ---- vornkit.fuzz ----

template <Measure M>
PyObject* fuzz_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Prepared prepared;
        static constexpr const char* name = function_name(M);
        if (!prepare_call(name, nullptr, args, nargsf, kwnames, prepared)) return nullptr;
        double cutoff = 0;
        if (!convert_float_cutoff(prepared.call.score_cutoff, 0, cutoff)) return nullptr;
        if (prepared.none) return PyFloat_FromDouble(0);
        double score = 0;
        {
            const std::string_view a = prepared.a.utf8, b = prepared.b.utf8;
            Py_BEGIN_ALLOW_THREADS score = registry::rapidfuzz_similarity(M, a, b, cutoff);
            Py_END_ALLOW_THREADS
        }
        return PyFloat_FromDouble(score);
    });
}

// (score, src_start, src_end, dest_start, dest_end), or None below the
// cutoff or for a None string.
PyObject* partial_ratio_alignment(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Prepared prepared;
        if (!prepare_call("partial_ratio_alignment", nullptr, args, nargsf, kwnames, prepared)) return nullptr;
        double cutoff = 0;
        if (!convert_float_cutoff(prepared.call.score_cutoff, 0, cutoff)) return nullptr;
        if (prepared.none) Py_RETURN_NONE;
        const algo::fuzz::ScoreAlignment found =
            algo::fuzz::partial_ratio_alignment(prepared.a.utf8, prepared.b.utf8, cutoff);
        if (found.score < cutoff || cutoff > 100) Py_RETURN_NONE;
        return Py_BuildValue("(dnnnn)", found.score, static_cast<Py_ssize_t>(found.src_start),
                             static_cast<Py_ssize_t>(found.src_end), static_cast<Py_ssize_t>(found.dest_start),
                             static_cast<Py_ssize_t>(found.dest_end));
    });
}

// ---- vornkit.distance ----

enum class Form { distance, similarity, normalized_distance, normalized_similarity };

constexpr const char* form_name(Form form) {
    switch (form) {
        case Form::distance: return "distance";
        case Form::similarity: return "similarity";
        case Form::normalized_distance: return "normalized_distance";
        default: return "normalized_similarity";
    }
}

// An integer cutoff: None for none, a float truncated, a negative value
// OverflowError.
bool convert_count_cutoff(PyObject* object, std::uint64_t& out, bool& given) {
    given = object != Py_None;
    if (!given) return true;
    PyRef number(PyNumber_Long(object));
    if (!number) return false;
    out = PyLong_AsUnsignedLongLong(number.get());
    return !(out == static_cast<std::uint64_t>(-1) && PyErr_Occurred());
}

// The distance's measure of a metric counted in edits, whose four
// functions all count with it.
template <Measure Edits, Form F>
PyObject* counted_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        constexpr registry::Option option = registry::option_of(Edits);
        constexpr bool utf8 = registry::counts_utf8(Edits);
        Prepared prepared;
        if (!prepare_call(form_name(F), option_keyword(option), args, nargsf, kwnames, prepared, utf8)) return nullptr;
        constexpr bool normalized = F == Form::normalized_distance || F == Form::normalized_similarity;
        double norm_cutoff = 0;
        std::uint64_t cutoff = 0;
        bool given = false;
        if (normalized) {
            if (!convert_float_cutoff(prepared.call.score_cutoff, F == Form::normalized_distance ? 1.0 : 0.0,
                                      norm_cutoff))
                return nullptr;
        } else if (!convert_count_cutoff(prepared.call.score_cutoff, cutoff, given)) {
            return nullptr;
        }
        if (prepared.none) {
            if (!normalized) {
                PyErr_SetString(PyExc_TypeError, "s1 and s2 must be str, not None");
                return nullptr;
            }
            return PyFloat_FromDouble(F == Form::normalized_distance ? 1.0 : 0.0);
        }
        registry::Options options;
        if (!convert_option(option, prepared.call.option, options)) return nullptr;
        std::optional<vorn::Expected<registry::Counted, vorn::InvalidArgument>> counted;
        if constexpr (utf8) {
            const std::string_view a = prepared.a.utf8, b = prepared.b.utf8;
            Py_BEGIN_ALLOW_THREADS counted.emplace(registry::count_edits(Edits, a, b, options));
            Py_END_ALLOW_THREADS
        } else {
            const CodePointBuffer x(prepared.a), y(prepared.b);
            Py_BEGIN_ALLOW_THREADS counted.emplace(registry::count_edits(Edits, x.view(), y.view(), options));
            Py_END_ALLOW_THREADS
        }
        if (!*counted) {
            PyErr_SetString(PyExc_ValueError, std::string(counted->error().message).c_str());
            return nullptr;
        }
        const registry::Counted count = **counted;
        if constexpr (F == Form::distance) {
            const std::uint64_t d = count.distance;
            return PyLong_FromUnsignedLongLong(!given || d <= cutoff ? d : cutoff + 1);
        } else if constexpr (F == Form::similarity) {
            const std::uint64_t s = count.maximum - count.distance;
            return PyLong_FromUnsignedLongLong(!given || s >= cutoff ? s : 0);
        } else if constexpr (F == Form::normalized_distance) {
            const double distance = registry::normalized_distance(count);
            return PyFloat_FromDouble(distance <= norm_cutoff ? distance : 1.0);
        } else {
            const double similarity = registry::normalized_similarity(count);
            return PyFloat_FromDouble(similarity >= norm_cutoff ? similarity : 0.0);
        }
    });
}

// Jaro and JaroWinkler, by their similarity's measure: a similarity in
// [0, 1]; every form is a float.
template <Measure Plain, Form F>
PyObject* rated_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        constexpr registry::Option option = registry::option_of(Plain);
        Prepared prepared;
        if (!prepare_call(form_name(F), option_keyword(option), args, nargsf, kwnames, prepared)) return nullptr;
        constexpr bool is_distance = F == Form::distance || F == Form::normalized_distance;
        double cutoff = 0;
        if (!convert_float_cutoff(prepared.call.score_cutoff, is_distance ? 1.0 : 0.0, cutoff)) return nullptr;
        if (prepared.none) return PyFloat_FromDouble(is_distance ? 1.0 : 0.0);
        registry::Options options;
        if (!convert_option(option, prepared.call.option, options)) return nullptr;
        double similarity = 0;
        {
            const std::string_view a = prepared.a.utf8, b = prepared.b.utf8;
            Py_BEGIN_ALLOW_THREADS similarity = registry::rate(Plain, a, b, options);
            Py_END_ALLOW_THREADS
        }
        const double distance = 1.0 - similarity;
        if constexpr (is_distance) return PyFloat_FromDouble(distance <= cutoff ? distance : 1.0);
        const double score = F == Form::normalized_similarity ? registry::normalized_from_rate(similarity) : similarity;
        return PyFloat_FromDouble(score >= cutoff ? score : 0.0);
    });
}

// Levenshtein and Indel edit scripts: ([(tag, src_pos, dest_pos), ...],
// src_len, dest_len), or with Blocks ([(tag, src_start, src_end,
// dest_start, dest_end), ...], src_len, dest_len); vornkit.distance wraps
// them in Editops and Opcodes.
using EditScriptFunction = algo::EditScript (*)(std::u32string_view, std::u32string_view);

PyObject* edit_tag(algo::EditKind kind) {
    static PyObject* const tags[] = {PyUnicode_InternFromString("replace"), PyUnicode_InternFromString("insert"),
                                     PyUnicode_InternFromString("delete"), PyUnicode_InternFromString("equal")};
    PyObject* tag = tags[static_cast<int>(kind)];
    if (tag == nullptr) return PyErr_Occurred() ? nullptr : PyErr_NoMemory();
    Py_INCREF(tag);
    return tag;
}

PyObject* edit_item(const algo::EditOp& op) {
    PyObject* tag = edit_tag(op.kind);
    if (tag == nullptr) return nullptr;
    return Py_BuildValue("(Nnn)", tag, static_cast<Py_ssize_t>(op.src_pos), static_cast<Py_ssize_t>(op.dest_pos));
}

PyObject* edit_item(const algo::EditBlock& block) {
    PyObject* tag = edit_tag(block.kind);
    if (tag == nullptr) return nullptr;
    return Py_BuildValue("(Nnnnn)", tag, static_cast<Py_ssize_t>(block.src_start),
                         static_cast<Py_ssize_t>(block.src_end), static_cast<Py_ssize_t>(block.dest_start),
                         static_cast<Py_ssize_t>(block.dest_end));
}

template <class Item>
PyObject* edit_list(const std::vector<Item>& items) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* item = edit_item(items[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

template <EditScriptFunction Compute, bool Blocks>
PyObject* editops_entry(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        const char* name = Blocks ? "opcodes" : "editops";
        const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < nkw; ++i) {
            if (keyword_is(PyTuple_GET_ITEM(kwnames, i), "score_cutoff")) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument 'score_cutoff'", name);
                return nullptr;
            }
        }
        Prepared prepared;
        if (!prepare_call(name, nullptr, args, nargsf, kwnames, prepared, false)) return nullptr;
        if (prepared.none) {
            PyErr_SetString(PyExc_TypeError, "s1 and s2 must be str, not None");
            return nullptr;
        }
        const CodePointBuffer a(prepared.a), b(prepared.b);
        algo::EditScript script;
        std::vector<algo::EditBlock> blocks;
        Py_BEGIN_ALLOW_THREADS script = Compute(a.view(), b.view());
        if constexpr (Blocks) blocks = algo::edit_blocks(script);
        Py_END_ALLOW_THREADS PyObject* items = Blocks ? edit_list(blocks) : edit_list(script.ops);
        if (items == nullptr) return nullptr;
        return Py_BuildValue("(Nnn)", items, static_cast<Py_ssize_t>(script.src_length),
                             static_cast<Py_ssize_t>(script.dest_length));
    });
}

template <class Entry>
PyMethodDef entry(const char* name, Entry* function, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)), METH_FASTCALL | METH_KEYWORDS,
            doc};
}

// Each function's docstring is docs::<its measure> (fuzz_docs.hpp) for a
// ratio, docs::<stem>_<form> for a form of a metric.
#define VORNKIT_FUZZ(name, measure) entry(name, fuzz_entry<Measure::measure>, docs::measure),
#define VORNKIT_FORMS(prefix, entry_template, measure, stem)                                                      \
    entry(prefix "_distance", entry_template<Measure::measure, Form::distance>, docs::stem##_distance),           \
        entry(prefix "_similarity", entry_template<Measure::measure, Form::similarity>, docs::stem##_similarity), \
        entry(prefix "_normalized_distance", entry_template<Measure::measure, Form::normalized_distance>,         \
              docs::stem##_normalized_distance),                                                                  \
        entry(prefix "_normalized_similarity", entry_template<Measure::measure, Form::normalized_similarity>,     \
              docs::stem##_normalized_similarity),
#define VORNKIT_COUNTED(metric, prefix, stem) VORNKIT_FORMS(prefix, counted_entry, stem##_edits, stem)
#define VORNKIT_RATED(metric, prefix, stem) VORNKIT_FORMS(prefix, rated_entry, stem##_plain, stem)

}  // namespace

bool convert_option(registry::Option option, PyObject* value, registry::Options& out) {
    if (value == nullptr) return true;
    // None is the default weights and prefix weight, as in RapidFuzz; pad
    // reads it as false.
    if (value == Py_None && option != registry::Option::pad) return true;
    switch (option) {
        case registry::Option::weights: {
            if (!PyTuple_Check(value) || PyTuple_GET_SIZE(value) != 3) {
                PyErr_SetString(PyExc_TypeError,
                                "weights must be a tuple (insertion, deletion, substitution) of three ints");
                return false;
            }
            std::uint64_t* slots[3] = {&out.weights.insertion, &out.weights.deletion, &out.weights.substitution};
            for (Py_ssize_t i = 0; i < 3; ++i) {
                const unsigned long long weight = PyLong_AsUnsignedLongLong(PyTuple_GET_ITEM(value, i));
                if (weight == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
                // Costs stay far from wrapping when multiplied by a length.
                if (weight > (std::uint64_t{1} << 32)) {
                    PyErr_SetString(PyExc_OverflowError, "a weight must be at most 2**32");
                    return false;
                }
                *slots[i] = weight;
            }
            return true;
        }
        case registry::Option::prefix_weight: {
            const double weight = PyFloat_AsDouble(value);
            if (weight == -1.0 && PyErr_Occurred()) return false;
            if (!(weight >= 0.0 && weight <= 1.0)) {
                PyErr_SetString(PyExc_ValueError, "prefix_weight has to be in the range 0.0 - 1.0");
                return false;
            }
            out.prefix_weight = weight;
            return true;
        }
        case registry::Option::pad: {
            const int truth = PyObject_IsTrue(value);
            if (truth < 0) return false;
            out.pad = truth != 0;
            return true;
        }
        case registry::Option::none: break;
    }
    return true;
}

// clang-format off
PyMethodDef fuzz_methods[] = {
    VORN_FUZZ_RATIOS(VORNKIT_FUZZ)
    entry("partial_ratio_alignment", partial_ratio_alignment,
          "partial_ratio_alignment(s1, s2, *, processor=None, score_cutoff=None, score_hint=None)\n--\n\n"
          "(score, src_start, src_end, dest_start, dest_end), or None below score_cutoff."),
    VORN_COUNTED_METRICS(VORNKIT_COUNTED)
    VORN_RATED_METRICS(VORNKIT_RATED)
    entry("levenshtein_editops", editops_entry<algo::levenshtein_editops, false>, nullptr),
    entry("levenshtein_opcodes", editops_entry<algo::levenshtein_editops, true>, nullptr),
    entry("indel_editops", editops_entry<algo::indel_editops, false>, nullptr),
    entry("indel_opcodes", editops_entry<algo::indel_editops, true>, nullptr),
    {nullptr, nullptr, 0, nullptr},
};
// clang-format on

}  // namespace vornkit::native
