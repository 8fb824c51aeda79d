// Scores of a block of queries against a block of choices, written into a
// caller's strided matrix: out[q * row_stride + c] for query q, choice c.
//
// Every entry equals the pairwise core function on (queries[q], choices[c]).
// Choices of 1 to 64 characters are packed several to a SIMD register
// (lanes of 8, 16, 32 or 64 bits, the narrowest that holds each) and every
// query is streamed once over all lanes; the instruction set (AVX-512,
// AVX2, or portable 64-bit words) is the active level of simd/isa.hpp. Pairs with a
// longer choice (or, for Jaro-Winkler, a longer query) go through the
// core's cached scorers, one query's masks reused for all its pairs.
//
// Preparing the choices' masks costs about as much as streaming a few
// dozen queries over them: a driver that splits the queries (across threads
// or into blocks) prepares each block of choices once as TileChoices and
// scores every query block against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "collection/tile_texts.hpp"
#include "simd/isa.hpp"

namespace vorn::collection {

// A block of choices prepared for the tile kernels: decoded, and the ones
// that fit a lane packed into groups with their character masks. It keeps
// the views, not the texts: they must outlive it. Read-only once built, so
// any number of threads may score against it at once.
class TileChoices {
public:
    explicit TileChoices(std::span<const std::string_view> choices);
    TileChoices(simd::Level level, std::span<const std::string_view> choices);
    // Choices already decoded (for the kernels over code points; copied).
    TileChoices(simd::Level level, const tile_detail::CodePointTexts& choices);
    TileChoices(TileChoices&&) noexcept;
    TileChoices& operator=(TileChoices&&) noexcept;
    ~TileChoices();

    std::size_t size() const noexcept;

    struct Packed;

private:
    friend void levenshtein_tile(std::span<const std::string_view>, const TileChoices&, std::uint64_t*, std::size_t,
                                 std::uint64_t);
    friend void jaro_winkler_tile(std::span<const std::string_view>, const TileChoices&, double*, std::size_t);
    friend void lcs_seq_tile(const tile_detail::CodePointTexts&, const TileChoices&, std::uint64_t*, std::size_t);
    std::unique_ptr<Packed> packed_;
};

// Each query against each prepared choice, into out[q * row_stride + c].
void levenshtein_tile(std::span<const std::string_view> queries, const TileChoices& choices, std::uint64_t* out,
                      std::size_t row_stride, std::uint64_t max_distance);
void jaro_winkler_tile(std::span<const std::string_view> queries, const TileChoices& choices, double* out,
                       std::size_t row_stride);

// Length of a longest common subsequence of each decoded query and each
// choice prepared from decoded texts (the lanes stream queries of any
// length; choices beyond a lane go through the core's cached LCS).
void lcs_seq_tile(const tile_detail::CodePointTexts& queries, const TileChoices& choices, std::uint64_t* out,
                  std::size_t row_stride);

// The same, preparing the choices for this one call.
// Levenshtein distance of each pair; a distance above max_distance is
// reported as max_distance + 1 (saturating), and bounds the work.
void levenshtein_tile(std::span<const std::string_view> queries, std::span<const std::string_view> choices,
                      std::uint64_t* out, std::size_t row_stride, std::uint64_t max_distance);

// Jaro-Winkler similarity of each pair.
void jaro_winkler_tile(std::span<const std::string_view> queries, std::span<const std::string_view> choices,
                       double* out, std::size_t row_stride);

// The same on a given level (fuzzing compares every level the processor
// runs); one above the processor's is clamped to it.
void levenshtein_tile(simd::Level level, std::span<const std::string_view> queries,
                      std::span<const std::string_view> choices, std::uint64_t* out, std::size_t row_stride,
                      std::uint64_t max_distance);
void jaro_winkler_tile(simd::Level level, std::span<const std::string_view> queries,
                       std::span<const std::string_view> choices, double* out, std::size_t row_stride);

// Levenshtein distance of each aligned pair a[i], b[i] into out[i] (i below
// the shorter span's size); a distance above max_distance is reported as
// max_distance + 1 (saturating). Short unrelated pairs gain nothing from
// prepared masks: a pair whose shorter text has at most 64 characters is
// scored in one machine word, its masks made by comparing each character
// with the whole shorter text at once (AVX-512 or AVX2), without a table;
// other pairs, and every pair on the portable set, go through the core.
void levenshtein_pairs(std::span<const std::string_view> a, std::span<const std::string_view> b, std::uint64_t* out,
                       std::uint64_t max_distance);
void levenshtein_pairs(simd::Level level, std::span<const std::string_view> a, std::span<const std::string_view> b,
                       std::uint64_t* out, std::uint64_t max_distance);

}  // namespace vorn::collection
