// VornFlow objects keep the caller's algorithm and operator names and
// bounds; every comparison parses them again into a router record that
// lives for that one call.
#include "python/vornflow_class.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "python/binding.hpp"
#include "python/heap_type.hpp"
#include "router/router.hpp"

namespace vorn::py {
namespace {

struct Tier1Settings {
    std::string algo;
    std::string match_op;
    double match_val;
    std::string mismatch_op;
    double mismatch_val;
};

struct Tier2Settings {
    std::string algo;
    std::string op;
    double val1;
    double val2;
};

// The whole state of a VornFlow object. Stored names were validated when
// stored, so parsing them again succeeds.
struct PyVornFlow {
    std::optional<Tier1Settings> tier1;
    std::optional<Tier2Settings> tier2;
    bool preprocess = false;
};

PyObject* raise_unknown_name(const char* prefix, std::string_view name) {
    std::string message(prefix);
    message += name;
    return raise_value_error(message);
}

// Name parsers raising the binding layer's own ValueError (no kind prefix).
std::optional<router::Algorithm> parse_algo_or_raise(std::string_view name) {
    auto algorithm = router::parse_algo(name);
    if (!algorithm) raise_unknown_name("unknown algorithm: ", name);
    return algorithm;
}

std::optional<router::Threshold> parse_threshold_or_raise(std::string_view op, double value) {
    auto threshold = router::parse_threshold(op, value);
    if (!threshold) raise_unknown_name("unknown threshold op: ", op);
    return threshold;
}

std::optional<router::Threshold> parse_tier2_threshold_or_raise(std::string_view op, double value1, double value2) {
    auto threshold = router::parse_tier2_threshold(op, value1, value2);
    if (!threshold) raise_unknown_name("unknown threshold op: ", op);
    return threshold;
}

std::optional<router::Tier1> parse_tier1(const Tier1Settings& settings) {
    auto algorithm = parse_algo_or_raise(settings.algo);
    if (!algorithm) return std::nullopt;
    auto match = parse_threshold_or_raise(settings.match_op, settings.match_val);
    if (!match) return std::nullopt;
    auto mismatch = parse_threshold_or_raise(settings.mismatch_op, settings.mismatch_val);
    if (!mismatch) return std::nullopt;
    return router::Tier1{*match, *algorithm, *mismatch};
}

std::optional<router::Tier2> parse_tier2(const Tier2Settings& settings) {
    auto algorithm = parse_algo_or_raise(settings.algo);
    if (!algorithm) return std::nullopt;
    auto threshold = parse_tier2_threshold_or_raise(settings.op, settings.val1, settings.val2);
    if (!threshold) return std::nullopt;
    return router::Tier2{*algorithm, *threshold};
}

// The router record of one comparison; nullopt with an exception set when
// a stored name does not parse.
std::optional<router::VornFlow> build_router(const PyVornFlow& config, bool with_tiers) {
    router::VornFlow flow;
    if (config.preprocess) flow.preprocessor.emplace();
    if (with_tiers && config.tier1) {
        flow.tier1 = parse_tier1(*config.tier1);
        if (!flow.tier1) return std::nullopt;
    }
    if (with_tiers && config.tier2) {
        flow.tier2 = parse_tier2(*config.tier2);
        if (!flow.tier2) return std::nullopt;
    }
    return flow;
}

// Inserts a new value under a key interned once per process (the module
// does not run in sub-interpreters).
bool set_item(PyObject* dict, PyObject*& key_slot, const char* key_text, PyObject* owned_value) {
    PyRef value(owned_value);
    if (!value) return false;
    if (key_slot == nullptr) key_slot = PyUnicode_InternFromString(key_text);
    return key_slot != nullptr && PyDict_SetItem(dict, key_slot, value.get()) == 0;
}

// A fresh dict with the keys score, tier, algorithm, fallback_called and
// fallback_data, in that order; fallback_data is always a str.
PyObject* build_result_dict(router::ComparisonResult result) {
    static PyObject *score_key, *tier_key, *algorithm_key, *called_key, *data_key;
    PyRef dict(PyDict_New());
    if (!dict) return nullptr;
    std::string_view data = result.fallback_data ? std::string_view(*result.fallback_data) : std::string_view();
    bool filled = set_item(dict.get(), score_key, "score", PyFloat_FromDouble(result.score)) &&
                  set_item(dict.get(), tier_key, "tier", PyLong_FromUnsignedLongLong(result.tier)) &&
                  set_item(dict.get(), algorithm_key, "algorithm", to_python(result.algorithm)) &&
                  set_item(dict.get(), called_key, "fallback_called", PyBool_FromLong(result.fallback_called)) &&
                  set_item(dict.get(), data_key, "fallback_data", to_python(data));
    return filled ? dict.release() : nullptr;
}

PyObject* result_or_raise(Expected<router::ComparisonResult, VornError> outcome) {
    if (!outcome) return to_py_err(outcome.error());
    return build_result_dict(std::move(outcome).value());
}

PyTypeObject* flow_type = nullptr;  // created once, never released

// A new VornFlow (never a subclass instance) owning the record.
PyObject* wrap(PyVornFlow config) { return new_record_object(flow_type, std::move(config)); }

const PyVornFlow& config_of(PyObject* self) { return record_of<PyVornFlow>(self); }

constexpr Signature<0> kConstructor{"VornFlow()", {}};
constexpr Signature<1> kPreprocess{"VornFlow.preprocess()", {"enable"}};
constexpr Signature<5> kTier1{"VornFlow.tier_1()", {"algo", "match_op", "match_val", "mismatch_op", "mismatch_val"}};
constexpr Signature<4> kTier2{"VornFlow.tier_2()", {"algo", "op", "val1", "val2"}};
constexpr Signature<3> kCompareWithIntent{"VornFlow.compare_with_intent()", {"intent", "a", "b"}};
constexpr Signature<2> kCompare{"VornFlow.compare()", {"a", "b"}};

PyObject* flow_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        if (!parse_tuple_args(kConstructor, args, kwargs)) return nullptr;
        return new_record_object(type, PyVornFlow());
    });
}

PyObject* flow_repr(PyObject*) { return PyUnicode_FromStringAndSize("VornFlow()", 10); }

PyObject* flow_preprocess(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        bool enable = false;
        if (!parse_args(kPreprocess, args, nargsf, kwnames, enable)) return nullptr;
        PyVornFlow config = config_of(self);
        config.preprocess = enable;
        return wrap(std::move(config));
    });
}

PyObject* flow_tier_1(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        std::string_view algo, match_op, mismatch_op;
        double match_val = 0.0, mismatch_val = 0.0;
        if (!parse_args(kTier1, args, nargsf, kwnames, algo, match_op, match_val, mismatch_op, mismatch_val))
            return nullptr;
        if (!parse_algo_or_raise(algo) || !parse_threshold_or_raise(match_op, match_val) ||
            !parse_threshold_or_raise(mismatch_op, mismatch_val))
            return nullptr;
        PyVornFlow config = config_of(self);
        config.tier1 =
            Tier1Settings{std::string(algo), std::string(match_op), match_val, std::string(mismatch_op), mismatch_val};
        return wrap(std::move(config));
    });
}

PyObject* flow_tier_2(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        std::string_view algo, op;
        double val1 = 0.0, val2 = 0.0;
        if (!parse_args(kTier2, args, nargsf, kwnames, algo, op, val1, val2)) return nullptr;
        if (!parse_algo_or_raise(algo) || !parse_tier2_threshold_or_raise(op, val1, val2)) return nullptr;
        PyVornFlow config = config_of(self);
        config.tier2 = Tier2Settings{std::string(algo), std::string(op), val1, val2};
        return wrap(std::move(config));
    });
}

PyObject* flow_compare_with_intent(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        std::string_view intent_name, a, b;
        if (!parse_args(kCompareWithIntent, args, nargsf, kwnames, intent_name, a, b)) return nullptr;
        auto flow = build_router(config_of(self), /*with_tiers=*/false);
        if (!flow) return nullptr;
        auto intent = router::parse_intent(intent_name);
        if (!intent) return raise_unknown_name("unknown intent: ", intent_name);
        return result_or_raise(router::compare_with_intent(*flow, *intent, a, b));
    });
}

PyObject* flow_compare(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        std::string_view a, b;
        if (!parse_args(kCompare, args, nargsf, kwnames, a, b)) return nullptr;
        auto flow = build_router(config_of(self), /*with_tiers=*/true);
        if (!flow) return nullptr;
        return result_or_raise(router::compare(*flow, a, b));
    });
}

PyMethodDef flow_methods[] = {
    fastcall_method("preprocess", flow_preprocess, "preprocess($self, enable)\n--\n\n"),
    fastcall_method("tier_1", flow_tier_1,
                    "tier_1($self, algo, match_op, match_val, mismatch_op, mismatch_val)\n--\n\n"),
    fastcall_method("tier_2", flow_tier_2, "tier_2($self, algo, op, val1, val2)\n--\n\n"),
    fastcall_method("compare_with_intent", flow_compare_with_intent,
                    "compare_with_intent($self, intent, a, b)\n--\n\n"),
    fastcall_method("compare", flow_compare, "compare($self, a, b)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot flow_slots[] = {
    {Py_tp_doc, const_cast<char*>("VornFlow()\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(flow_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_record_object<PyVornFlow>)},
    {Py_tp_repr, reinterpret_cast<void*>(flow_repr)},
    {Py_tp_methods, flow_methods},
    {0, nullptr},
};

PyType_Spec flow_spec = {
    "builtins.VornFlow",
    sizeof(RecordObject<PyVornFlow>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    flow_slots,
};

}  // namespace

PyObject* vornflow_type() {
    if (flow_type == nullptr) {
        flow_type = create_builtin_type(flow_spec);
        if (flow_type == nullptr) return nullptr;
    }
    return Py_NewRef(reinterpret_cast<PyObject*>(flow_type));
}

}  // namespace vorn::py
