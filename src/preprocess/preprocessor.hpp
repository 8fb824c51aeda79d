// The text normalisation pipeline: NFC, lowercasing, whitespace
// collapsing, trimming, stopword removal and a byte-length limit.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::preprocess {

// A pipeline configuration. The defaults are the configuration shared by
// Preprocessor(), clean_text and the router.
struct Preprocessor {
    std::vector<std::string> stopwords;  // custom list; empty means DEFAULT_STOPWORDS
    std::uint64_t max_length = 0;        // bytes; 0 means no limit
    bool normalize_unicode = true;
    bool collapse_whitespace = true;
    bool trim = true;
    bool lowercase = true;
    bool remove_stopwords = false;
};

// Built-in English stopwords, lower-case ASCII.
extern const std::array<std::string_view, 183> DEFAULT_STOPWORDS;

// Runs the enabled steps in order: NFC, lowercase, collapse whitespace,
// trim, remove stopwords, cut to max_length bytes. A cut that would fall
// inside a character goes back to the previous character boundary.
std::string process(const Preprocessor& config, std::string_view text);

}  // namespace vorn::preprocess
