#include "preprocess/preprocessor.hpp"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>

#include <algorithm>

#include "text/lowercase.hpp"
#include "text/utf8.hpp"
#include "text/whitespace.hpp"

namespace vorn::preprocess {
namespace {

const icu::Normalizer2* nfc_normalizer() {
    static const icu::Normalizer2* instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
        return U_SUCCESS(status) ? nfc : nullptr;
    }();
    return instance;
}

// ASCII is always in NFC; other text is normalised only when ICU's check
// says it is not normalised already.
void normalize_nfc(std::string& text) {
    if (utf8::is_ascii(text)) return;
    const icu::Normalizer2* nfc = nfc_normalizer();
    if (nfc == nullptr) return;
    icu::StringPiece piece(text.data(), static_cast<int32_t>(text.size()));
    UErrorCode status = U_ZERO_ERROR;
    if (nfc->isNormalizedUTF8(piece, status) && U_SUCCESS(status)) return;
    std::string normalized;
    normalized.reserve(text.size() + text.size() / 4);
    icu::StringByteSink<std::string> sink(&normalized);
    status = U_ZERO_ERROR;
    nfc->normalizeUTF8(0, piece, sink, nullptr, status);
    if (U_SUCCESS(status)) text = std::move(normalized);
}

// Every whitespace run becomes one U+0020.
std::string collapse_whitespace(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool previous_was_space = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t space = text::whitespace_length_at(text, pos);
        if (space != 0) {
            if (!previous_was_space) out.push_back(' ');
            previous_was_space = true;
            pos += space;
            continue;
        }
        std::size_t next = std::min(text.size(), pos + utf8::sequence_length(static_cast<unsigned char>(text[pos])));
        out.append(text.substr(pos, next - pos));
        previous_was_space = false;
        pos = next;
    }
    return out;
}

std::string_view trim_whitespace(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t space = text::whitespace_length_at(text, begin);
        if (space == 0) break;
        begin += space;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = utf8::floor_boundary(text, end - 1);
        if (text::whitespace_length_at(text, start) == 0) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

// The default list grouped by length, so that a word is compared only with
// entries of its own length. Membership does not depend on scan order.
class DefaultStopwords {
public:
    DefaultStopwords() {
        for (std::string_view word : DEFAULT_STOPWORDS) by_length_[word.size()].push_back(word);
    }
    bool contains(std::string_view word) const noexcept {
        if (word.size() >= by_length_.size()) return false;
        const auto& candidates = by_length_[word.size()];
        return std::find(candidates.begin(), candidates.end(), word) != candidates.end();
    }

private:
    std::array<std::vector<std::string_view>, 16> by_length_;
};

const DefaultStopwords& default_stopwords() {
    static const DefaultStopwords table;
    return table;
}

bool is_custom_stopword(const std::vector<std::string>& list, std::string_view word) noexcept {
    return std::any_of(list.begin(), list.end(), [&](const std::string& entry) { return entry == word; });
}

// The words of `text` joined by single spaces, leaving out those `drop`
// accepts. Equivalent to collapsing, trimming and filtering in turn.
template <class Drop>
std::string join_words(std::string_view text, Drop&& drop) {
    std::string out;
    out.reserve(text.size());
    text::for_each_word(text, [&](std::string_view word) {
        if (drop(word)) return;
        if (!out.empty()) out.push_back(' ');
        out.append(word);
    });
    return out;
}

}  // namespace

std::string process(const Preprocessor& config, std::string_view input) {
    std::string text(input);
    if (config.normalize_unicode) normalize_nfc(text);
    if (config.lowercase && !text::is_lowercase_ascii(text)) text = text::to_lowercase(text);

    // Stopword removal splits on whitespace itself, so collapsing and
    // trimming before it would not change its result.
    if (config.remove_stopwords) {
        if (config.stopwords.empty()) {
            const DefaultStopwords& table = default_stopwords();
            text = join_words(text, [&](std::string_view word) { return table.contains(word); });
        } else {
            text = join_words(text, [&](std::string_view word) { return is_custom_stopword(config.stopwords, word); });
        }
    } else if (config.collapse_whitespace && config.trim) {
        text = join_words(text, [](std::string_view) { return false; });
    } else if (config.collapse_whitespace) {
        text = collapse_whitespace(text);
    } else if (config.trim) {
        std::string_view kept = trim_whitespace(text);
        if (kept.size() != text.size()) text = std::string(kept);
    }

    if (config.max_length != 0 && text.size() > config.max_length) {
        text.resize(utf8::floor_boundary(text, static_cast<std::size_t>(config.max_length)));
    }
    return text;
}

}  // namespace vorn::preprocess
