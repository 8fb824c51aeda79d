// Reading Arrow string arrays (utf8, large_utf8, utf8_view) into a
// StringColumn without copying: the column's views point into the array's
// buffers, which the caller keeps alive (and releases) itself.
#pragma once

#include <string>

#include "collection/arrow_c_data.hpp"
#include "collection/string_column.hpp"
#include "error/vorn_error.hpp"

namespace vorn::collection {

// Why an Arrow array could not be read.
struct ArrowReadError {
    std::string message;
};

// The string layout a schema describes, or an error naming its format.
enum class ArrowStringLayout { utf8, large_utf8, utf8_view };
Expected<ArrowStringLayout, ArrowReadError> arrow_string_layout(const ArrowSchema& schema);

// Appends the array's values to `column` (nulls from its validity bitmap,
// honouring its offset). Every value is checked to be UTF-8, and offsets
// and views to stay inside their buffers as far as the array tells; the
// first bad value is reported with its index within the column.
Expected<bool, ArrowReadError> append_arrow_strings(ArrowStringLayout layout, const ArrowArray& array,
                                                    StringColumn& column);

}  // namespace vorn::collection
