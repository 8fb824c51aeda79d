// Size arguments convert as vorn's do: through __index__ to 0 ..= 2**64 - 1,
// the interpreter's own OverflowError (negative or too large) or TypeError
// (not an integer) otherwise, so no value is ever taken modulo 2**64.
#include "native.hpp"

namespace vornkit::native {

bool convert_size(PyObject* value, std::uint64_t& out, const char* note_format, ...) {
    PyRef index(PyNumber_Index(value));
    if (index) {
        out = PyLong_AsUnsignedLongLong(index.get());
        if (!(out == static_cast<std::uint64_t>(-1) && PyErr_Occurred())) return true;
    }
    PyObject* error = PyErr_GetRaisedException();
    std::va_list arguments;
    va_start(arguments, note_format);
    PyRef note(PyUnicode_FromFormatV(note_format, arguments));
    va_end(arguments);
    if (note) PyRef(PyObject_CallMethod(error, "add_note", "O", note.get()));
    PyErr_Clear();
    PyErr_SetRaisedException(error);
    return false;
}

bool convert_size(PyObject* value, const char* parameter, std::uint64_t& out) {
    return convert_size(value, out, "while processing '%s'", parameter);
}

}  // namespace vornkit::native
