// The module's classes: top-level heap types of no module whose instances
// each own one immutable C++ record.
#pragma once

#include "python/pyref.hpp"

#include <new>
#include <utility>

namespace vorn::py {

// Creates a heap type from a type spec named "builtins.<Name>", so that its
// __module__ is "builtins" without the interpreter's warning about a
// module-less name; the type's C-level name (used in error messages) is
// then the bare class name, as for a built-in type. Returns a new reference
// or nullptr with an exception set. The type spec must have static storage.
PyTypeObject* create_builtin_type(PyType_Spec& type_spec);

// Instance layout of a class that holds one record.
template <class Record>
struct RecordObject {
    PyObject_HEAD Record record;
};

template <class Record>
const Record& record_of(PyObject* self) {
    return reinterpret_cast<RecordObject<Record>*>(self)->record;
}

// A new instance of `type` owning the record, or nullptr with an exception set.
template <class Record>
PyObject* new_record_object(PyTypeObject* type, Record record) {
    PyObject* object = type->tp_alloc(type, 0);
    if (object == nullptr) return nullptr;
    new (&reinterpret_cast<RecordObject<Record>*>(object)->record) Record(std::move(record));
    return object;
}

// tp_dealloc: destroys the record, frees the instance, releases the type.
template <class Record>
void dealloc_record_object(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<RecordObject<Record>*>(self)->record.~Record();
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace vorn::py
