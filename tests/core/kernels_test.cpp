// The kernels of every family chosen by instruction-set level (MinHash
// permutations and window hashes, UTF-8 validation, tiles) against plain
// references, at the level named on the command line, which ctest also sets
// as VORN_ISA: the test first checks that the level is the active one, so
// the kernels run through the same choice as in production. Exits with
// kSkipped when the processor lacks the level.
//   kernels_test portable|avx2|avx512
#include <cstdint>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "algo/jaro_winkler.hpp"
#include "algo/lcs_seq.hpp"
#include "algo/levenshtein.hpp"
#include "algo/minhash_kernels.hpp"
#include "check.hpp"
#include "collection/tile_kernels.hpp"
#include "simd/isa.hpp"
#include "support/hash.hpp"
#include "text/utf8.hpp"
#include "text/utf8_validation.hpp"

namespace {

using vorn::testing::check;
using Rng = std::mt19937_64;

std::size_t below(Rng& rng, std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }

template <class Items>
const auto& pick(Rng& rng, const Items& items) {
    return items[below(rng, std::size(items))];
}

std::string encode(std::u32string_view chars) {
    std::string out;
    for (const char32_t c : chars) vorn::utf8::append(out, c);
    return out;
}

// ---- MinHash ---------------------------------------------------------------

namespace minhash = vorn::algo::minhash;
constexpr std::uint64_t kMersenne61 = (std::uint64_t{1} << 61) - 1;

std::vector<std::uint64_t> reference_minima(std::span<const std::uint64_t> hashes, std::vector<std::uint64_t> sig) {
    for (std::size_t i = 0; i < sig.size(); ++i)
        for (const std::uint64_t h : hashes) {
            const std::uint64_t value = (minhash::permutation_a(i) * h + minhash::permutation_b(i)) % kMersenne61;
            if (value < sig[i]) sig[i] = value;
        }
    return sig;
}

// A hash that permutation `lane` maps to `value` before the reduction.
std::uint64_t hash_giving(std::size_t lane, std::uint64_t value) {
    const std::uint64_t a = minhash::permutation_a(lane);
    std::uint64_t inverse = a;  // Newton's iteration for a^-1 mod 2^64 (a is odd)
    for (int i = 0; i < 6; ++i) inverse *= 2 - a * inverse;
    return inverse * (value - minhash::permutation_b(lane));
}

// Hashes at the wrap of the Mersenne reduction and below 2^52 (where the
// AVX2 kernel compares subnormal doubles), signatures untouched or already
// lowered, widths around the register groups.
void check_minhash_lower(vorn::simd::Level level) {
    for (const std::size_t width : {1, 3, 4, 5, 8, 9, 16, 31, 64, 127, 128, 129, 257}) {
        Rng rng(width);
        for (int trial = 0; trial < 6; ++trial) {
            const std::size_t lane = below(rng, width);
            std::vector<std::uint64_t> hashes = {0, UINT64_MAX};
            for (std::size_t i = below(rng, 40) + 1; i > 0; --i) hashes.push_back(rng());
            for (int i = 0; i < 3; ++i)
                hashes.push_back(hash_giving(lane, (below(rng, 8) << 61) + kMersenne61 - below(rng, 12)));
            for (int i = 0; i < 4; ++i) hashes.push_back(hash_giving(lane, rng() >> (12 + below(rng, 51))));
            std::shuffle(hashes.begin(), hashes.end(), rng);
            std::vector<std::uint64_t> sig(width, UINT64_MAX);
            if (trial % 2 == 0)
                for (std::uint64_t& s : sig) s = below(rng, 2) ? UINT64_MAX : rng() % kMersenne61;
            const std::vector<std::uint64_t> expected = reference_minima(hashes, sig);
            minhash::lower(level, hashes, sig);
            check(sig == expected, "minhash lower: width %zu, trial %d", width, trial);
        }
    }
}

void check_minhash_windows(vorn::simd::Level level) {
    Rng rng(3);
    for (unsigned width = 1; width <= 8; ++width)
        for (std::size_t count = 0; count <= 20; ++count) {
            std::vector<std::uint64_t> windows(count), expected(count);
            for (std::size_t i = 0; i < count; ++i) {
                windows[i] = width == 8 ? rng() : rng() & ((std::uint64_t{1} << (8 * width)) - 1);
                std::string bytes;
                for (unsigned j = 0; j < width; ++j) bytes.push_back(static_cast<char>(windows[i] >> (8 * j)));
                expected[i] = vorn::support::fnv1a(bytes);
            }
            minhash::hash_windows(level, windows, width);
            check(windows == expected, "minhash windows: width %u, count %zu", width, count);
        }
}

// ---- UTF-8 validation ------------------------------------------------------

// Decodes each sequence to its value and checks the value's range: a
// formulation apart from the kernels' byte-range tables.
bool reference_valid(std::string_view text) {
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length;
        char32_t value;
        if (lead < 0x80) length = 1, value = lead;
        else if ((lead & 0xE0) == 0xC0) length = 2, value = lead & 0x1F;
        else if ((lead & 0xF0) == 0xE0) length = 3, value = lead & 0x0F;
        else if ((lead & 0xF8) == 0xF0) length = 4, value = lead & 0x07;
        else return false;
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            value = value << 6 | (next & 0x3F);
        }
        if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

// Characters of every length at the ends of their ranges and around the
// surrogates; bytes at the edges of UTF-8's ranges.
const std::u32string kCharacters = U"a\x7f\x80\xe9\x7ff\x800\x4e2d\xd7ff\xe000\xffff\x10000\x1f600\x10ffff";
constexpr unsigned char kEdgeBytes[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                        0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0,
                                        0xF1, 0xF3, 0xF4, 0xF5, 0xF7, 0xF8, 0xFE, 0xFF};
// Stray continuations, sequences cut short, overlong forms, surrogates,
// values beyond U+10FFFF, one continuation too many.
const std::string_view kFaultySequences[] = {"\x80",
                                             "\xbf\x80",
                                             "\xc3",
                                             "\xe4\xb8",
                                             "\xf0\x9f\x98",
                                             "\xc0\x80",
                                             "\xc1\xbf",
                                             "\xe0\x9f\xbf",
                                             "\xf0\x8f\xbf\xbf",
                                             "\xed\xa0\x80",
                                             "\xed\xbf\xbf",
                                             "\xf4\x90\x80\x80",
                                             "\xf5\x80\x80\x80",
                                             "\xff",
                                             "\xe2\x82\xac\x80",
                                             "\xf0\x9f\x98\x80\x80"};  // a continuation too many

void check_utf8(vorn::simd::Level level, std::string_view data) {
    const bool expected = reference_valid(data);
    check(vorn::utf8::is_valid_utf8(level, data) == expected && vorn::utf8::is_valid_utf8(data) == expected,
          "utf8: %zu bytes, expected %d", data.size(), expected);
}

void check_utf8_random(vorn::simd::Level level) {
    Rng rng(1);
    for (std::size_t length = 0; length <= 200; ++length)
        for (int trial = 0; trial < 40; ++trial) {
            std::string data;
            while (data.size() < length) vorn::utf8::append(data, pick(rng, kCharacters));
            for (std::size_t edits = data.empty() ? 0 : below(rng, 3); edits > 0; --edits)
                data[below(rng, data.size())] = static_cast<char>(pick(rng, kEdgeBytes));
            data.resize(length);
            check_utf8(level, data);
        }
}

// Each well-formed or faulty sequence at every position around the 32- and
// 64-byte blocks, followed by more text (past a run of ASCII blocks) or not.
void check_utf8_block_positions(vorn::simd::Level level) {
    std::vector<std::string> sequences;
    for (const char32_t c : kCharacters.substr(2)) sequences.push_back(encode(std::u32string(1, c)));
    for (const std::string_view faulty : kFaultySequences) sequences.emplace_back(faulty);
    for (const std::u32string_view pattern : {U"abcdefgh",
                                              U"a\xe9\x4e2d"
                                              U"b\x1f600"
                                              U"cd"}) {
        std::u32string chars;
        for (int i = 0; i < 60; ++i) chars += pattern;
        std::string base = encode(chars);
        base.resize(vorn::utf8::floor_boundary(base, 400));
        for (const std::string& sequence : sequences)
            for (std::size_t at = 0; at < 270; ++at) {
                const std::string before = base.substr(0, vorn::utf8::floor_boundary(base, at));
                check_utf8(level, before + sequence + base.substr(before.size()));
                check_utf8(level, before + sequence);
            }
    }
}

// ---- Tiles -----------------------------------------------------------------

constexpr std::size_t kLengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129};
const std::u32string kAlphabets[] = {U"ab", U"abcdefghij KLM-'", U"ae\xe9\x4e2d\x1f600\x301 "};

std::u32string random_chars(Rng& rng, std::u32string_view alphabet, std::size_t length) {
    std::u32string chars;
    for (std::size_t i = 0; i < length; ++i) chars.push_back(pick(rng, alphabet));
    return chars;
}

// Insertions, deletions, substitutions and swaps.
std::u32string edited(Rng& rng, std::u32string_view alphabet, std::u32string chars, std::size_t edits) {
    for (; edits > 0; --edits) {
        const std::size_t pos = below(rng, chars.size() + 1), op = below(rng, 4);
        if (op == 0 || pos >= chars.size()) chars.insert(chars.begin() + pos, pick(rng, alphabet));
        else if (op == 1) chars.erase(pos, 1);
        else if (op == 2) chars[pos] = pick(rng, alphabet);
        else if (pos + 1 < chars.size()) std::swap(chars[pos], chars[pos + 1]);
    }
    return chars;
}

// Random texts of the border lengths, edits of a shared base, copies.
std::vector<std::string> tile_block(Rng& rng, std::u32string_view alphabet, std::size_t count,
                                    const std::u32string& base) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t kind = below(rng, 10);
        if (kind < 5) texts.push_back(encode(random_chars(rng, alphabet, pick(rng, kLengths))));
        else if (kind < 9) texts.push_back(encode(edited(rng, alphabet, base, below(rng, 4))));
        else texts.push_back(encode(base));
    }
    return texts;
}

std::uint64_t bounded(std::uint64_t distance, std::uint64_t max_distance) {
    return distance <= max_distance ? distance : max_distance + 1;
}

// The tiles against the pairwise functions, in one call or (blocks > 0)
// with the choices prepared once and the queries scored `blocks` at a time.
void check_tile_block(const std::vector<std::string>& query_texts, const std::vector<std::string>& choice_texts,
                      std::uint64_t max_distance, std::size_t blocks) {
    const std::vector<std::string_view> queries(query_texts.begin(), query_texts.end());
    const std::vector<std::string_view> choices(choice_texts.begin(), choice_texts.end());
    const std::size_t stride = choices.size();
    std::vector<std::uint64_t> distances(queries.size() * stride);
    std::vector<double> similarities(queries.size() * stride);
    if (blocks == 0) {
        vorn::collection::levenshtein_tile(queries, choices, distances.data(), stride, max_distance);
        vorn::collection::jaro_winkler_tile(queries, choices, similarities.data(), stride);
    } else {
        const vorn::collection::TileChoices prepared(choices);
        for (std::size_t first = 0; first < queries.size(); first += blocks) {
            const auto block = std::span(queries).subspan(first, std::min(blocks, queries.size() - first));
            vorn::collection::levenshtein_tile(block, prepared, &distances[first * stride], stride, max_distance);
            vorn::collection::jaro_winkler_tile(block, prepared, &similarities[first * stride], stride);
        }
    }
    for (std::size_t q = 0; q < queries.size(); ++q)
        for (std::size_t c = 0; c < choices.size(); ++c) {
            const std::uint64_t d = bounded(vorn::algo::levenshtein_distance(queries[q], choices[c]), max_distance);
            check(distances[q * stride + c] == d, "levenshtein tile: \"%s\" \"%s\" bound %llu: %llu, expected %llu",
                  query_texts[q].c_str(), choice_texts[c].c_str(), static_cast<unsigned long long>(max_distance),
                  static_cast<unsigned long long>(distances[q * stride + c]), static_cast<unsigned long long>(d));
            const double s = vorn::algo::jaro_winkler_similarity(queries[q], choices[c]);
            check(similarities[q * stride + c] == s, "jaro-winkler tile: \"%s\" \"%s\": %.17g, expected %.17g",
                  query_texts[q].c_str(), choice_texts[c].c_str(), similarities[q * stride + c], s);
        }
}

void check_tiles() {
    for (const std::u32string& alphabet : kAlphabets)
        for (std::size_t seed = 0; seed < 4; ++seed) {
            Rng rng(seed);
            const std::u32string base = random_chars(rng, alphabet, pick(rng, kLengths));
            const auto queries = tile_block(rng, alphabet, 9, base), choices = tile_block(rng, alphabet, 150, base);
            check_tile_block(queries, choices, UINT64_MAX, seed % 3);
        }
    for (const std::uint64_t max_distance : {0, 1, 2, 5, 17, 64}) {
        Rng rng(max_distance);
        const std::u32string base = random_chars(rng, kAlphabets[1], pick(rng, kLengths));
        check_tile_block(tile_block(rng, kAlphabets[1], 9, base), tile_block(rng, kAlphabets[1], 150, base),
                         max_distance, 0);
    }
    const std::vector<std::string> same = {
        "", "a", "\xc3\xa9", std::string(80, 'a'), std::string(64, 'x'), encode(std::u32string(65, U'\x4e2d'))};
    check_tile_block(same, same, UINT64_MAX, 0);
}

// The LCS tile against the core's LCS: texts around every lane width and
// the 64-character blocks, queries scored in blocks of 7 against choices
// prepared once. NUL is the lanes' padding character.
void check_lcs_tiles(vorn::simd::Level level) {
    constexpr std::size_t kLcsLengths[] = {0, 1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 128, 129};
    const std::u32string alphabets[] = {kAlphabets[0], kAlphabets[1], kAlphabets[2], std::u32string(U"\0a", 2)};
    for (std::uint64_t seed = 0; seed < 3; ++seed) {
        Rng rng(seed);
        std::vector<char32_t> chars;
        std::vector<std::size_t> start{0};
        for (std::size_t k = 0; k < 160; ++k) {
            const std::u32string text = random_chars(rng, pick(rng, alphabets), pick(rng, kLcsLengths));
            chars.insert(chars.end(), text.begin(), text.end());
            start.push_back(chars.size());
        }
        const vorn::collection::tile_detail::CodePointTexts texts{chars.data(), start.data(), start.size() - 1};
        const std::size_t n_queries = 40, stride = texts.size - n_queries;
        const auto choices = texts.slice(n_queries, texts.size);
        const vorn::collection::TileChoices prepared(level, choices);
        std::vector<std::uint64_t> lengths(n_queries * stride);
        for (std::size_t first = 0; first < n_queries; first += 7) {
            const std::size_t last = std::min(n_queries, first + 7);
            vorn::collection::lcs_seq_tile(texts.slice(first, last), prepared, &lengths[first * stride], stride);
        }
        for (std::size_t q = 0; q < n_queries; ++q)
            for (std::size_t c = 0; c < stride; ++c) {
                const std::size_t expected = vorn::algo::lcs_seq_similarity(texts[q], choices[c]);
                check(lengths[q * stride + c] == expected,
                      "lcs tile: query %zu (%zu chars), choice %zu (%zu): %llu, expected %zu", q, texts[q].size(), c,
                      choices[c].size(), static_cast<unsigned long long>(lengths[q * stride + c]), expected);
            }
    }
}

// The kernel of aligned pairs around its one-word border: every pair of
// border lengths, ASCII and not, unrelated or edited. NUL is the value a
// pattern is padded with; below U+0100 a character is a byte to the kernels.
void check_aligned_pairs() {
    constexpr std::size_t kPairLengths[] = {0, 1, 2, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100};
    const std::u32string alphabets[] = {kAlphabets[0], kAlphabets[1], kAlphabets[2], std::u32string(U"\0a", 2),
                                        U"a\x80\xbf\xc0\xff\xe9 "};
    for (const std::uint64_t max_distance :
         {UINT64_MAX, std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{3}, std::uint64_t{40}}) {
        for (std::uint64_t seed = max_distance % 5; seed < max_distance % 5 + 2; ++seed) {
            Rng rng(seed);
            std::vector<std::string> a_texts, b_texts;
            for (const std::size_t la : kPairLengths)
                for (const std::size_t lb : kPairLengths) {
                    const std::u32string x = random_chars(rng, pick(rng, alphabets), la);
                    const std::u32string& other = pick(rng, alphabets);
                    a_texts.push_back(encode(x));
                    b_texts.push_back(
                        encode(seed % 2 ? edited(rng, other, x, below(rng, 3) + 1) : random_chars(rng, other, lb)));
                }
            const std::vector<std::string_view> a(a_texts.begin(), a_texts.end()), b(b_texts.begin(), b_texts.end());
            std::vector<std::uint64_t> distances(a.size());
            vorn::collection::levenshtein_pairs(a, b, distances.data(), max_distance);
            for (std::size_t i = 0; i < a.size(); ++i) {
                const std::uint64_t d = vorn::algo::levenshtein_distance(a[i], b[i]);
                const std::uint64_t expected = max_distance == UINT64_MAX ? d : bounded(d, max_distance);
                check(distances[i] == expected, "aligned pair \"%s\" \"%s\" bound %llu: %llu, expected %llu",
                      a_texts[i].c_str(), b_texts[i].c_str(), static_cast<unsigned long long>(max_distance),
                      static_cast<unsigned long long>(distances[i]), static_cast<unsigned long long>(expected));
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    vorn::simd::Level level;
    if (argc != 2 || !vorn::simd::parse_level(argv[1], level)) {
        std::printf("usage: kernels_test portable|avx2|avx512\n");
        return 2;
    }
    if (!vorn::simd::level_supported(level)) {
        std::printf("this processor does not run %s\n", argv[1]);
        return vorn::testing::kSkipped;
    }
    check(vorn::simd::active_level() == level, "VORN_ISA=%s gave the active level %s", argv[1],
          vorn::simd::level_name(vorn::simd::active_level()).data());
    check_minhash_lower(level);
    check_minhash_windows(level);
    check_utf8_random(level);
    check_utf8_block_positions(level);
    check_tiles();
    check_lcs_tiles(level);
    check_aligned_pairs();
    return vorn::testing::exit_status();
}
