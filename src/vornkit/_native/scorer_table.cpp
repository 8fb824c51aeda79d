// Scorers: the public pairwise functions of the algorithm registry
// (router/registry.hpp), recognised by the function object itself. The
// first lookup imports each entry's module once and maps the identity of
// each function object to its entry; every later lookup is one dict lookup,
// with no import and no attribute access. Registering a scorer (one of
// vorn's or one of vornkit's own, implemented anywhere) is one Entry in the
// registry naming its module and function; nothing here changes.
//
// Why identity and not a description carried by the function: vorn's
// functions belong to a module whose names and attributes are fixed, and
// builtin functions (vorn's and vornkit._native's alike) cannot hold an
// attribute or capsule of their own. Making vornkit's scorers objects of a
// type of ours that could would add a layer to every call, and the
// identity map answers in one lookup for both modules.
#include <span>

#include "native.hpp"
#include "router/registry.hpp"

namespace vornkit::native {
namespace {

namespace registry = vorn::registry;
using vorn::collection::ScorerConfig;

// {id(function): entry index} and the function objects, kept alive so that
// their ids stay theirs. Created once per process, never released.
PyObject* scorer_ids = nullptr;
PyObject* scorer_functions = nullptr;

bool build_scorer_table() {
    PyRef ids(PyDict_New());
    PyRef functions(PyList_New(0));
    if (!ids || !functions) return false;
    const std::span<const registry::Entry> entries = registry::algorithms();
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const registry::Entry& entry = entries[index];
        PyRef module(PyImport_ImportModule(entry.module.data()));
        if (!module) return false;
        PyRef function(PyObject_GetAttrString(module.get(), entry.function.data()));
        if (!function) return false;
        PyRef id(PyLong_FromVoidPtr(function.get()));
        PyRef position(PyLong_FromSize_t(index));
        if (!id || !position || PyDict_SetItem(ids.get(), id.get(), position.get()) < 0 ||
            PyList_Append(functions.get(), function.get()) < 0)
            return false;
    }
    // An import may have let another thread build the table meanwhile.
    if (scorer_ids != nullptr) return true;
    scorer_ids = ids.release();
    scorer_functions = functions.release();
    return true;
}

const registry::Entry* find_scorer(PyObject* scorer) {
    if (scorer_ids == nullptr && !build_scorer_table()) return nullptr;
    PyRef id(PyLong_FromVoidPtr(scorer));
    if (!id) return nullptr;
    PyObject* position = PyDict_GetItemWithError(scorer_ids, id.get());  // borrowed
    if (position == nullptr) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_TypeError,
                         "scorer must be one of vorn's pairwise scoring functions or a scorer of vornkit.fuzz "
                         "or vornkit.distance, not %R",
                         scorer);
        return nullptr;
    }
    return &registry::algorithms()[PyLong_AsSize_t(position)];
}

bool is_named(PyObject* key, std::string_view name) {
    return !name.empty() && PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, name.data()) == 0;
}

// Whether scorer_kwargs may hold `key` for this entry: a size it takes or
// its option.
bool is_given(const registry::Entry& entry, PyObject* key) {
    for (registry::Size size : entry.given)
        if (is_named(key, registry::size_name(size))) return true;
    return is_named(key, registry::option_name(registry::option_of(entry.measure)));
}

}  // namespace

const vorn::registry::Entry* convert_scorer(PyObject* scorer, PyObject* kwargs, ScorerConfig& out) {
    const registry::Entry* entry = find_scorer(scorer);
    if (entry == nullptr) return nullptr;
    const char* function = entry->function.data();
    if (kwargs != Py_None && !PyDict_Check(kwargs)) {
        PyErr_Format(PyExc_TypeError, "scorer_kwargs must be a dict or None, not '%.200s'", Py_TYPE(kwargs)->tp_name);
        return nullptr;
    }
    ScorerConfig config{entry->measure, entry->size, entry->num_hashes, 0, {}};
    std::size_t found = 0;
    for (registry::Size size : entry->given) {
        if (size == registry::Size::none) continue;
        const char* parameter = registry::size_name(size).data();
        PyObject* value = kwargs == Py_None ? nullptr : PyDict_GetItemString(kwargs, parameter);
        if (value == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() needs scorer_kwargs['%s']", function, parameter);
            return nullptr;
        }
        ++found;
        std::uint64_t& field = size == registry::Size::num_hashes ? config.num_hashes : config.size;
        if (!convert_size(value, field, "while processing scorer_kwargs['%s'] of %s()", parameter, function))
            return nullptr;
    }
    const registry::Option option = registry::option_of(entry->measure);
    if (option != registry::Option::none && kwargs != Py_None) {
        const char* parameter = registry::option_name(option).data();
        if (PyObject* value = PyDict_GetItemString(kwargs, parameter)) {
            ++found;
            if (!convert_option(option, value, config.options)) return nullptr;
            // Unequal lengths have no score then, and a matrix has no
            // place for one pair's error: refused before any work.
            if (!config.options.pad) {
                PyErr_Format(PyExc_ValueError,
                             "%s(): scorer_kwargs['pad'] must be true; without padding, strings of unequal "
                             "lengths have no score",
                             function);
                return nullptr;
            }
        }
    }
    if (kwargs != Py_None && static_cast<std::size_t>(PyDict_GET_SIZE(kwargs)) != found) {
        PyObject *key, *value;
        Py_ssize_t position = 0;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            if (!is_given(*entry, key)) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected scorer_kwargs entry %R", function, key);
                return nullptr;
            }
        }
    }
    if (auto checked = vorn::collection::check_scorer(config); !checked) {
        PyErr_Format(PyExc_ValueError, "%s(): %s", function, std::string(checked.error().message).c_str());
        return nullptr;
    }
    out = config;
    return entry;
}

// algorithms(): the registry as a tuple of (module, function, is_distance,
// sizes the caller gives, router name, scorer name, option name, score
// scale) for the Python layer.
PyObject* algorithms(PyObject*, PyObject*) {
    const std::span<const registry::Entry> entries = registry::algorithms();
    PyRef table(PyTuple_New(static_cast<Py_ssize_t>(entries.size())));
    if (!table) return nullptr;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const registry::Entry& entry = entries[index];
        Py_ssize_t given_count = 0;
        for (registry::Size size : entry.given) given_count += size != registry::Size::none;
        PyRef given(PyTuple_New(given_count));
        if (!given) return nullptr;
        for (Py_ssize_t k = 0; k < given_count; ++k) {
            PyObject* name = PyUnicode_FromString(registry::size_name(entry.given[k]).data());
            if (name == nullptr) return nullptr;
            PyTuple_SET_ITEM(given.get(), k, name);
        }
        const std::string_view option = registry::option_name(registry::option_of(entry.measure));
        PyObject* row = Py_BuildValue(
            "(s#s#OOs#s#s#d)", entry.module.data(), static_cast<Py_ssize_t>(entry.module.size()), entry.function.data(),
            static_cast<Py_ssize_t>(entry.function.size()), registry::is_distance(entry.measure) ? Py_True : Py_False,
            given.get(), entry.router_name.data(), static_cast<Py_ssize_t>(entry.router_name.size()), entry.name.data(),
            static_cast<Py_ssize_t>(entry.name.size()), option.data(), static_cast<Py_ssize_t>(option.size()),
            registry::score_scale(entry.measure));
        if (row == nullptr) return nullptr;
        PyTuple_SET_ITEM(table.get(), static_cast<Py_ssize_t>(index), row);
    }
    return table.release();
}

}  // namespace vornkit::native
