// Creation of the module's classes as top-level types of no module.
#pragma once

#include "python/pyref.hpp"

namespace vorn::py {

// Creates a heap type from a spec named "builtins.<Name>", so that its
// __module__ is "builtins" without the interpreter's warning about a
// module-less name; the type's C-level name (used in error messages) is
// then the bare class name, as for a built-in type. Returns a new reference
// or nullptr with an exception set. The spec must have static storage.
PyTypeObject* create_builtin_type(PyType_Spec& spec);

}  // namespace vorn::py
