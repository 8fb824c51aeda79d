// The text normalisation pipeline: NFC, lowercasing, whitespace
// collapsing, trimming, stopword removal and a byte-length limit.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error/vorn_error.hpp"
#include "support/flat_hash_table.hpp"
#include "text/icu_chunks.hpp"

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

// A stopword list as a hash set, so that a word costs one lookup whatever
// the list's length. Holds its own copy of the words; build it once per
// list and share it.
class StopwordSet {
public:
    explicit StopwordSet(std::span<const std::string> words);
    explicit StopwordSet(std::span<const std::string_view> words);
    StopwordSet(const StopwordSet&) = delete;
    StopwordSet& operator=(const StopwordSet&) = delete;

    bool contains(std::string_view word) const noexcept { return set_.contains(support::HashedBytes(word)); }

private:
    template <class Word>
    void insert_all(std::span<const Word> words);

    std::string bytes_;
    support::FlatHashSet<support::HashedBytes, support::HashedBytesHash> set_;
};

// DEFAULT_STOPWORDS as a set, built on first use.
const StopwordSet& default_stopword_set();

// Runs the enabled steps in order: NFC, lowercase, collapse whitespace,
// trim, remove stopwords, cut to max_length bytes. A cut that would fall
// inside a character goes back to the previous character boundary.
// `custom`, when given, is the set of config.stopwords (built once by a
// caller that runs many texts); otherwise process builds it when needed.
// Fails only when ICU reports a failure of NFC or lowercasing.
[[nodiscard]] Expected<std::string, text::UnicodeFailure> process(const Preprocessor& config, std::string_view text,
                                                                  const StopwordSet* custom = nullptr,
                                                                  text::ChunkLimits limits = text::kIcuChunks);

}  // namespace vorn::preprocess
