// The preprocessing pipeline against a step-by-step reference (ICU's
// UnicodeString normaliser and lowercasing, whitespace and words over code
// points), for every combination of flags, custom stopword lists carved
// from the input and byte-length limits; plus idempotence of the default
// configuration. Every UTF-8 validation kernel against the reference, on
// the raw input, on the text with a few bytes changed and on the output.
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.hpp"
#include "preprocess/preprocessor.hpp"
#include "simd/isa.hpp"
#include "text/utf8_validation.hpp"

namespace {

using vorn::fuzz::is_white_space;
using vorn::preprocess::Preprocessor;

constexpr std::size_t kMaxChars = 500;

const icu::Normalizer2& nfc() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
    FUZZ_CHECK(U_SUCCESS(status) && n != nullptr);
    return *n;
}

bool is_nfc(const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    const bool normalized = nfc().isNormalized(icu::UnicodeString::fromUTF8(text), status);
    FUZZ_CHECK(U_SUCCESS(status));
    return normalized;
}

std::vector<std::u32string> words_of(const std::u32string& cps) {
    return vorn::fuzz::split(cps, vorn::fuzz::is_white_space);
}

bool is_stopword(const Preprocessor& config, const std::string& word) {
    if (config.stopwords.empty()) {
        for (std::string_view entry : vorn::preprocess::DEFAULT_STOPWORDS) {
            if (entry == word) return true;
        }
        return false;
    }
    for (const std::string& entry : config.stopwords) {
        if (entry == word) return true;
    }
    return false;
}

std::string reference_process(const Preprocessor& config, const std::string& input) {
    std::string text = input;
    if (config.normalize_unicode) {
        UErrorCode status = U_ZERO_ERROR;
        const icu::UnicodeString normalized = nfc().normalize(icu::UnicodeString::fromUTF8(text), status);
        FUZZ_CHECK(U_SUCCESS(status));
        text.clear();
        normalized.toUTF8String(text);
    }
    if (config.lowercase) {
        icu::UnicodeString s = icu::UnicodeString::fromUTF8(text);
        s.toLower(icu::Locale::getRoot());
        text.clear();
        s.toUTF8String(text);
    }
    std::u32string cps = vorn::fuzz::code_points(text);
    if (config.collapse_whitespace) {
        std::u32string out;
        bool previous = false;
        for (char32_t cp : cps) {
            const bool space = is_white_space(cp);
            if (!space) out.push_back(cp);
            else if (!previous) out.push_back(U' ');
            previous = space;
        }
        cps = out;
    }
    if (config.trim) {
        std::size_t begin = 0, end = cps.size();
        while (begin < end && is_white_space(cps[begin])) ++begin;
        while (end > begin && is_white_space(cps[end - 1])) --end;
        cps = cps.substr(begin, end - begin);
    }
    text = vorn::fuzz::encode(cps);
    if (config.remove_stopwords) {
        std::string out;
        for (const std::u32string& word : words_of(cps)) {
            const std::string bytes = vorn::fuzz::encode(word);
            if (is_stopword(config, bytes)) continue;
            if (!out.empty()) out.push_back(' ');
            out += bytes;
        }
        text = out;
    }
    // A cut inside a character goes back to the start of that character.
    if (config.max_length != 0 && text.size() > config.max_length) {
        std::size_t cut = static_cast<std::size_t>(config.max_length);
        while (cut > 0 && vorn::utf8::is_continuation(static_cast<unsigned char>(text[cut]))) --cut;
        text.resize(cut);
    }
    return text;
}

Preprocessor carve_config(vorn::fuzz::FuzzInput& input, const std::u32string& text) {
    Preprocessor config;
    const std::uint8_t flags = input.byte();
    config.normalize_unicode = !(flags & 1);
    config.collapse_whitespace = !(flags & 2);
    config.trim = !(flags & 4);
    config.lowercase = !(flags & 8);
    config.remove_stopwords = flags & 16;
    const std::uint8_t limit = input.byte();
    config.max_length = limit < 128 ? 0 : limit < 250 ? limit - 127 : input.u16();
    // Custom entries: words of the text itself (so that they match), carved
    // texts, or the empty and whitespace-holding entries that never match.
    const int entries = input.byte() % 6;
    const auto words = words_of(text);
    for (int i = 0; i < entries; ++i) {
        const std::uint8_t kind = input.byte();
        if (kind < 128 && !words.empty()) {
            config.stopwords.push_back(vorn::fuzz::encode(words[input.byte() % words.size()]));
        } else if (kind < 240) {
            config.stopwords.push_back(input.text(8));
        } else {
            config.stopwords.push_back(kind & 1 ? "" : "a b");
        }
    }
    return config;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorn::fuzz::FuzzInput input(data, size);
    const std::u32string cps = input.text_points(kMaxChars);
    const std::string text = vorn::fuzz::encode(cps);
    const Preprocessor config = carve_config(input, cps);

    const auto processed = vorn::preprocess::process(config, text);
    FUZZ_CHECK(processed.has_value());
    const std::string& out = *processed;
    // The raw input, and the text behind a few bytes of ASCII with a few of
    // its bytes changed to ones at the edges of UTF-8's ranges: one fault or
    // none, at any offset from the vector kernels' blocks.
    static constexpr unsigned char kEdgeBytes[] = {0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                                                   0xDF, 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5, 0xFF};
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    std::string edited(input.byte() % 64, 'a');
    edited += text;
    for (int edits = input.byte() % 3; edits > 0 && !text.empty(); --edits) {
        const std::size_t at = edited.size() - text.size() + input.u16() % text.size();
        edited[at] = static_cast<char>(kEdgeBytes[input.byte() % sizeof kEdgeBytes]);
    }
    if (input.flag()) edited.resize(edited.size() - edited.size() / 4);
    for (const std::string_view bytes : {raw, std::string_view(edited), std::string_view(out)}) {
        const bool valid = vorn::fuzz::is_valid_utf8(bytes);
        for (const vorn::simd::Level level : vorn::simd::supported_levels())
            FUZZ_CHECK(vorn::utf8::is_valid_utf8(level, bytes) == valid);
    }
    FUZZ_CHECK(vorn::fuzz::is_valid_utf8(out));
    FUZZ_CHECK(out == reference_process(config, text));

    // Chunks of a few bytes on the way to ICU: the same result, or a
    // failure when a chunk limit leaves no safe cut.
    const std::size_t target = 1 + input.byte() % 16;
    const vorn::text::ChunkLimits limits{target, target + input.byte() % 32};
    const vorn::preprocess::StopwordSet custom(std::span<const std::string>(config.stopwords));
    const auto chunked = vorn::preprocess::process(config, text, config.stopwords.empty() ? nullptr : &custom, limits);
    if (chunked) FUZZ_CHECK(*chunked == out);
    else FUZZ_CHECK(chunked.error().reason == vorn::text::kNoSafeCut && limits.max < text.size());
    if (config.max_length != 0) FUZZ_CHECK(out.size() <= config.max_length);

    Preprocessor unlimited = config;
    unlimited.max_length = 0;
    const std::string full = vorn::preprocess::process(unlimited, text).value();
    FUZZ_CHECK(full.compare(0, out.size(), out) == 0);
    if (config.max_length == 0 || full.size() <= config.max_length) FUZZ_CHECK(out == full);
    else FUZZ_CHECK(out.size() + 3 >= config.max_length);  // at most a partial character dropped

    // Default configuration: once its output is in NFC (lowercasing can
    // leave text that is not), running it again changes nothing.
    const Preprocessor defaults;
    const std::string once = vorn::preprocess::process(defaults, text).value();
    if (is_nfc(once)) FUZZ_CHECK(vorn::preprocess::process(defaults, once).value() == once);
    return 0;
}
