// Character shingles, shared by MinHash and SimHash.
//
// A shingle is k consecutive Unicode scalar values of the text, handed out
// as a view of the text's own UTF-8 bytes: nothing is copied or stored, so
// a caller that only hashes each window needs no memory beyond the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "error/vorn_error.hpp"
#include "text/utf8.hpp"

namespace vorn::algo {

// Calls emit(shingle) for every window of k characters, in text order and
// keeping repeats; a text of fewer than k characters (the empty text
// included) is a single shingle, the whole text. Returns the number of
// shingles, or kZeroWindow, before emitting anything, when k is 0.
template <class Emit>
Expected<std::uint64_t, InvalidArgument> char_shingles(std::string_view text, std::uint64_t k, Emit&& emit) {
    if (k == 0) return kZeroWindow;
    const std::size_t size = text.size();

    if (utf8::is_ascii(text)) {
        if (size <= k) {  // also the case n == k: one window, the whole text
            emit(text);
            return std::uint64_t{1};
        }
        const std::size_t width = static_cast<std::size_t>(k);
        const std::size_t last = size - width;
        for (std::size_t start = 0; start <= last; ++start) emit(text.substr(start, width));
        return static_cast<std::uint64_t>(last + 1);
    }

    // Bytes of the first window; stops at the end for short texts.
    std::size_t end = 0;
    std::uint64_t chars = 0;
    while (end < size && chars < k) {
        end = utf8::next_char(text, end);
        ++chars;
    }
    if (chars < k) {
        emit(text);
        return std::uint64_t{1};
    }
    std::size_t start = 0;
    std::uint64_t count = 1;
    emit(text.substr(0, end));
    while (end < size) {
        start = utf8::next_char(text, start);
        end = utf8::next_char(text, end);
        emit(text.substr(start, end - start));
        ++count;
    }
    return count;
}

}  // namespace vorn::algo
