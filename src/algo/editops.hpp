// Edit scripts: the single-character edits of one cheapest alignment that
// turn a source text into a destination text (Levenshtein: insertions,
// deletions, substitutions; Indel: insertions and deletions only).
//
// Among equally cheap alignments the one chosen is RapidFuzz's: the common
// prefix and suffix are matched, then the bit-parallel matrix of the rest
// (source characters as the bits, destination characters as the rows) is
// walked back from the end, preferring a deletion, then an insertion, then
// the diagonal step. Levenshtein splits pairs whose matrix would be large
// in two first (Hirschberg), as RapidFuzz does, at the middle destination
// character and the first source position on a cheapest alignment.
// Positions count characters (code points).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "algo/common_affix.hpp"

namespace vorn::algo {

enum class EditKind : std::uint8_t { replace, insert, remove, equal };  // equal: only in blocks

// One edit: `replace` puts dest[dest_pos] in place of source[src_pos],
// `insert` puts dest[dest_pos] before source[src_pos], `remove` drops
// source[src_pos].
struct EditOp {
    EditKind kind;
    std::size_t src_pos;
    std::size_t dest_pos;
};

struct EditScript {
    std::vector<EditOp> ops;  // in increasing positions
    std::size_t src_length = 0;
    std::size_t dest_length = 0;
};

EditScript levenshtein_editops(std::u32string_view source, std::u32string_view dest);
EditScript indel_editops(std::u32string_view source, std::u32string_view dest);

// A block of an edit script: source[src_start:src_end] is kept (equal),
// replaced by, or removed for dest[dest_start:dest_end] (an insertion
// has an empty source range, a removal an empty destination range).
struct EditBlock {
    EditKind kind;
    std::size_t src_start, src_end, dest_start, dest_end;
};

// The script's runs of like edits at consecutive positions as blocks,
// with equal blocks for the characters between them; together they cover
// both texts.
inline std::vector<EditBlock> edit_blocks(const EditScript& script) {
    std::vector<EditBlock> blocks;
    std::size_t src = 0, dest = 0;
    const std::vector<EditOp>& ops = script.ops;
    for (std::size_t i = 0; i < ops.size();) {
        if (src < ops[i].src_pos || dest < ops[i].dest_pos) {
            blocks.push_back({EditKind::equal, src, ops[i].src_pos, dest, ops[i].dest_pos});
            src = ops[i].src_pos;
            dest = ops[i].dest_pos;
        }
        const EditKind kind = ops[i].kind;
        const std::size_t src_start = src, dest_start = dest;
        for (; i < ops.size() && ops[i].kind == kind && ops[i].src_pos == src && ops[i].dest_pos == dest; ++i) {
            src += kind != EditKind::insert;
            dest += kind != EditKind::remove;
        }
        blocks.push_back({kind, src_start, src, dest_start, dest});
    }
    if (src < script.src_length || dest < script.dest_length)
        blocks.push_back({EditKind::equal, src, script.src_length, dest, script.dest_length});
    return blocks;
}

namespace editops_detail {

// Walks the matrix of source and dest back from its last cell, appending
// the edits to `ops` with positions shifted by src_offset and dest_offset.
// deletes(row, col) tells whether cell (col, row) (col source and row
// destination characters) is reached by deleting source[col - 1];
// inserts(row, col), asked of the row above once a deletion is ruled out,
// whether it is reached by inserting; otherwise the step is diagonal, a
// substitution where the characters differ.
template <class Deletes, class Inserts>
void walk_back(std::u32string_view source, std::u32string_view dest, std::size_t src_offset, std::size_t dest_offset,
               Deletes&& deletes, Inserts&& inserts, std::vector<EditOp>& ops) {
    const std::size_t first = ops.size();
    std::size_t col = source.size(), row = dest.size();
    const auto add = [&](EditKind kind) { ops.push_back({kind, col + src_offset, row + dest_offset}); };
    while (row != 0 && col != 0) {
        if (deletes(row, col)) {
            --col;
            add(EditKind::remove);
            continue;
        }
        --row;
        if (row != 0 && inserts(row, col)) {
            add(EditKind::insert);
        } else {
            --col;
            if (source[col] != dest[row]) add(EditKind::replace);
        }
    }
    while (col != 0) {
        --col;
        add(EditKind::remove);
    }
    while (row != 0) {
        --row;
        add(EditKind::insert);
    }
    std::reverse(ops.begin() + static_cast<std::ptrdiff_t>(first), ops.end());
}

// Bit `col - 1` of row `row - 1` in a matrix of `words` words a row.
inline bool matrix_bit(const std::vector<std::uint64_t>& matrix, std::size_t words, std::size_t row,
                       std::size_t col) noexcept {
    return (matrix[(row - 1) * words + (col - 1) / 64] >> ((col - 1) % 64)) & 1;
}

}  // namespace editops_detail

}  // namespace vorn::algo
