// The Python class Preprocessor: an immutable text pipeline configuration.
#pragma once

#include "python/heap_type.hpp"
#include "python/pyref.hpp"

#include <memory>

#include "preprocess/preprocessor.hpp"

namespace vorn::py {

// What a Preprocessor instance holds (in RecordObject<PreprocessorRecord>):
// the pipeline configuration and, when it has custom stopwords, their set,
// built once by with_stopwords and shared by the instances derived from it.
struct PreprocessorRecord {
    preprocess::Preprocessor config;
    std::shared_ptr<const preprocess::StopwordSet> custom_stopwords;
};

// New reference to the class's type object, created once per process.
PyObject* preprocessor_type();

// Instance layout: one pipeline record, read by this module only.
//
// Other modules (vornkit) read an instance's settings through the private
// method __vorn_settings__(), which returns the tuple (normalize_unicode,
// collapse_whitespace, trim, lowercase, remove_stopwords, stopwords,
// max_length): bools, a tuple of str (the custom list; empty for the
// default list) and an int. A Preprocessor with these settings, built with
// the public builders, behaves identically.
using PreprocessorObject = RecordObject<PreprocessorRecord>;

}  // namespace vorn::py
