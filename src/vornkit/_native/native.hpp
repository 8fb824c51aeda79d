// Shared declarations of the vornkit._native extension.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdarg>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "collection/arrow_c_data.hpp"
#include "collection/pair_scorer.hpp"
#include "collection/parallel.hpp"
#include "collection/search.hpp"
#include "collection/string_column.hpp"
#include "preprocess/preprocessor.hpp"
#include "python/preprocessor_class.hpp"
#include "python/pyref.hpp"

namespace vornkit::native {

using vorn::collection::StringColumn;
using vorn::py::PyRef;

// The module's method table, null-terminated.
PyMethodDef* methods();

// RapidFuzz's pair scorers, vornkit.fuzz and vornkit.distance (fuzz_functions.cpp).
extern PyMethodDef fuzz_methods[];

// Module execution step: adds types and constants.
int exec_module(PyObject* module);

// Runs a binding body; no C++ exception reaches the interpreter: an
// allocation failure becomes MemoryError, anything else RuntimeError.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
        return nullptr;
    }
}

// ---- strings.cpp: reading collections of strings ----

// An Arrow array this extension owns; released (with the interpreter lock
// held) when dropped.
struct OwnedArrowArray {
    ArrowArray array{};
    OwnedArrowArray() = default;
    OwnedArrowArray(const OwnedArrowArray&) = delete;
    OwnedArrowArray& operator=(const OwnedArrowArray&) = delete;
    ~OwnedArrowArray() {
        if (array.release != nullptr) array.release(&array);
    }
};

// Texts copied out of str objects, laid out one after another in blocks
// that never move (views into them stay valid).
class TextBlocks {
public:
    // Room for the next text, of exactly `size` bytes.
    char* append(std::size_t size);

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t free_ = 0;
};

// A column of strings and everything that keeps its memory alive: the
// Python str objects, the Arrow arrays, or owned copies (processed text).
struct StringInput {
    StringColumn column;
    PyRef items;       // tuple of the original elements, for list-like inputs
    TextBlocks texts;  // the UTF-8 of str elements not read in place
    std::vector<std::unique_ptr<OwnedArrowArray>> arrays;
    std::vector<std::string> owned;
    PyRef origin;  // for processed text: the Strings object it was made from
    // Prepared texts (vornkit.prepare) keep per-text data for searches,
    // built on first use while the interpreter lock is held.
    bool prepared = false;
    // The character count of each text (0 for a null) when reading gave it
    // for free (Python's str length); empty otherwise.
    std::vector<std::uint32_t> char_counts;
    mutable std::unique_ptr<vorn::collection::LengthIndex> length_index;

    // Points the column at `owned`, keeping the nulls of `source`: the last
    // step of every processor.
    void fill_column_from_owned(const StringColumn& source) {
        column.reserve(source.size());
        for (std::size_t i = 0; i < source.size(); ++i) {
            if (source.is_null(i)) {
                column.push_null();
            } else {
                column.push_back(owned[i]);
            }
        }
    }
};

// Reads a collection of strings: a list, tuple or other iterable of str
// (None, float NaN and pandas.NA are nulls), a 1-D NumPy array of str
// (object, str_ or StringDType), a pandas Series, or anything with the Arrow
// PyCapsule interface (__arrow_c_stream__ / __arrow_c_array__) holding
// utf8, large_utf8 or string_view values. `name` is used in messages, e.g.
// "TypeError: choices[3] must be str or None, not 'int'". Returns false with
// an exception set.
bool read_strings(PyObject* object, const char* name, StringInput& out);

// The Python type vornkit._native.Strings: an immutable StringInput.
// read_strings(obj, name) returns one; C++ code gets its column with
// strings_input().
PyTypeObject* strings_type();
PyObject* new_strings_object(std::unique_ptr<StringInput> input);
// The input of a Strings object, or nullptr with TypeError set.
const StringInput* strings_input(PyObject* object);

// ---- scorer_table.cpp: the registry's pairwise functions ----

// The registry entry of a scorer (one of the public pairwise functions the
// registry lists, found by identity) and its core scorer, with the size
// parameters taken from `kwargs` (a dict or None). Returns null with
// TypeError for any other object or an unexpected or missing parameter, the
// conversion's error for a bad value, ValueError for a window size of 0.
const vorn::registry::Entry* convert_scorer(PyObject* scorer, PyObject* kwargs, vorn::collection::ScorerConfig& out);

// ---- fuzz_functions.cpp: RapidFuzz's scorers ----

// Sets the option of a RapidFuzz-compatible metric in `out` from a call's
// value (nullptr: RapidFuzz's default; None too, but for pad): weights a tuple of three
// ints, prefix_weight a float in [0, 1], pad a truth value. False with
// TypeError, ValueError or OverflowError for a bad value.
bool convert_option(vorn::registry::Option option, PyObject* value, vorn::registry::Options& out);

// ---- processor.cpp: vorn.Preprocessor objects ----

// Copies the pipeline record of a vorn.Preprocessor instance (or of a
// subclass instance); TypeError for anything else.
bool convert_processor(PyObject* object, vorn::py::PreprocessorRecord& out);

// Runs a vorn.Preprocessor's pipeline on one text into `out`; false with
// the exception vorn raises for the same failure.
bool preprocess_text(const vorn::py::PreprocessorRecord& processor, std::string_view text, std::string& out);

// A new StringInput holding the processed text of every string of `input`
// (nulls stay null), computed once per string on up to `workers` threads
// with the interpreter lock released. Returns nullptr with an exception set.
std::unique_ptr<StringInput> process_strings(const StringInput& input, const vorn::py::PreprocessorRecord& processor,
                                             std::size_t workers);

// ---- run.cpp: running without the interpreter lock ----

// Runs parallel_for with the interpreter lock released. The calling thread
// takes the lock back about every 50 ms to check for signals (Ctrl-C); when
// a handler raises, the run stops, every thread is joined and false is
// returned with that exception set. Must be called with the lock held.
// C++ exceptions from the body (std::bad_alloc) propagate after joining.
bool run_released(std::size_t n_items, std::size_t chunk, std::size_t workers, const vorn::collection::ChunkBody& body);

// Converts the `workers` argument: -1 for every core, or a positive count
// (any count beyond the cores means every core); ValueError otherwise.
bool convert_workers(PyObject* object, std::size_t& out);

// ---- size_argument.cpp: sizes, converted as vorn converts them ----

// An unsigned 64-bit size through __index__: OverflowError for a negative
// or too large int, TypeError for a non-integer, each with the note "while
// processing '<parameter>'". Returns false with the exception set.
bool convert_size(PyObject* value, const char* parameter, std::uint64_t& out);
// The same with a note of its own (PyUnicode_FromFormat format).
bool convert_size(PyObject* value, std::uint64_t& out, const char* note_format, ...);

}  // namespace vornkit::native
