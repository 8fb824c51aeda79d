// An exact index of texts by Levenshtein distance in characters: every
// choice within max_distance edits of a query, found without comparing the
// query with every choice.
//
// The choices are kept twice ordered, by their bytes and by their bytes
// read backwards, with how many leading (trailing) bytes each shares with
// its neighbour. Each order is a trie laid flat: the choices below a node
// are a contiguous run. A query walks a trie depth first with one row of
// the edit-distance matrix per node, restricted to the band of diagonals
// within max_distance (Ukkonen), and leaves a subtree as soon as its row
// has no cell within reach.
//
// Walking from one end alone explores every node near the root, where
// anything is within a few edits. So the query is cut in two and the
// pigeonhole principle applied to the alignment: in any alignment of cost
// k, the step that enters the query's second part splits it into a prefix
// of cost A and a suffix of cost B with A + B <= k, so A <= c1 or B <= c2
// whenever c1 + c2 = k - 1. The forward walk allows only c1 edits while
// in the first part, the backward walk only c2 in the last part, which
// prunes near both roots; a choice either walk finds is then scored
// exactly. Large distances, where pruning cannot pay, scan every choice
// of a fitting length instead; both paths return the same matches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "collection/parallel.hpp"
#include "collection/string_column.hpp"
#include "error/vorn_error.hpp"
#include "index/entry_table.hpp"
#include "index/index_file.hpp"

namespace vorn::index {

// Choices are numbered with 32 bits; the last value is kept free.
inline constexpr std::size_t kMaxEditIndexChoices = 0xFFFFFFFEu;
inline constexpr InvalidArgument kTooManyChoices{"an edit index holds fewer than 2**32 - 1 choices"};

struct EditMatch {
    std::uint32_t choice;
    std::uint32_t distance;
    friend bool operator<(const EditMatch& a, const EditMatch& b) noexcept {
        return a.distance != b.distance ? a.distance < b.distance : a.choice < b.choice;
    }
    friend bool operator==(const EditMatch&, const EditMatch&) = default;
};

struct SimilarityMatch {
    std::uint32_t choice;
    double similarity;
};

// One order of the stored choices (a flattened trie) and the bytes each
// shares with the one before it, with block minima to leave a subtree
// fast.
class TrieOrder {
public:
    // Byte values of next_byte beside ASCII characters.
    static constexpr std::uint8_t kEndsHere = 0x80;
    static constexpr std::uint8_t kNotAscii = 0xFF;

    // shared[i]: bytes entry i shares with entry i - 1 (0 for the first),
    // at most 255, ending on a character boundary in both. next[i]: the
    // character that follows them in entry i when it is ASCII, else
    // kEndsHere or kNotAscii, so that a walk can often decide on entry i
    // without reading its text.
    void assign(std::vector<std::uint8_t> shared, std::vector<std::uint8_t> next);
    std::size_t size() const noexcept { return shared_.size(); }
    std::uint8_t shared(std::size_t i) const noexcept { return shared_[i]; }
    std::uint8_t next_byte(std::size_t i) const noexcept { return next_[i]; }
    // First entry after i that shares fewer than `bytes` bytes with its
    // predecessor (the end of the subtree i is in at that depth), or size().
    std::size_t subtree_end(std::size_t i, std::size_t bytes) const noexcept;
    std::size_t memory_bytes() const noexcept {
        return shared_.size() + next_.size() + block_min_.size() + group_min_.size();
    }

private:
    std::vector<std::uint8_t> shared_;
    std::vector<std::uint8_t> next_;
    std::vector<std::uint8_t> block_min_;  // per 64 entries
    std::vector<std::uint8_t> group_min_;  // per 64 blocks
};

// Scratch memory of one searching thread.
class EditSearch {
public:
    std::vector<char32_t> query;
    std::vector<char32_t> reversed;
    std::vector<char32_t> padded;
    std::vector<std::int8_t> limits;
    std::vector<std::uint8_t> rows;
    std::vector<std::size_t> consumed;
    std::vector<std::uint32_t> positions;
};

class EditIndex {
public:
    // Nulls are counted but never match. Fails beyond kMaxEditIndexChoices.
    static Expected<EditIndex, InvalidArgument> build(const collection::StringColumn& choices);

    // Number of choices, nulls included.
    std::size_t size() const noexcept { return count_; }
    // Bytes held (or mapped) by the index, the choices' text included.
    std::size_t memory_bytes() const noexcept;

    // Appends every choice within max_distance of `text` to `out`, sorted by
    // distance, then choice. False when `context` asked to stop first (out
    // then holds nothing new).
    bool query(std::string_view text, std::uint64_t max_distance, EditSearch& search, std::vector<EditMatch>& out,
               const collection::ChunkContext* context = nullptr) const;

    // Appends every choice whose levenshtein similarity with `text` is at
    // least `cutoff`, by decreasing similarity, then choice.
    bool query_similar(std::string_view text, double cutoff, EditSearch& search, std::vector<SimilarityMatch>& out,
                       const collection::ChunkContext* context = nullptr) const;

    // As query, always by scoring every choice whose length fits (the
    // method beyond kMaxWalkDistance), for comparison.
    bool scan(std::string_view text, std::uint64_t max_distance, EditSearch& search, std::vector<EditMatch>& out,
              const collection::ChunkContext* context = nullptr) const;

    // The largest distance at which a choice can still reach levenshtein
    // similarity `cutoff` with a query of `length` characters.
    std::uint64_t distance_for_similarity(std::size_t length, double cutoff) const noexcept;

    Expected<std::size_t, FileProblem> save(const std::string& path) const;
    static Expected<EditIndex, FileProblem> load(const std::string& path);

    // Distances up to this are searched by walking the tries; beyond, by scan.
    static constexpr std::uint64_t kMaxWalkDistance = 8;

private:
    std::string_view text(std::size_t position) const noexcept {
        return {bytes_.view().data() + offsets_[position], offsets_[position + 1] - offsets_[position]};
    }
    std::size_t live() const noexcept { return choice_of_.size(); }
    // Fills the tries' shared bytes from the stored orders; with `check`,
    // false when an order is not sorted (a damaged file).
    bool index_orders(bool check);
    // Adds the forward positions of the choices one trie walk finds to
    // search.positions; false when asked to stop.
    template <class Direction, int K>
    bool walk(std::size_t capped_columns, unsigned cap, EditSearch& search,
              const collection::ChunkContext* context) const;
    // Fills search.positions, ascending, with the forward positions of
    // every choice within max_distance and maybe others; false when asked
    // to stop.
    bool candidates(std::string_view text, std::uint64_t max_distance, bool by_scan, EditSearch& search,
                    const collection::ChunkContext* context) const;
    bool distances(std::string_view text, std::uint64_t max_distance, bool by_scan, EditSearch& search,
                   std::vector<EditMatch>& out, const collection::ChunkContext* context) const;

    std::size_t count_ = 0;
    std::size_t longest_ = 0;          // bytes of the longest choice
    Column<char> bytes_;               // every non-null choice's UTF-8, in forward order
    Column<std::uint64_t> offsets_;    // live() + 1 offsets into bytes_
    Column<std::uint32_t> choice_of_;  // forward position -> choice number
    Column<std::uint32_t> backward_;   // backward position -> forward position
    TrieOrder forward_order_;
    TrieOrder backward_order_;
    std::shared_ptr<const LoadedFile> loaded_file_;
};

}  // namespace vorn::index
