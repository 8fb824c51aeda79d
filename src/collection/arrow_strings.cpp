// Arrow string layouts: offsets (int32 or int64) into one data buffer, or
// 16-byte views holding short strings inline and longer ones as (buffer,
// offset) into variadic data buffers.
#include "collection/arrow_strings.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "text/utf8.hpp"
#include "text/utf8_validation.hpp"

namespace vorn::collection {

Expected<ArrowStringLayout, ArrowReadError> arrow_string_layout(const ArrowSchema& schema) {
    const std::string_view format = schema.format == nullptr ? "" : schema.format;
    if (schema.dictionary == nullptr) {
        if (format == "u") return ArrowStringLayout::utf8;
        if (format == "U") return ArrowStringLayout::large_utf8;
        if (format == "vu") return ArrowStringLayout::utf8_view;
    }
    std::string message = "expected an Arrow array of strings (utf8, large_utf8 or string_view), got format '";
    message += format;
    message += schema.dictionary != nullptr ? "' with a dictionary" : "'";
    return ArrowReadError{std::move(message)};
}

namespace {

ArrowReadError bad_value(std::size_t index, const char* what) {
    return ArrowReadError{"Arrow string at position " + std::to_string(index) + " " + what};
}

bool is_set(const void* bitmap, std::int64_t bit) noexcept {
    return (static_cast<const std::uint8_t*>(bitmap)[bit / 8] >> (bit % 8) & 1) != 0;
}

// Appends every slot of the array: a null where the validity bitmap says
// so, otherwise the value read(slot, index) gives, checked to be UTF-8.
template <class ReadValue>
Expected<bool, ArrowReadError> append_values(const ArrowArray& array, StringColumn& column, ReadValue&& read) {
    const void* validity = array.null_count == 0 ? nullptr : array.buffers[0];
    for (std::int64_t k = 0; k < array.length; ++k) {
        const std::size_t index = column.size();
        const std::int64_t slot = array.offset + k;
        if (validity != nullptr && !is_set(validity, slot)) {
            column.push_null();
            continue;
        }
        Expected<std::string_view, ArrowReadError> value = read(slot, index);
        if (!value) return std::move(value).error();
        if (!utf8::is_valid_utf8(*value)) return bad_value(index, "is not valid UTF-8");
        column.push_back(*value);
    }
    return true;
}

// The strings of an offsets array lie back to back in its data buffer:
// each is valid UTF-8 when the whole stretch is and none starts or ends
// inside a character, which one pass over the stretch and one over the
// offsets (writing the values as it goes) tell. False (nothing appended)
// when that does not hold; the caller then reads string by string and
// reports the first bad one.
template <class Offset>
bool append_stretch(const ArrowArray& array, const Offset* offsets, const char* data, StringColumn& column) {
    const void* validity = array.null_count == 0 ? nullptr : array.buffers[0];
    const std::int64_t first = array.offset, last = array.offset + array.length;
    const Offset stretch_begin = offsets[first], stretch_end = offsets[last];
    if (stretch_begin < 0 || stretch_end < stretch_begin || (stretch_end > stretch_begin && data == nullptr))
        return false;
    if (!utf8::is_valid_utf8(std::string_view(stretch_end > stretch_begin ? data + stretch_begin : "",
                                              static_cast<std::size_t>(stretch_end - stretch_begin))))
        return false;
    const auto starts_inside = [&](Offset at) {
        return at < stretch_end && utf8::is_continuation(static_cast<unsigned char>(data[at]));
    };
    const std::size_t column_size = column.size();
    for (std::int64_t slot = first; slot < last; ++slot) {
        // Checked in order from the stretch's start: every offset read lies inside it.
        const Offset begin = offsets[slot], end = offsets[slot + 1];
        if (end < begin || end > stretch_end) {
            column.truncate(column_size);
            return false;
        }
        if (validity != nullptr && !is_set(validity, slot)) {
            column.push_back(std::string_view());  // marked null below
            continue;
        }
        // Without nulls, an end is where the next value starts, or the stretch ends.
        if (begin != end && (starts_inside(begin) || (validity != nullptr && starts_inside(end)))) {
            column.truncate(column_size);
            return false;
        }
        column.push_back(std::string_view(end > begin ? data + begin : "", static_cast<std::size_t>(end - begin)));
    }
    if (validity != nullptr)
        for (std::int64_t slot = first; slot < last; ++slot)
            if (!is_set(validity, slot)) column.set_null(column_size + static_cast<std::size_t>(slot - first));
    return true;
}

template <class Offset>
Expected<bool, ArrowReadError> append_offsets(const ArrowArray& array, StringColumn& column) {
    if (array.n_buffers != 3) return ArrowReadError{"malformed Arrow string array: expected 3 buffers"};
    const auto* offsets = static_cast<const Offset*>(array.buffers[1]);
    const char* data = static_cast<const char*>(array.buffers[2]);
    if (array.length > 0 && offsets == nullptr) return ArrowReadError{"malformed Arrow string array: no offsets"};
    if (array.length > 0 && append_stretch(array, offsets, data, column)) return true;
    return append_values(
        array, column, [&](std::int64_t slot, std::size_t index) -> Expected<std::string_view, ArrowReadError> {
            const Offset begin = offsets[slot], end = offsets[slot + 1];
            if (begin < 0 || end < begin) return bad_value(index, "has invalid offsets");
            if (end > begin && data == nullptr) return bad_value(index, "has no data buffer");
            return std::string_view(end > begin ? data + begin : "", static_cast<std::size_t>(end - begin));
        });
}

Expected<bool, ArrowReadError> append_views(const ArrowArray& array, StringColumn& column) {
    // validity, views, the variadic data buffers, their sizes (int64 each)
    if (array.n_buffers < 3) return ArrowReadError{"malformed Arrow string_view array: too few buffers"};
    const std::int64_t n_data = array.n_buffers - 3;
    const auto* views = static_cast<const std::uint8_t*>(array.buffers[1]);
    const auto* sizes = static_cast<const std::int64_t*>(array.buffers[array.n_buffers - 1]);
    if (array.length > 0 && views == nullptr) return ArrowReadError{"malformed Arrow string_view array: no views"};
    return append_values(
        array, column, [&](std::int64_t slot, std::size_t index) -> Expected<std::string_view, ArrowReadError> {
            const std::uint8_t* view = views + 16 * slot;
            std::int32_t length;
            std::memcpy(&length, view, 4);
            if (length < 0) return bad_value(index, "has a negative length");
            if (length <= 12)
                return std::string_view(reinterpret_cast<const char*>(view + 4), static_cast<std::size_t>(length));
            std::int32_t buffer, offset;
            std::memcpy(&buffer, view + 8, 4);
            std::memcpy(&offset, view + 12, 4);
            if (buffer < 0 || buffer >= n_data || offset < 0 || array.buffers[2 + buffer] == nullptr ||
                (sizes != nullptr && std::int64_t{offset} + length > sizes[buffer]))
                return bad_value(index, "points outside its data buffers");
            return std::string_view(static_cast<const char*>(array.buffers[2 + buffer]) + offset,
                                    static_cast<std::size_t>(length));
        });
}

}  // namespace

Expected<bool, ArrowReadError> append_arrow_strings(ArrowStringLayout layout, const ArrowArray& array,
                                                    StringColumn& column) {
    if (array.length < 0 || array.offset < 0) return ArrowReadError{"malformed Arrow array: negative length"};
    if (array.length > 0 && array.buffers == nullptr) return ArrowReadError{"malformed Arrow array: no buffers"};
    // Room for this array, growing geometrically over a stream's chunks.
    column.reserve(std::max(column.size() + static_cast<std::size_t>(array.length), column.size() / 2 * 3));
    switch (layout) {
        case ArrowStringLayout::utf8: return append_offsets<std::int32_t>(array, column);
        case ArrowStringLayout::large_utf8: return append_offsets<std::int64_t>(array, column);
        case ArrowStringLayout::utf8_view: return append_views(array, column);
    }
    return true;
}

}  // namespace vorn::collection
