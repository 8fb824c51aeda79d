#include "preprocess/preprocessor.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "text/lowercase.hpp"
#include "text/normalize.hpp"
#include "text/utf8.hpp"
#include "text/whitespace.hpp"

namespace vorn::preprocess {
namespace {

// The whitespace steps rewrite the text in place: their output is never
// longer than what they have read, so writing never overtakes reading.

// Every whitespace run becomes one U+0020.
void collapse_whitespace(std::string& text) {
    std::size_t read = 0, write = 0;
    bool previous_was_space = false;
    while (read < text.size()) {
        const std::size_t space = text::whitespace_length_at(text, read);
        if (space != 0) {
            if (!previous_was_space) text[write++] = ' ';
            previous_was_space = true;
            read += space;
            continue;
        }
        const std::size_t next =
            std::min(text.size(), read + utf8::sequence_length(static_cast<unsigned char>(text[read])));
        while (read < next) text[write++] = text[read++];
        previous_was_space = false;
    }
    text.resize(write);
}

void trim_whitespace(std::string& text) {
    std::string_view view = text;
    std::size_t begin = 0;
    while (begin < view.size()) {
        const std::size_t space = text::whitespace_length_at(view, begin);
        if (space == 0) break;
        begin += space;
    }
    std::size_t end = view.size();
    while (end > begin) {
        const std::size_t start = utf8::floor_boundary(view, end - 1);
        if (text::whitespace_length_at(view, start) == 0) break;
        end = start;
    }
    text.resize(end);
    text.erase(0, begin);
}

// Keeps the words of `text` that `drop` rejects, joined by single spaces.
// Equivalent to collapsing, trimming and filtering in turn.
template <class Drop>
void join_words(std::string& text, Drop&& drop) {
    char* const data = text.data();
    std::size_t write = 0;
    text::for_each_word(text, [&](std::string_view word) {
        if (drop(word)) return;
        if (write != 0) data[write++] = ' ';
        std::memmove(data + write, word.data(), word.size());
        write += word.size();
    });
    text.resize(write);
}

}  // namespace

template <class Word>
void StopwordSet::insert_all(std::span<const Word> words) {
    std::size_t total = 0;
    for (const Word& word : words) total += word.size();
    bytes_.reserve(total);  // the set's keys point into bytes_, which must not move
    set_.reserve(words.size());
    // Inserted in the order of their slots (support::slot_index keeps the
    // order of hash * kGoldenRatio64 for any table size), so that filling a
    // large table walks its memory once instead of jumping at random.
    std::vector<std::pair<std::uint64_t, support::HashedBytes>> keys;
    keys.reserve(words.size());
    for (const Word& word : words) {
        // An empty entry never equals a word.
        if (word.empty()) continue;
        const std::size_t offset = bytes_.size();
        bytes_.append(word);
        const support::HashedBytes key(std::string_view(bytes_).substr(offset));
        keys.emplace_back(key.hash() * support::kGoldenRatio64, key);
    }
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [order, key] : keys) set_.insert_hashed(key, key.hash());
}

StopwordSet::StopwordSet(std::span<const std::string> words) { insert_all(words); }
StopwordSet::StopwordSet(std::span<const std::string_view> words) { insert_all(words); }

const StopwordSet& default_stopword_set() {
    static const StopwordSet set{std::span<const std::string_view>(DEFAULT_STOPWORDS)};
    return set;
}

Expected<std::string, text::UnicodeFailure> process(const Preprocessor& config, std::string_view input,
                                                    const StopwordSet* custom, text::ChunkLimits limits) {
    // Each Unicode step reads the latest text and replaces `owned` with its
    // output, so at most two copies are alive at once.
    std::string owned;
    std::string_view text = input;
    if (config.normalize_unicode) {
        std::string normalized;
        auto changed = text::normalize_nfc(text, normalized, limits);
        if (!changed) return std::move(changed).error();
        if (*changed) {
            owned = std::move(normalized);
            text = owned;
        }
    }
    if (config.lowercase && !text::is_lowercase_ascii(text)) {
        std::string lowered;
        auto appended = text::append_lowercase(text, lowered, limits);
        if (!appended) return std::move(appended).error();
        owned = std::move(lowered);
        text = owned;
    }
    if (text.data() != owned.data()) owned.assign(text);

    // Stopword removal splits on whitespace itself, so collapsing and
    // trimming before it would not change its result.
    if (config.remove_stopwords) {
        std::optional<StopwordSet> local;
        const StopwordSet* set = &default_stopword_set();
        if (!config.stopwords.empty()) {
            if (custom == nullptr) custom = &local.emplace(std::span<const std::string>(config.stopwords));
            set = custom;
        }
        join_words(owned, [set](std::string_view word) { return set->contains(word); });
    } else if (config.collapse_whitespace && config.trim) {
        join_words(owned, [](std::string_view) { return false; });
    } else if (config.collapse_whitespace) {
        collapse_whitespace(owned);
    } else if (config.trim) {
        trim_whitespace(owned);
    }

    if (config.max_length != 0 && owned.size() > config.max_length) {
        owned.resize(utf8::floor_boundary(owned, static_cast<std::size_t>(config.max_length)));
    }
    return owned;
}

}  // namespace vorn::preprocess
