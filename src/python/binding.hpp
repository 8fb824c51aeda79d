// The argument-binding frame shared by every Python-callable operation:
// bind positional and keyword arguments to named parameters, convert them
// in parameter order, run the operation, convert its result.
#pragma once

#include "python/pyref.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "error/vorn_error.hpp"
#include "python/errors.hpp"

namespace vorn::py {

// An operation's name as used in messages ("f()" or "Class.method()") and
// its parameter names; every parameter is required.
template <std::size_t N>
struct Signature {
    const char* full_name;
    std::array<const char*, N> params;
};

// Fills slots[0..n) with borrowed references, or sets TypeError.
bool bind_vectorcall(const char* full_name, const char* const* params, std::size_t n, PyObject* const* args,
                     Py_ssize_t nargsf, PyObject* kwnames, PyObject** slots);
bool bind_tuple_dict(const char* full_name, const char* const* params, std::size_t n, PyObject* args, PyObject* kwargs,
                     PyObject** slots);

// Conversions of one argument; on failure the conversion's own exception
// is set. Further overloads for other parameter types live next to the
// code that needs them, in this namespace, and are found by lookup at the
// point of use.
bool convert_str(PyObject* object, std::string_view& out);
// Borrowed UTF-8, no copy. A compact ASCII str already holds its UTF-8
// form, so the common case is read inline.
inline bool convert(PyObject* object, std::string_view& out) {
    if (PyUnicode_CheckExact(object) && PyUnicode_IS_COMPACT_ASCII(object)) {
        out = std::string_view(static_cast<const char*>(PyUnicode_DATA(object)),
                               static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)));
        return true;
    }
    return convert_str(object, out);
}
bool convert(PyObject* object, std::uint64_t& out);  // __index__, 0 ..= 2**64 - 1
bool convert(PyObject* object, bool& out);           // exactly True/False (or numpy.bool)
bool convert(PyObject* object, double& out);

// Adds the note "while processing '{name}'" to the current exception.
void note_while_processing(const char* name) noexcept;

namespace detail {

template <class Out>
bool convert_parameter(PyObject* object, const char* name, Out& out) {
    if (convert(object, out)) return true;
    note_while_processing(name);
    return false;
}

template <std::size_t N, class... Out, std::size_t... I>
bool convert_all(const Signature<N>& sig, PyObject* const* slots, std::index_sequence<I...>, Out&... out) {
    return (convert_parameter(slots[I], sig.params[I], out) && ...);
}

}  // namespace detail

// Vectorcall arguments (functions and methods).
template <std::size_t N, class... Out>
bool parse_args(const Signature<N>& sig, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, Out&... out) {
    static_assert(sizeof...(Out) == N, "one output per parameter");
    // The common call passes every argument by position: the argument
    // vector is then the parameter list and needs no binding.
    if (kwnames == nullptr && PyVectorcall_NARGS(nargsf) == static_cast<Py_ssize_t>(N))
        return detail::convert_all(sig, args, std::index_sequence_for<Out...>{}, out...);
    PyObject* slots[N + 1];
    if (!bind_vectorcall(sig.full_name, sig.params.data(), N, args, nargsf, kwnames, slots)) return false;
    return detail::convert_all(sig, slots, std::index_sequence_for<Out...>{}, out...);
}

// Argument tuple and keyword dict (constructors).
template <std::size_t N, class... Out>
bool parse_tuple_args(const Signature<N>& sig, PyObject* args, PyObject* kwargs, Out&... out) {
    static_assert(sizeof...(Out) == N, "one output per parameter");
    PyObject* slots[N + 1];
    if (!bind_tuple_dict(sig.full_name, sig.params.data(), N, args, kwargs, slots)) return false;
    return detail::convert_all(sig, slots, std::index_sequence_for<Out...>{}, out...);
}

// A method record for the fast-call convention with keywords, used for
// module functions and class methods alike.
template <class Entry>
PyMethodDef fastcall_method(const char* name, Entry* entry, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)), METH_FASTCALL | METH_KEYWORDS,
            doc};
}

// Result conversions: each returns a new reference or nullptr with an
// exception set.
PyObject* to_python(std::uint64_t value);
PyObject* to_python(double value);
PyObject* to_python(std::string_view utf8);
inline PyObject* to_python(const std::string& utf8) { return to_python(std::string_view(utf8)); }
PyObject* to_python(const std::vector<std::uint64_t>& values);
inline PyObject* to_python(PyObject* owned) { return owned; }

template <class T>
PyObject* to_python(const Expected<T, InvalidArgument>& outcome) {
    if (!outcome) return raise_invalid_argument(outcome.error());
    return to_python(*outcome);
}

template <class T>
PyObject* to_python(const Expected<T, text::UnicodeFailure>& outcome) {
    if (!outcome) return raise_unicode_failure(outcome.error());
    return to_python(*outcome);
}

namespace detail {

template <class F>
struct FunctionTraits;
template <class R, class... A>
struct FunctionTraits<R (*)(A...)> {
    using Args = std::tuple<std::decay_t<A>...>;
};
template <class R, class... A>
struct FunctionTraits<R (*)(A...) noexcept> : FunctionTraits<R (*)(A...)> {};

}  // namespace detail

// A module-level function with the fast-call convention that binds its
// arguments by `Sig`, calls `Fn` and converts the result.
template <const auto& Sig, auto Fn>
PyObject* fastcall(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    return guarded([&]() -> PyObject* {
        typename detail::FunctionTraits<decltype(Fn)>::Args values;
        bool bound = std::apply([&](auto&... out) { return parse_args(Sig, args, nargsf, kwnames, out...); }, values);
        if (!bound) return nullptr;
        return to_python(std::apply(Fn, values));
    });
}

}  // namespace vorn::py
