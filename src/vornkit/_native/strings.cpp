// Reading collections of strings. Python str elements are held by a tuple
// made at the start (other threads may change a list while the lock is
// released); short ones are encoded to UTF-8 from their code units into
// blocks of the input, long ones read as CPython's UTF-8; Arrow arrays are moved out of
// their capsules and read in place, without making Python strings.
#include <cmath>
#include <cstring>
#include <string_view>

#include "collection/arrow_strings.hpp"
#include "native.hpp"
#include "text/utf8.hpp"

namespace vornkit::native {
namespace {

namespace col = vorn::collection;

bool is_null_marker(PyObject* item) {
    if (item == Py_None) return true;
    // Subclasses too: numpy.float64 is one.
    if (PyFloat_Check(item)) return std::isnan(PyFloat_AS_DOUBLE(item));
    // pandas.NA, without importing pandas.
    const char* type_name = Py_TYPE(item)->tp_name;
    return std::strcmp(type_name, "NAType") == 0 || std::strcmp(type_name, "pandas._libs.missing.NAType") == 0;
}

// A str whose UTF-8 is longer than this is read from CPython's own UTF-8
// (an ASCII one in place, another from the copy CPython keeps with it, made
// once however often the object repeats); shorter ones are copied, their
// units being in the cache lines its header was just read from, so that
// the texts a search passes over lie one after another.
constexpr std::size_t kLongestCopied = 128;

// The size of the UTF-8 of `count` code units; 0 with a lone surrogate,
// which UTF-8 cannot hold (a text that has one is never empty).
template <class Unit>
std::size_t utf8_size(const Unit* units, Py_ssize_t count) {
    std::size_t size = 0;
    for (Py_ssize_t i = 0; i < count; ++i) {
        const char32_t c = units[i];
        if constexpr (sizeof(Unit) > 1)
            if (c >= 0xD800 && c < 0xE000) return 0;
        size += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    return size;
}

// Writes at a cursor, for utf8::append.
struct ByteCursor {
    char* at;
    void push_back(char byte) noexcept { *at++ = byte; }
};

template <class Unit>
std::string_view copy_as_utf8(const Unit* units, Py_ssize_t count, std::size_t size, TextBlocks& blocks) {
    ByteCursor cursor{blocks.append(size)};
    char* const start = cursor.at;
    for (Py_ssize_t i = 0; i < count; ++i) vorn::utf8::append(cursor, static_cast<char32_t>(units[i]));
    return std::string_view(start, size);
}

// The UTF-8 of a str: a short one encoded from its code units (no UTF-8
// kept on the object). False with the encoder's error for a lone surrogate.
bool read_str(PyObject* item, TextBlocks& blocks, std::string_view& text) {
    const Py_ssize_t count = PyUnicode_GET_LENGTH(item);
    const void* data = PyUnicode_DATA(item);
    if (PyUnicode_IS_ASCII(item)) {
        const auto size = static_cast<std::size_t>(count);
        if (size > kLongestCopied) {
            text = std::string_view(static_cast<const char*>(data), size);
        } else {
            char* copy = blocks.append(size);
            if (size != 0) std::memcpy(copy, data, size);
            text = std::string_view(copy, size);
        }
        return true;
    }
    // UTF-8 takes at least a byte a character: a longer str is not counted.
    const bool short_enough = static_cast<std::size_t>(count) <= kLongestCopied;
    const auto copy_if_short = [&](const auto* units) {
        const std::size_t size = short_enough ? utf8_size(units, count) : 0;
        if (size == 0 || size > kLongestCopied) return false;
        text = copy_as_utf8(units, count, size, blocks);
        return true;
    };
    switch (PyUnicode_KIND(item)) {
        case PyUnicode_1BYTE_KIND:
            if (copy_if_short(static_cast<const Py_UCS1*>(data))) return true;
            break;
        case PyUnicode_2BYTE_KIND:
            if (copy_if_short(static_cast<const Py_UCS2*>(data))) return true;
            break;
        default:
            if (copy_if_short(static_cast<const Py_UCS4*>(data))) return true;
    }
    // Long texts, and lone surrogates (CPython's encoder raises the error).
    Py_ssize_t size;
    const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
    if (utf8 == nullptr) return false;
    text = std::string_view(utf8, static_cast<std::size_t>(size));
    return true;
}

bool read_items(PyObject* sequence, const char* name, StringInput& out) {
    // A list is copied into the tuple as it is read, one visit per element:
    // nothing below runs Python code before returning, so the list cannot
    // change meanwhile.
    const bool is_list = PyList_CheckExact(sequence);
    PyRef items(is_list ? PyTuple_New(PyList_GET_SIZE(sequence)) : PySequence_Tuple(sequence));
    if (!items) return false;
    const Py_ssize_t n = PyTuple_GET_SIZE(items.get());
    out.column.reserve(static_cast<std::size_t>(n));
    out.char_counts.resize(static_cast<std::size_t>(n));
    bool counts_fit = true;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item;
        if (is_list) {
            item = PyList_GET_ITEM(sequence, i);
            PyTuple_SET_ITEM(items.get(), i, Py_NewRef(item));
        } else {
            item = PyTuple_GET_ITEM(items.get(), i);
        }
        if (PyUnicode_Check(item)) {
            // A str's length counts its code points, as the core counts characters.
            const Py_ssize_t length = PyUnicode_GET_LENGTH(item);
            counts_fit = counts_fit && length < UINT32_MAX;
            out.char_counts[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(length);
            std::string_view text;
            if (!read_str(item, out.texts, text)) {
                PyObject* error = PyErr_GetRaisedException();
                PyObject* note = PyUnicode_FromFormat("while reading %s[%zd]", name, i);
                if (note != nullptr) {
                    PyObject* result = PyObject_CallMethod(error, "add_note", "O", note);
                    Py_XDECREF(result);
                    Py_DECREF(note);
                }
                PyErr_Clear();
                PyErr_SetRaisedException(error);
                return false;
            }
            out.column.push_back(text);
        } else if (is_null_marker(item)) {
            out.column.push_null();
        } else {
            PyErr_Format(PyExc_TypeError, "%s[%zd] must be str or None, not '%.200s'", name, i, Py_TYPE(item)->tp_name);
            return false;
        }
    }
    if (!counts_fit) std::vector<std::uint32_t>().swap(out.char_counts);
    out.items = std::move(items);
    return true;
}

template <class Struct>
Struct* capsule_pointer(PyObject* capsule, const char* capsule_name) {
    return static_cast<Struct*>(PyCapsule_GetPointer(capsule, capsule_name));
}

bool raise_arrow_error(const col::ArrowReadError& error, const char* name) {
    PyErr_Format(PyExc_TypeError, "%s: %s", name, error.message.c_str());
    return false;
}

// Moves an array out of its capsule (leaving the capsule nothing to
// release) and appends its strings.
bool append_array(col::ArrowStringLayout layout, ArrowArray& source, const char* name, StringInput& out) {
    auto owned = std::make_unique<OwnedArrowArray>();
    owned->array = source;
    source.release = nullptr;
    OwnedArrowArray& held = *owned;
    out.arrays.push_back(std::move(owned));
    auto appended = col::append_arrow_strings(layout, held.array, out.column);
    if (!appended) {
        if (appended.error().message.find("UTF-8") != std::string::npos) {
            PyErr_Format(PyExc_ValueError, "%s: %s", name, appended.error().message.c_str());
            return false;
        }
        return raise_arrow_error(appended.error(), name);
    }
    return true;
}

bool read_arrow_array(PyObject* object, const char* name, StringInput& out) {
    PyRef pair(PyObject_CallMethod(object, "__arrow_c_array__", nullptr));
    if (!pair) return false;
    if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
        PyErr_Format(PyExc_TypeError, "%s: __arrow_c_array__ must return a pair of capsules", name);
        return false;
    }
    auto* schema = capsule_pointer<ArrowSchema>(PyTuple_GET_ITEM(pair.get(), 0), "arrow_schema");
    if (schema == nullptr) return false;
    auto* array = capsule_pointer<ArrowArray>(PyTuple_GET_ITEM(pair.get(), 1), "arrow_array");
    if (array == nullptr) return false;
    auto layout = col::arrow_string_layout(*schema);
    if (!layout) return raise_arrow_error(layout.error(), name);
    return append_array(*layout, *array, name, out);
}

struct OwnedSchema {
    ArrowSchema schema{};
    ~OwnedSchema() {
        if (schema.release != nullptr) schema.release(&schema);
    }
};

struct OwnedStream {
    ArrowArrayStream stream{};
    ~OwnedStream() {
        if (stream.release != nullptr) stream.release(&stream);
    }
};

bool raise_stream_error(OwnedStream& owned, int code, const char* name) {
    const char* message = owned.stream.get_last_error(&owned.stream);
    PyErr_Format(PyExc_OSError, "%s: reading the Arrow stream failed (%s)", name,
                 message != nullptr ? message : std::strerror(code));
    return false;
}

bool read_arrow_stream(PyObject* object, const char* name, StringInput& out) {
    PyRef capsule(PyObject_CallMethod(object, "__arrow_c_stream__", nullptr));
    if (!capsule) return false;
    auto* source = capsule_pointer<ArrowArrayStream>(capsule.get(), "arrow_array_stream");
    if (source == nullptr) return false;
    OwnedStream owned;
    owned.stream = *source;
    source->release = nullptr;
    capsule = PyRef();
    if (owned.stream.release == nullptr) {
        PyErr_Format(PyExc_ValueError, "%s: the Arrow stream was already consumed", name);
        return false;
    }
    OwnedSchema schema;
    if (int code = owned.stream.get_schema(&owned.stream, &schema.schema); code != 0)
        return raise_stream_error(owned, code, name);
    auto layout = col::arrow_string_layout(schema.schema);
    if (!layout) return raise_arrow_error(layout.error(), name);
    for (;;) {
        ArrowArray chunk{};
        if (int code = owned.stream.get_next(&owned.stream, &chunk); code != 0)
            return raise_stream_error(owned, code, name);
        if (chunk.release == nullptr) return true;  // end of stream
        if (!append_array(*layout, chunk, name, out)) return false;
    }
}

// Errors other than a missing attribute stay set (callers check).
bool has_attribute(PyObject* object, const char* attribute) {
    PyRef value(PyObject_GetAttrString(object, attribute));
    if (value) return true;
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
    return false;
}

// pandas: arrow-backed values go through Arrow; others through a NumPy
// object array.
bool read_pandas(PyObject* series, const char* name, StringInput& out) {
    PyRef values(PyObject_GetAttrString(series, "array"));
    if (!values) return false;
    if (has_attribute(values.get(), "_pa_array")) {
        PyRef chunked(PyObject_CallMethod(values.get(), "__arrow_array__", nullptr));
        if (!chunked) return false;
        return read_strings(chunked.get(), name, out);
    }
    PyRef objects(PyObject_CallMethod(series, "to_numpy", "s", "object"));
    if (!objects) return false;
    return read_strings(objects.get(), name, out);
}

// NumPy: one-dimensional arrays of str, read through tolist().
bool read_numpy(PyObject* array, const char* name, StringInput& out) {
    PyRef ndim(PyObject_GetAttrString(array, "ndim"));
    if (!ndim) return false;
    if (PyLong_AsLong(ndim.get()) != 1) {
        if (PyErr_Occurred()) return false;
        PyErr_Format(PyExc_ValueError, "%s must be one-dimensional", name);
        return false;
    }
    PyRef dtype(PyObject_GetAttrString(array, "dtype"));
    if (!dtype) return false;
    PyRef kind(PyObject_GetAttrString(dtype.get(), "kind"));
    if (!kind) return false;
    const char* kind_text = PyUnicode_Check(kind.get()) ? PyUnicode_AsUTF8(kind.get()) : nullptr;
    if (kind_text == nullptr || std::strchr("OUT", kind_text[0]) == nullptr || kind_text[0] == '\0') {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s must hold strings, not an array of dtype %R", name, dtype.get());
        return false;
    }
    PyRef list(PyObject_CallMethod(array, "tolist", nullptr));
    if (!list) return false;
    return read_items(list.get(), name, out);
}

bool module_starts_with(PyObject* object, const char* prefix) {
    PyRef module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__module__"));
    if (!module) {
        PyErr_Clear();
        return false;
    }
    const char* text = PyUnicode_Check(module.get()) ? PyUnicode_AsUTF8(module.get()) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();
        return false;
    }
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

bool read_strings(PyObject* object, const char* name, StringInput& out) {
    if (PyList_Check(object) || PyTuple_Check(object)) return read_items(object, name, out);
    if (PyUnicode_Check(object) || PyBytes_Check(object) || PyDict_Check(object) || PyAnySet_Check(object)) {
        PyErr_Format(PyExc_TypeError, "%s must be a sequence or array of str, not '%.200s'", name,
                     Py_TYPE(object)->tp_name);
        return false;
    }
    if (has_attribute(object, "__arrow_c_stream__")) return read_arrow_stream(object, name, out);
    if (has_attribute(object, "__arrow_c_array__")) return read_arrow_array(object, name, out);
    if (PyErr_Occurred()) return false;
    if (module_starts_with(object, "pandas") && has_attribute(object, "array")) return read_pandas(object, name, out);
    if (module_starts_with(object, "numpy") && has_attribute(object, "tolist")) return read_numpy(object, name, out);
    if (PyErr_Occurred()) return false;
    if (!PySequence_Check(object) && !PyIter_Check(object)) {
        PyErr_Format(PyExc_TypeError, "%s must be a sequence or array of str, not '%.200s'", name,
                     Py_TYPE(object)->tp_name);
        return false;
    }
    return read_items(object, name, out);
}

char* TextBlocks::append(std::size_t size) {
    constexpr std::size_t kBlockSize = std::size_t{1} << 20;
    // A long text gets a block of its own; the open one stays open.
    if (size > kBlockSize / 16) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        return blocks_.back().get();
    }
    if (size > free_) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
        next_ = blocks_.back().get();
        free_ = kBlockSize;
    }
    char* room = next_;
    next_ += size;
    free_ -= size;
    return room;
}

// ---- the Strings type ----

namespace {

struct StringsObject {
    PyObject_HEAD StringInput* input;
};

PyTypeObject* strings_type_object = nullptr;  // created once, never released

PyObject* strings_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"texts", "name", nullptr};
    PyObject* texts;
    const char* name = "texts";
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|s:Strings", const_cast<char**>(keywords), &texts, &name))
        return nullptr;
    return guarded([&]() -> PyObject* {
        auto input = std::make_unique<StringInput>();
        if (!read_strings(texts, name, *input)) return nullptr;
        return new_strings_object(std::move(input));
    });
}

void strings_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<StringsObject*>(self)->input;
    type->tp_free(self);
    Py_DECREF(type);
}

Py_ssize_t strings_length(PyObject* self) {
    return static_cast<Py_ssize_t>(reinterpret_cast<StringsObject*>(self)->input->column.size());
}

// The element at i: the original object for list-like inputs, a new str
// (or None) for Arrow ones.
PyObject* strings_item(PyObject* self, Py_ssize_t i) {
    const StringInput& input = *reinterpret_cast<StringsObject*>(self)->input;
    if (i < 0 || static_cast<std::size_t>(i) >= input.column.size()) {
        PyErr_SetString(PyExc_IndexError, "Strings index out of range");
        return nullptr;
    }
    if (input.origin) return strings_item(input.origin.get(), i);
    if (input.items) return Py_NewRef(PyTuple_GET_ITEM(input.items.get(), i));
    if (input.column.is_null(static_cast<std::size_t>(i))) Py_RETURN_NONE;
    const std::string_view text = input.column[static_cast<std::size_t>(i)];
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

// The texts as a copied Arrow large_utf8 array: what __arrow_c_array__
// hands over, freed by the array's release callback.
struct ExportedTexts {
    std::vector<std::int64_t> offsets;
    std::vector<char> data;
    std::vector<std::uint8_t> validity;  // empty without nulls
    const void* buffers[3] = {nullptr, nullptr, nullptr};
};

void release_exported_array(ArrowArray* array) {
    delete static_cast<ExportedTexts*>(array->private_data);
    array->release = nullptr;
}

void release_exported_schema(ArrowSchema* schema) { schema->release = nullptr; }

void destroy_schema_capsule(PyObject* capsule) {
    auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, "arrow_schema"));
    if (schema->release != nullptr) schema->release(schema);
    delete schema;
}

void destroy_array_capsule(PyObject* capsule) {
    auto* array = static_cast<ArrowArray*>(PyCapsule_GetPointer(capsule, "arrow_array"));
    if (array->release != nullptr) array->release(array);
    delete array;
}

// __arrow_c_array__(requested_schema=None): the texts as they are held
// (processed ones for the result of apply_processor), nulls kept. The
// requested schema is a hint the interface lets a producer ignore.
PyObject* strings_arrow_c_array(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"requested_schema", nullptr};
    PyObject* requested = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:__arrow_c_array__", const_cast<char**>(keywords), &requested))
        return nullptr;
    return guarded([&]() -> PyObject* {
        const StringColumn& column = reinterpret_cast<StringsObject*>(self)->input->column;
        const std::size_t size = column.size();
        auto exported = std::make_unique<ExportedTexts>();
        exported->offsets.resize(size + 1);
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < size; ++i) {
            if (!column.is_null(i)) bytes += column[i].size();
        }
        exported->data.reserve(bytes);
        if (column.has_nulls()) exported->validity.assign((size + 7) / 8, 0);
        for (std::size_t i = 0; i < size; ++i) {
            exported->offsets[i] = static_cast<std::int64_t>(exported->data.size());
            if (column.is_null(i)) continue;
            const std::string_view text = column[i];
            exported->data.insert(exported->data.end(), text.begin(), text.end());
            if (!exported->validity.empty()) exported->validity[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
        }
        exported->offsets[size] = static_cast<std::int64_t>(exported->data.size());
        exported->buffers[0] = exported->validity.empty() ? nullptr : exported->validity.data();
        exported->buffers[1] = exported->offsets.data();
        exported->buffers[2] = exported->data.data();

        auto schema = std::make_unique<ArrowSchema>();
        *schema = ArrowSchema{};
        schema->format = "U";
        schema->name = "";
        schema->flags = ARROW_FLAG_NULLABLE;
        schema->release = release_exported_schema;
        auto array = std::make_unique<ArrowArray>();
        *array = ArrowArray{};
        array->length = static_cast<std::int64_t>(size);
        array->null_count = static_cast<std::int64_t>(column.null_count());
        array->n_buffers = 3;
        array->buffers = exported->buffers;
        array->release = release_exported_array;
        array->private_data = exported.release();
        // Each capsule owns its struct from here: a failure below releases what was made.
        PyRef schema_capsule(PyCapsule_New(schema.get(), "arrow_schema", destroy_schema_capsule));
        if (!schema_capsule) {
            release_exported_array(array.get());
            return nullptr;
        }
        schema.release();
        PyRef array_capsule(PyCapsule_New(array.get(), "arrow_array", destroy_array_capsule));
        if (!array_capsule) {
            release_exported_array(array.get());
            return nullptr;
        }
        array.release();
        return PyTuple_Pack(2, schema_capsule.get(), array_capsule.get());
    });
}

PyMethodDef strings_methods[] = {
    {"__arrow_c_array__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(strings_arrow_c_array)),
     METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_array__(requested_schema=None)\n--\n\nThe texts as an Arrow large_utf8 array (copied)."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* strings_null_count(PyObject* self, void*) {
    return PyLong_FromSize_t(reinterpret_cast<StringsObject*>(self)->input->column.null_count());
}

PyGetSetDef strings_getset[] = {
    {"null_count", strings_null_count, nullptr, "Number of nulls.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot strings_slots[] = {
    {Py_tp_doc, const_cast<char*>("Strings(texts, name='texts')\n--\n\n"
                                  "A collection of strings read once, for repeated use.")},
    {Py_tp_new, reinterpret_cast<void*>(strings_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(strings_dealloc)},
    {Py_sq_length, reinterpret_cast<void*>(strings_length)},
    {Py_sq_item, reinterpret_cast<void*>(strings_item)},
    {Py_tp_getset, strings_getset},
    {Py_tp_methods, strings_methods},
    {0, nullptr},
};

PyType_Spec strings_spec = {
    "vornkit._native.Strings", sizeof(StringsObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, strings_slots,
};

}  // namespace

PyTypeObject* strings_type() {
    if (strings_type_object == nullptr)
        strings_type_object = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&strings_spec));
    return strings_type_object;
}

PyObject* new_strings_object(std::unique_ptr<StringInput> input) {
    PyTypeObject* type = strings_type();
    if (type == nullptr) return nullptr;
    PyObject* object = type->tp_alloc(type, 0);
    if (object == nullptr) return nullptr;
    reinterpret_cast<StringsObject*>(object)->input = input.release();
    return object;
}

const StringInput* strings_input(PyObject* object) {
    PyTypeObject* type = strings_type();
    if (type == nullptr) return nullptr;
    if (!PyObject_TypeCheck(object, type)) {
        PyErr_Format(PyExc_TypeError, "expected vornkit._native.Strings, not '%.200s'", Py_TYPE(object)->tp_name);
        return nullptr;
    }
    return reinterpret_cast<StringsObject*>(object)->input;
}

}  // namespace vornkit::native
