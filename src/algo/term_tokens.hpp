// The word tokeniser shared by TF-IDF and BM25, and the term counts of a
// corpus of two texts.
//
// Terms are cut at White_Space and at the 32 ASCII punctuation characters,
// then lowercased piece by piece (full mapping, Final_Sigma within the
// piece). A term is a view of the input when lowercasing leaves it as it
// is, and of a lowercased copy in the caller's memory otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <string_view>
#include <vector>

namespace vorn::algo {

// Occurrence counts of every distinct term of two texts. Terms get dense
// ids in order of first occurrence, over a and then b, so the terms of a
// are exactly the ids below distinct_a, in a's own order; every sum over
// terms runs in such a fixed order, which makes scores the same in every
// process.
struct TermCounts {
    struct Term {
        std::uint64_t count[2];  // occurrences in a, in b
    };
    explicit TermCounts(std::pmr::memory_resource* memory) : terms(memory), ids_a(memory), distinct_b(memory) {}
    std::pmr::vector<Term> terms;              // by id
    std::pmr::vector<std::size_t> ids_a;       // id of each token of a, in order
    std::pmr::vector<std::size_t> distinct_b;  // ids of b's terms, in b's order of first occurrence
    std::size_t distinct_a = 0;
    std::uint64_t tokens[2] = {0, 0};  // tokens of a, of b
};

// The terms of a and b, counted as they are cut; all working memory, the
// lowercased copies included, comes from `memory`.
TermCounts count_terms(std::string_view a, std::string_view b, std::pmr::memory_resource* memory);

// Working memory for scoring two short texts without a trip to the heap;
// longer texts spill over to it.
class ScoringArena {
public:
    std::pmr::memory_resource* get() noexcept { return &resource_; }

private:
    alignas(std::max_align_t) std::byte buffer_[32768];
    std::pmr::monotonic_buffer_resource resource_{buffer_, sizeof buffer_};
};

}  // namespace vorn::algo
