// The word tokeniser shared by TF-IDF and BM25, and the term counts of a
// corpus of two texts.
//
// Terms are cut at White_Space and at the 32 ASCII punctuation characters,
// then lowercased piece by piece (full mapping, Final_Sigma within the
// piece). A term is a view of the input when lowercasing leaves it as it
// is, and of an owned buffer of lowercased copies otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::algo {

class TermTokens {
public:
    // The views may point into `text`, which must outlive this object.
    // Working memory comes from `memory`, which must outlive it too.
    explicit TermTokens(std::string_view text,
                        std::pmr::memory_resource* memory = std::pmr::get_default_resource());

    TermTokens(const TermTokens&) = delete;
    TermTokens& operator=(const TermTokens&) = delete;

    // The terms in text order, repeats kept; none is empty.
    std::span<const std::string_view> terms() const noexcept { return terms_; }

private:
    std::string lowered_;
    std::pmr::vector<std::string_view> terms_;
};

inline TermTokens term_tokens(std::string_view text) { return TermTokens(text); }

// Occurrence counts of every distinct term of two token sequences. Terms
// get dense ids in order of first occurrence, over a and then b, so the
// terms of a are exactly the ids below distinct_a, in a's own order; every
// sum over terms runs in such a fixed order, which makes scores the same
// in every process.
struct TermCounts {
    struct Term {
        std::uint64_t count[2];  // occurrences in a, in b
    };
    explicit TermCounts(std::pmr::memory_resource* memory) : terms(memory), ids_a(memory), distinct_b(memory) {}
    std::pmr::vector<Term> terms;              // by id
    std::pmr::vector<std::size_t> ids_a;       // id of each token of a, in order
    std::pmr::vector<std::size_t> distinct_b;  // ids of b's terms, in b's order of first occurrence
    std::size_t distinct_a = 0;
};

TermCounts count_terms(std::span<const std::string_view> a, std::span<const std::string_view> b,
                       std::pmr::memory_resource* memory = std::pmr::get_default_resource());

// Working memory for scoring two short texts without a trip to the heap;
// longer texts spill over to it.
class ScoringArena {
public:
    std::pmr::memory_resource* get() noexcept { return &resource_; }

private:
    alignas(std::max_align_t) std::byte buffer_[8192];
    std::pmr::monotonic_buffer_resource resource_{buffer_, sizeof buffer_};
};

}  // namespace vorn::algo
