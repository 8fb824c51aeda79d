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
#include <string>
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
        iterator(const unsigned char* at, const unsigned char* end) noexcept : next_(at), end_(end) { ++*this; }

        char32_t operator*() const noexcept { return value_; }
        // Decodes the character at next_ (utf8::decode on pointers).
        iterator& operator++() noexcept {
            at_ = next_;
            if (next_ == end_) return *this;
            const unsigned char lead = *next_++;
            if (lead < 0x80) {
                value_ = lead;
                return *this;
            }
            char32_t cp = lead < 0xE0 ? (lead & 0x1F) : lead < 0xF0 ? (lead & 0x0F) : (lead & 0x07);
            if (lead < 0xC0) cp = lead;
            while (next_ != end_ && utf8::is_continuation(*next_)) cp = (cp << 6) | (*next_++ & 0x3F);
            value_ = cp;
            return *this;
        }
        iterator operator++(int) noexcept {
            iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const iterator& x, const iterator& y) noexcept { return x.at_ == y.at_; }

    private:
        const unsigned char* at_ = nullptr;  // the current character
        const unsigned char* next_ = nullptr;
        const unsigned char* end_ = nullptr;
        char32_t value_ = 0;
    };

    explicit CodePoints(std::string_view text) noexcept : text_(text) {}

    iterator begin() const noexcept { return {bytes() + utf8::ceil_boundary(text_, 0), bytes() + text_.size()}; }
    iterator end() const noexcept { return {bytes() + text_.size(), bytes() + text_.size()}; }

private:
    const unsigned char* bytes() const noexcept { return reinterpret_cast<const unsigned char*>(text_.data()); }

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

// The characters of a text, for algorithms that index or slice them.
inline std::u32string decode_code_points(std::string_view text) {
    std::u32string points;
    points.reserve(utf8::count_chars(text));
    if (utf8::is_ascii(text)) points.assign(text.begin(), text.end());
    else
        for (char32_t c : CodePoints(text)) points.push_back(c);
    return points;
}

}  // namespace vorn::text
