// The Python class VornFlow: an immutable router configuration.
#pragma once

#include "python/pyref.hpp"

namespace vorn::py {

// New reference to the class's type object, created once per process.
PyObject* vornflow_type();

}  // namespace vorn::py
