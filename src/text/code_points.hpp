// The one way the core walks the Unicode scalar values of a UTF-8 text: a
// forward view yielding char32_t, e.g. `for (char32_t c : CodePoints(text))`.
//
// Characters start at the bytes that are not continuation bytes, so a walk
// yields exactly utf8::count_chars(text) values on any bytes (stray
// continuation bytes before the first lead byte belong to no character)
// and never reads outside the text. AsciiCodePoints reads a text known to
// be pure ASCII byte by byte; its iterator is random access.
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

#include "text/utf8.hpp"

namespace vorn::text {

class CodePoints {
public:
    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = char32_t;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = char32_t;

        iterator() = default;
        iterator(std::string_view text, std::size_t pos) noexcept : text_(text), next_(pos) { ++*this; }

        char32_t operator*() const noexcept { return value_; }
        iterator& operator++() noexcept {
            pos_ = next_;
            if (next_ < text_.size()) value_ = utf8::decode(text_, next_);
            return *this;
        }
        iterator operator++(int) noexcept {
            iterator before = *this;
            ++*this;
            return before;
        }
        // Byte offset of the current character in the text.
        std::size_t offset() const noexcept { return pos_; }
        friend bool operator==(const iterator& x, const iterator& y) noexcept { return x.pos_ == y.pos_; }

    private:
        std::string_view text_;
        std::size_t pos_ = 0;
        std::size_t next_ = 0;
        char32_t value_ = 0;
    };

    explicit CodePoints(std::string_view text) noexcept : text_(text) {}

    iterator begin() const noexcept { return iterator(text_, utf8::ceil_boundary(text_, 0)); }
    iterator end() const noexcept { return iterator(text_, text_.size()); }

private:
    std::string_view text_;
};

class AsciiCodePoints {
public:
    // Bytes read as unsigned values, which are the characters.
    using iterator = const unsigned char*;

    explicit AsciiCodePoints(std::string_view text) noexcept : text_(text) {}

    iterator begin() const noexcept { return reinterpret_cast<iterator>(text_.data()); }
    iterator end() const noexcept { return begin() + text_.size(); }

private:
    std::string_view text_;
};

// Calls f with the view that fits the text: AsciiCodePoints for pure ASCII,
// CodePoints otherwise, so one generic body serves both.
template <class F>
decltype(auto) visit_code_points(std::string_view text, F&& f) {
    if (utf8::is_ascii(text)) return f(AsciiCodePoints(text));
    return f(CodePoints(text));
}

}  // namespace vorn::text
