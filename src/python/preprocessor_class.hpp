// The Python class Preprocessor: an immutable text pipeline configuration.
#pragma once

#include "preprocess/preprocessor.hpp"
#include "python/heap_type.hpp"
#include "python/pyref.hpp"

namespace vorn::py {

// New reference to the class's type object, created once per process.
PyObject* preprocessor_type();

// Instance layout: one pipeline record. vornkit's extension, built from the
// same sources, reads the record of a Preprocessor through it.
using PreprocessorObject = RecordObject<preprocess::Preprocessor>;

}  // namespace vorn::py
