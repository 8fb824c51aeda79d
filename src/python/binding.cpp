#include "python/binding.hpp"

#include <cstring>

namespace vorn::py {
namespace {

// "arguments" stays plural even for one parameter: the wording is part of
// the public contract, unlike the interpreter's own message.
bool set_too_many_positional(const char* full_name, std::size_t n, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", full_name, n, given,
                 given == 1 ? "was" : "were");
    return false;
}

// Binds one keyword argument, or sets TypeError.
bool bind_keyword(const char* full_name, const char* const* params, std::size_t n, PyObject* name, PyObject* value,
                  PyObject** slots) {
    for (std::size_t i = 0; i < n; ++i) {
        if (PyUnicode_CompareWithASCIIString(name, params[i]) != 0) continue;
        if (slots[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'", full_name, name);
            return false;
        }
        slots[i] = value;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", full_name, name);
    return false;
}

// Fails with the list of unfilled parameters: 'a'; 'a' and 'b'; 'a', 'b' and 'c'.
bool check_all_filled(const char* full_name, const char* const* params, std::size_t n, PyObject* const* slots) {
    std::size_t missing = 0;
    for (std::size_t i = 0; i < n; ++i) missing += slots[i] == nullptr;
    if (missing == 0) return true;

    std::string names;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (slots[i] != nullptr) continue;
        if (listed > 0) names += listed + 1 == missing ? " and " : ", ";
        names += '\'';
        names += params[i];
        names += '\'';
        ++listed;
    }
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional argument%s: %s", full_name, missing,
                 missing > 1 ? "s" : "", names.c_str());
    return false;
}

PyRef type_name(PyObject* object) { return PyRef(PyType_GetName(Py_TYPE(object))); }

bool set_not_an_instance(PyObject* object, const char* expected) {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return false;
    }
    PyRef name = type_name(object);
    if (name) PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), expected);
    return false;
}

bool is_numpy_bool(PyObject* object) {
    const char* name = Py_TYPE(object)->tp_name;
    return std::strcmp(name, "numpy.bool") == 0 || std::strcmp(name, "numpy.bool_") == 0;
}

}  // namespace

bool bind_vectorcall(const char* full_name, const char* const* params, std::size_t n, PyObject* const* args,
                     Py_ssize_t nargsf, PyObject* kwnames, PyObject** slots) {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (static_cast<std::size_t>(nargs) > n) return set_too_many_positional(full_name, n, nargs);
    for (std::size_t i = 0; i < n; ++i) slots[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            if (!bind_keyword(full_name, params, n, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], slots)) return false;
        }
    }
    return check_all_filled(full_name, params, n, slots);
}

bool bind_tuple_dict(const char* full_name, const char* const* params, std::size_t n, PyObject* args, PyObject* kwargs,
                     PyObject** slots) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (static_cast<std::size_t>(nargs) > n) return set_too_many_positional(full_name, n, nargs);
    for (std::size_t i = 0; i < n; ++i)
        slots[i] = i < static_cast<std::size_t>(nargs) ? PyTuple_GET_ITEM(args, i) : nullptr;
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *name, *value;
        while (PyDict_Next(kwargs, &pos, &name, &value)) {
            if (!bind_keyword(full_name, params, n, name, value, slots)) return false;
        }
    }
    return check_all_filled(full_name, params, n, slots);
}

bool convert_str(PyObject* object, std::string_view& out) {
    if (!PyUnicode_Check(object)) return set_not_an_instance(object, "str");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) return false;  // lone surrogates: UnicodeEncodeError
    out = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

bool convert(PyObject* object, std::uint64_t& out) {
    if (PyLong_CheckExact(object)) {
        unsigned long long value = PyLong_AsUnsignedLongLong(object);
        if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
        out = value;
        return true;
    }
    PyRef index(PyNumber_Index(object));
    if (!index) return false;
    unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool convert(PyObject* object, bool& out) {
    if (object == Py_True || object == Py_False) {
        out = object == Py_True;
        return true;
    }
    if (is_numpy_bool(object)) {
        int truth = PyObject_IsTrue(object);
        if (truth < 0) return false;
        out = truth != 0;
        return true;
    }
    return set_not_an_instance(object, "bool");
}

bool convert(PyObject* object, double& out) {
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

void note_while_processing(const char* name) noexcept {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr) return;
    PyRef note(PyUnicode_FromFormat("while processing '%s'", name));
    if (note) {
        PyRef result(PyObject_CallMethod(raised, "add_note", "O", note.get()));
        if (!result) PyErr_Clear();
    } else {
        PyErr_Clear();
    }
    PyErr_SetRaisedException(raised);
}

// Signed creation first: it returns cached small ints with less work.
PyObject* to_python(std::uint64_t value) {
    if (value <= static_cast<std::uint64_t>(INT64_MAX)) return PyLong_FromLongLong(static_cast<long long>(value));
    return PyLong_FromUnsignedLongLong(value);
}

PyObject* to_python(double value) { return PyFloat_FromDouble(value); }

PyObject* to_python(std::string_view utf8) {
    return PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size()));
}

PyObject* to_python(const std::vector<std::uint64_t>& values) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyLong_FromUnsignedLongLong(values[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

}  // namespace vorn::py
