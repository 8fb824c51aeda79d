// The Python class Preprocessor: an immutable text pipeline configuration.
#pragma once

#include "python/pyref.hpp"

namespace vorn::py {

// New reference to the class's type object, created once per process.
PyObject* preprocessor_type();

}  // namespace vorn::py
