// The chunked Unicode steps against the same steps over the whole text, on
// seeded random texts made of the characters whose context matters (the
// capital sigma, case-ignorable and cased characters, combining marks,
// Hangul jamo), with chunk limits of a few bytes. Run by ctest; prints each
// mismatch and exits non-zero.
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "preprocess/preprocessor.hpp"
#include "text/lowercase.hpp"
#include "text/normalize.hpp"

namespace {

using vorn::preprocess::Preprocessor;
using vorn::text::ChunkLimits;

int failures = 0;

void fail(const char* what, const std::string& text, ChunkLimits limits) {
    if (++failures > 20) return;
    std::printf("%s differs for \"%s\" at chunks of %zu..%zu bytes\n", what, text.c_str(), limits.target, limits.max);
}

// Capital and small sigma, Latin cased letters, case-ignorables (the
// apostrophe, a combining acute, U+0345 which is also cased), uncased
// characters (space, no-break space, digit), an expanding lowercase
// (U+0130), NFC compositions (e + U+0301, Hangul L V T) and a compatibility
// ligature that NFC keeps.
const std::vector<std::string_view> kAlphabet = {
    "\u03A3", "\u03C3", "A", "a",      "\u00C9", "'",      "\u0301", "\u0345", " ",      "\u00A0",
    "1",      "\u0130", "e", "\u1100", "\u1161", "\u11A8", "\uAC00", "\uFB01", "\u023A", ".",
};

std::string random_text(std::mt19937& rng, std::size_t chars) {
    std::string text;
    for (std::size_t i = 0; i < chars; ++i) text += kAlphabet[rng() % kAlphabet.size()];
    return text;
}

template <class Outcome>
bool same(const Outcome& chunked, const Outcome& whole) {
    return chunked.has_value() && whole.has_value() && *chunked == *whole;
}

void check(const std::string& text, ChunkLimits limits) {
    const bool cut_anywhere = limits.max >= text.size();  // then a chunk can always reach a safe cut

    std::string whole_lower, chunked_lower;
    const auto lower_ok = vorn::text::append_lowercase(text, whole_lower);
    const auto lower = vorn::text::append_lowercase(text, chunked_lower, limits);
    if (lower ? !(same(lower, lower_ok) && chunked_lower == whole_lower) : cut_anywhere)
        fail("lowercase", text, limits);

    std::string whole_nfc, chunked_nfc;
    const auto nfc_ok = vorn::text::normalize_nfc(text, whole_nfc);
    const auto nfc = vorn::text::normalize_nfc(text, chunked_nfc, limits);
    if (nfc ? !(same(nfc, nfc_ok) && chunked_nfc == whole_nfc) : cut_anywhere) fail("NFC", text, limits);

    Preprocessor config;
    config.remove_stopwords = true;
    config.stopwords = {"\u03C3", "a"};
    const auto processed = vorn::preprocess::process(config, text, nullptr, limits);
    if (processed ? !same(processed, vorn::preprocess::process(config, text)) : cut_anywhere)
        fail("process", text, limits);
}

}  // namespace

int main() {
    std::mt19937 rng(20261207);
    const ChunkLimits limits[] = {{1, 1}, {1, 4}, {2, 3}, {3, 8}, {4, 1000}, {7, 9}, {16, 16}};
    for (int round = 0; round < 4000; ++round) {
        const std::string text = random_text(rng, rng() % 24);
        for (ChunkLimits l : limits) check(text, l);
    }
    // A run with no safe cut fails rather than changing the result: two
    // capital sigmas are σς together, ςς apart.
    std::string out;
    const auto sigmas = vorn::text::append_lowercase("\u03A3\u03A3", out, {2, 2});
    if (sigmas || sigmas.error().reason != vorn::text::kNoSafeCut || sigmas.error().out_of_memory) {
        std::printf("a run of capital sigmas longer than the chunk limit was cut\n");
        ++failures;
    }
    std::printf("%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
