// Drivers: tiles of rows x columns are the chunks of the thread pool.
// Scores of a tile go to a small buffer, get the cutoff applied and are
// then stored, converted, into the output (cdist), offered to per-worker
// top-k heaps (topk) or collected per tile (threshold_join).
#include "collection/batch.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "collection/search.hpp"
#include "text/utf8.hpp"

namespace vorn::collection {
namespace {

// Target work per chunk, in pairs of short texts (about a millisecond).
constexpr std::size_t kPairsPerChunk = 16384;

template <class T>
void convert_into(const double* values, std::size_t n, T* out) {
    for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<T>(values[k]);
}

template <class T>
void convert_into(const std::int64_t* values, std::size_t n, T* out) {
    for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<T>(values[k]);
}

// Stores n values at element `offset` of the output. Similarities go only
// to floating outputs (the binding refuses integer ones).
void store(const double* values, std::size_t n, Output out, std::size_t offset) {
    if (out.type == OutputType::float32) return convert_into(values, n, static_cast<float*>(out.data) + offset);
    convert_into(values, n, static_cast<double*>(out.data) + offset);
}

void store(const std::int64_t* values, std::size_t n, Output out, std::size_t offset) {
    switch (out.type) {
        case OutputType::float64: return convert_into(values, n, static_cast<double*>(out.data) + offset);
        case OutputType::float32: return convert_into(values, n, static_cast<float*>(out.data) + offset);
        case OutputType::int64: return convert_into(values, n, static_cast<std::int64_t*>(out.data) + offset);
        case OutputType::int32: return convert_into(values, n, static_cast<std::int32_t*>(out.data) + offset);
        case OutputType::int16: return convert_into(values, n, static_cast<std::int16_t*>(out.data) + offset);
        case OutputType::int8: return convert_into(values, n, static_cast<std::int8_t*>(out.data) + offset);
        case OutputType::uint64: return convert_into(values, n, static_cast<std::uint64_t*>(out.data) + offset);
        case OutputType::uint32: return convert_into(values, n, static_cast<std::uint32_t*>(out.data) + offset);
        case OutputType::uint16: return convert_into(values, n, static_cast<std::uint16_t*>(out.data) + offset);
        case OutputType::uint8: return convert_into(values, n, static_cast<std::uint8_t*>(out.data) + offset);
    }
}

void apply_cutoff(double* values, std::size_t n, const Cutoff& cutoff) {
    if (!cutoff.similarity) return;
    for (std::size_t k = 0; k < n; ++k)
        if (values[k] < *cutoff.similarity) values[k] = 0.0;
}

void apply_cutoff(std::int64_t* values, std::size_t n, const Cutoff& cutoff) {
    if (!cutoff.distance) return;
    for (std::size_t k = 0; k < n; ++k)
        if (values[k] > *cutoff.distance) values[k] = *cutoff.distance + 1;
}

// Whether a score takes part in a search: no null, within the cutoff.
bool qualifies(double similarity, const Cutoff& cutoff) {
    return !std::isnan(similarity) && (!cutoff.similarity || similarity >= *cutoff.similarity);
}

bool qualifies(std::int64_t distance, const Cutoff& cutoff) {
    return distance >= 0 && (!cutoff.distance || distance <= *cutoff.distance);
}

// The tiling of an n_a x n_b matrix into chunks of about `pairs` pairs.
struct Tiling {
    std::size_t rows, cols;  // tile size
    std::size_t row_tiles, col_tiles;

    // Tiles of up to kTileRows queries: the kernels prepare a block of
    // choices once for all the tile's queries.
    static constexpr std::size_t kTileRows = 64;

    Tiling(std::size_t n_a, std::size_t n_b, std::size_t pairs) {
        rows = std::clamp<std::size_t>(std::min(n_a, kTileRows), 1, pairs);
        cols = std::clamp<std::size_t>(pairs / rows, 1, std::max<std::size_t>(n_b, 1));
        rows = std::clamp<std::size_t>(pairs / cols, 1, std::max<std::size_t>(n_a, 1));
        row_tiles = (n_a + rows - 1) / rows;
        col_tiles = (n_b + cols - 1) / cols;
    }
    std::size_t count() const { return row_tiles * col_tiles; }
};

struct Tile {
    std::size_t r0, r1, c0, c1;
};

Tile tile_at(const Tiling& tiling, std::size_t t, std::size_t n_a, std::size_t n_b) {
    // Column-major: a worker's consecutive tiles share their choices.
    const std::size_t rt = t % tiling.row_tiles, ct = t / tiling.row_tiles;
    const std::size_t r0 = rt * tiling.rows, c0 = ct * tiling.cols;
    return {r0, std::min(n_a, r0 + tiling.rows), c0, std::min(n_b, c0 + tiling.cols)};
}

std::int64_t max_distance(const Cutoff& cutoff) { return cutoff.distance.value_or(kUnbounded); }

// Scores of a tile into `buffer` (row stride = tile width), cutoff applied.
template <class Value>
void score_tile(const PairScorer& scorer, const Tile& tile, std::vector<Value>& buffer, const Cutoff& cutoff,
                const ChunkContext& context) {
    const std::size_t width = tile.c1 - tile.c0;
    buffer.resize((tile.r1 - tile.r0) * width);
    if constexpr (std::is_same_v<Value, double>) {
        scorer.similarity_block(tile.r0, tile.r1, tile.c0, tile.c1, buffer.data(), width, cutoff.similarity, context);
    } else {
        scorer.distance_block(tile.r0, tile.r1, tile.c0, tile.c1, buffer.data(), width, max_distance(cutoff), context);
    }
    apply_cutoff(buffer.data(), buffer.size(), cutoff);
}

template <class Value>
bool cdist_of(const PairScorer& scorer, const Runner& run, const Cutoff& cutoff, Output out, std::size_t n_a,
              std::size_t n_b, std::size_t pairs) {
    const Tiling tiling(n_a, n_b, pairs);
    return run(tiling.count(), 1, [&](std::size_t begin, std::size_t end, const ChunkContext& context) {
        thread_local std::vector<Value> buffer;
        for (std::size_t t = begin; t < end; ++t) {
            const Tile tile = tile_at(tiling, t, n_a, n_b);
            score_tile(scorer, tile, buffer, cutoff, context);
            const std::size_t width = tile.c1 - tile.c0;
            for (std::size_t i = tile.r0; i < tile.r1; ++i)
                store(buffer.data() + (i - tile.r0) * width, width, out, i * n_b + tile.c0);
        }
    });
}

template <class Value>
bool cpdist_of(const PairScorer& scorer, const Runner& run, const Cutoff& cutoff, Output out, std::size_t n,
               std::size_t pairs) {
    return run(n, pairs, [&](std::size_t begin, std::size_t end, const ChunkContext& context) {
        thread_local std::vector<Value> buffer;
        buffer.resize(end - begin);
        if constexpr (std::is_same_v<Value, double>) {
            scorer.similarity_pairs(begin, end, buffer.data(), context);
        } else {
            scorer.distance_pairs(begin, end, buffer.data(), max_distance(cutoff), context);
        }
        apply_cutoff(buffer.data(), buffer.size(), cutoff);
        store(buffer.data(), buffer.size(), out, begin);
    });
}

// A search candidate; `better` orders by score (higher similarity, lower
// distance) and then by lower index.
struct Candidate {
    double score;
    std::int64_t index;
};

template <class Value>
bool better(const Candidate& x, const Candidate& y) {
    if (x.score != y.score) return std::is_same_v<Value, double> ? x.score > y.score : x.score < y.score;
    return x.index < y.index;
}

// A score strictly worse than the bar cannot end among the best k.
template <class Value>
bool is_worse(Value value, Value bar) {
    if constexpr (std::is_same_v<Value, double>) return value < bar;
    return value > bar;
}

// Whether no choice of `length` characters can reach the bar.
template <class Value>
bool rules_out(const QueryScorer& query, std::size_t length, Value bar) {
    if constexpr (std::is_same_v<Value, double>) return query.highest_similarity(length) < bar - query.bound_margin();
    return query.lowest_distance(length) > bar;
}

// Offers a candidate to a bounded heap (its worst candidate on top);
// true when the heap changed.
template <class Value>
bool offer(Candidate* heap, std::size_t& size, std::size_t k, const Candidate& candidate) {
    if (size < k) {
        heap[size++] = candidate;
        std::push_heap(heap, heap + size, better<Value>);
        return true;
    }
    if (!better<Value>(candidate, heap[0])) return false;
    std::pop_heap(heap, heap + size, better<Value>);
    heap[size - 1] = candidate;
    std::push_heap(heap, heap + size, better<Value>);
    return true;
}

// Merges the per-thread heaps of rows [first, last) (slot w * heap_rows +
// i) and stores each row best first, padded past what was found.
template <class Value>
void store_best(const std::vector<Candidate>& heaps, const std::vector<std::size_t>& heap_sizes, std::size_t threads,
                std::size_t heap_rows, std::size_t k, std::size_t row_width, std::int64_t* indices, Output scores,
                std::size_t first, std::size_t last) {
    std::vector<Candidate> merged;
    std::vector<Value> row_scores(row_width);
    for (std::size_t i = first; i < last; ++i) {
        merged.clear();
        for (std::size_t w = 0; w < threads; ++w) {
            const std::size_t slot = w * heap_rows + (i - first);
            merged.insert(merged.end(), heaps.begin() + slot * k, heaps.begin() + slot * k + heap_sizes[slot]);
        }
        std::sort(merged.begin(), merged.end(), better<Value>);
        for (std::size_t r = 0; r < row_width; ++r) {
            const bool found = r < merged.size();
            indices[i * row_width + r] = found ? merged[r].index : -1;
            if constexpr (std::is_same_v<Value, double>) {
                row_scores[r] = found ? merged[r].score : kNullSimilarity;
            } else {
                row_scores[r] = found ? static_cast<std::int64_t>(merged[r].score) : kNullDistance;
            }
        }
        store(row_scores.data(), row_width, scores, i * row_width);
    }
}

template <class Value>
bool topk_of(const PairScorer& scorer, std::size_t k, const Runner& run, std::size_t workers, const Cutoff& cutoff,
             std::int64_t* indices, Output scores, std::size_t n_a, std::size_t n_b, std::size_t pairs) {
    // One bounded heap per thread and query, its worst candidate on top;
    // no heap holds more than the choices there are.
    const std::size_t row_width = k;
    k = std::min(k, n_b);
    const Tiling tiling(n_a, n_b, pairs);
    const std::size_t threads = thread_count(tiling.count(), 1, workers);
    std::vector<Candidate> heaps(threads * n_a * k);
    std::vector<std::size_t> heap_sizes(threads * n_a, 0);
    const bool completed = run(tiling.count(), 1, [&](std::size_t begin, std::size_t end, const ChunkContext& context) {
        thread_local std::vector<Value> buffer;
        for (std::size_t t = begin; t < end; ++t) {
            const Tile tile = tile_at(tiling, t, n_a, n_b);
            score_tile(scorer, tile, buffer, cutoff, context);
            const std::size_t width = tile.c1 - tile.c0;
            for (std::size_t i = tile.r0; i < tile.r1; ++i) {
                const std::size_t slot = context.worker() * n_a + i;
                Candidate* heap = heaps.data() + slot * k;
                std::size_t& size = heap_sizes[slot];
                for (std::size_t j = tile.c0; j < tile.c1; ++j) {
                    const Value value = buffer[(i - tile.r0) * width + (j - tile.c0)];
                    if (!qualifies(value, cutoff)) continue;
                    offer<Value>(heap, size, k, {static_cast<double>(value), static_cast<std::int64_t>(j)});
                }
            }
        }
    });
    if (!completed) return false;
    store_best<Value>(heaps, heap_sizes, threads, n_a, k, row_width, indices, scores, 0, n_a);
    return true;
}

// The bar of a search: the best k end at or above it (distances: at or
// below). It starts at the cutoff and each worker raises it to the k-th
// best it holds.
template <class Value>
class SharedBar {
public:
    explicit SharedBar(Value initial) : value_(initial) {}
    Value load() const noexcept { return value_.load(std::memory_order_relaxed); }
    void raise(Value to) noexcept {
        Value current = load();
        while (is_higher(to, current) && !value_.compare_exchange_weak(current, to, std::memory_order_relaxed)) {}
    }

private:
    static bool is_higher(Value x, Value y) noexcept {
        if constexpr (std::is_same_v<Value, double>) return x > y;
        return x < y;
    }
    std::atomic<Value> value_;
};

// The order a search visits the choices in: every row in index order, or,
// with a length index, the groups of counts nearest the query's first, so
// that the bar rises early and rules out whole groups.
struct VisitPlan {
    std::vector<LengthIndex::Group> groups;
    std::vector<std::size_t> starts;  // position of each group's first row in the visit; one past the last at the end

    VisitPlan(const LengthIndex& index, std::size_t query_length)
        : groups(index.groups().begin(), index.groups().end()) {
        const auto gap = [&](const LengthIndex::Group& g) {
            return g.length > query_length ? g.length - query_length : query_length - g.length;
        };
        std::stable_sort(groups.begin(), groups.end(),
                         [&](const LengthIndex::Group& x, const LengthIndex::Group& y) { return gap(x) < gap(y); });
        starts.push_back(0);
        for (const auto& group : groups) starts.push_back(starts.back() + (group.end - group.begin));
    }
};

// Character counts kept by a search over a column without a length index:
// the count, or one of these for a null and a text too long to keep.
using KeptCount = std::uint32_t;
constexpr KeptCount kNullCount = std::numeric_limits<KeptCount>::max();
constexpr KeptCount kLongCount = kNullCount - 1;
// The passes read the texts of the lengths they score, scattered over the
// column: each asks for the bytes of the text this many rows ahead.
constexpr std::size_t kPrefetchAhead = 16;

// topk for a few queries, one at a time, pruned by the bar (see search.hpp).
// Choices are visited by their length's distance from the query's, nearest
// first, so that the bar rises early: through the length index's groups
// when there is one; otherwise in passes over the column, the first
// counting the characters and scoring the choices as long as the query,
// each later one scoring the lengths one character further away, until
// the bar rules out every length left.
template <class Value>
bool search_of(const PairScorer& scorer, std::size_t k, const Runner& run, std::size_t workers, const Cutoff& cutoff,
               const ChoiceLengths& known, std::int64_t* indices, Output scores, std::size_t pairs) {
    const std::size_t n_a = scorer.rows(), n_b = scorer.columns();
    const std::size_t row_width = k;
    k = std::min(k, n_b);
    const StringColumn& choices = scorer.column_b();
    const LengthIndex* index = known.index;
    const bool in_passes = index == nullptr && prefers_length_passes(scorer.config().kind, n_b);
    // The reader's counts stand for ours unless a count is too long to keep.
    const bool counted =
        in_passes && known.counts.size() == n_b &&
        std::all_of(known.counts.begin(), known.counts.end(), [](KeptCount c) { return c < kLongCount; });
    std::vector<KeptCount> own_counts(in_passes && !counted ? n_b : 0);
    const std::span<const KeptCount> counts = counted ? known.counts : std::span<const KeptCount>(own_counts);
    constexpr bool kSimilarity = std::is_same_v<Value, double>;
    Value initial;
    if constexpr (kSimilarity) {
        initial = cutoff.similarity.value_or(-std::numeric_limits<double>::infinity());
    } else {
        initial = cutoff.distance.value_or(kUnbounded);
    }
    for (std::size_t i = 0; i < n_a; ++i) {
        std::optional<QueryScorer> query;
        std::optional<VisitPlan> plan;
        std::size_t n_items = 0;
        if (!scorer.column_a().is_null(i)) {
            query.emplace(scorer, i);
            if (index != nullptr) plan.emplace(*index, query->length());
            n_items = plan ? plan->starts.back() : n_b;
        }
        const std::size_t threads = thread_count(n_items, pairs, workers);
        std::vector<Candidate> heaps(threads * k);
        std::vector<std::size_t> heap_sizes(threads, 0);
        std::vector<std::size_t> longest(threads, 0);
        SharedBar<Value> bar(initial);
        // Scores choice j unless its bound rules it out, and offers it.
        const auto consider = [&](std::size_t j, std::string_view text, std::size_t length, std::size_t worker) {
            const Value current = bar.load();
            if (rules_out<Value>(*query, length, current)) return;
            Value value;
            if constexpr (kSimilarity) {
                value = query->similarity(j, text, length, current);
            } else {
                value = query->distance(j, text, length, current);
            }
            if (is_worse<Value>(value, current) || !qualifies(value, cutoff)) return;
            Candidate* heap = heaps.data() + worker * k;
            std::size_t& size = heap_sizes[worker];
            if (offer<Value>(heap, size, k, {static_cast<double>(value), static_cast<std::int64_t>(j)}) && size == k)
                bar.raise(static_cast<Value>(heap[0].score));
        };
        const auto scan = [&](std::size_t begin, std::size_t end, const ChunkContext& context) {
            const std::size_t worker = context.worker();
            if (plan) {
                const auto rows = index->rows();
                std::size_t g = static_cast<std::size_t>(
                    std::upper_bound(plan->starts.begin(), plan->starts.end(), begin) - plan->starts.begin() - 1);
                for (std::size_t p = begin; p < end; ++g) {
                    const LengthIndex::Group& group = plan->groups[g];
                    const std::size_t group_end = std::min(end, plan->starts[g + 1]);
                    if (!rules_out<Value>(*query, group.length, bar.load())) {
                        for (std::size_t q = p; q < group_end; ++q) {
                            const std::size_t position = group.begin + (q - plan->starts[g]);
                            consider(rows[position], index->text(position), group.length, worker);
                        }
                    }
                    p = group_end;
                }
                return;
            }
            if (counted) {
                for (std::size_t j = begin; j < end; ++j) {
                    if (j + kPrefetchAhead < end && counts[j + kPrefetchAhead] == query->length())
                        __builtin_prefetch(choices[j + kPrefetchAhead].data());
                    if (choices.is_null(j)) continue;
                    longest[worker] = std::max<std::size_t>(longest[worker], counts[j]);
                    if (counts[j] == query->length()) consider(j, choices[j], counts[j], worker);
                }
                return;
            }
            for (std::size_t j = begin; j < end; ++j) {
                if (choices.is_null(j)) {
                    if (in_passes) own_counts[j] = kNullCount;
                    continue;
                }
                const std::size_t length = utf8::count_chars(choices[j]);
                if (in_passes) {
                    own_counts[j] = static_cast<KeptCount>(std::min<std::size_t>(length, kLongCount));
                    longest[worker] = std::max(longest[worker], length);
                    if (length != query->length()) continue;
                }
                consider(j, choices[j], length, worker);
            }
        };
        if (n_items != 0 && !run(n_items, pairs, scan)) return false;
        if (in_passes && n_items != 0) {
            const std::size_t q = query->length();
            const std::size_t reach = std::max(*std::max_element(longest.begin(), longest.end()), q);
            constexpr std::size_t kNoCount = std::numeric_limits<std::size_t>::max();
            // A length further away than another on its side bounds no
            // higher; counts from kLongCount on are the last pass's.
            const auto open = [&](std::size_t gap) {
                return !rules_out<Value>(*query, q + gap, bar.load()) ||
                       (gap <= q && !rules_out<Value>(*query, q - gap, bar.load()));
            };
            for (std::size_t gap = 1; gap <= std::min<std::size_t>(reach, kLongCount); ++gap) {
                if (!open(gap)) break;
                // A bar that leaves many lengths open, or a measure whose
                // bound by length is loose beside its bound by characters
                // (Jaro's): one sweep over them all, reading the column once.
                constexpr std::size_t kPassesAhead = 3;
                if (query->bounds_each_choice() || open(gap + kPassesAhead)) {
                    const bool completed =
                        run(n_b, pairs, [&](std::size_t begin, std::size_t end, const ChunkContext& c) {
                            for (std::size_t j = begin; j < end; ++j) {
                                const std::size_t count = counts[j];
                                if (count < kLongCount && (count > q ? count - q : q - count) >= gap &&
                                    !rules_out<Value>(*query, count, bar.load()) && !choices.is_null(j))
                                    consider(j, choices[j], count, c.worker());
                            }
                        });
                    if (!completed) return false;
                    break;
                }
                const bool above = !rules_out<Value>(*query, q + gap, bar.load());
                const bool below = gap <= q && !rules_out<Value>(*query, q - gap, bar.load());
                const std::size_t high = above && q + gap < kLongCount ? q + gap : kNoCount;
                const std::size_t low = below && q - gap < kLongCount ? q - gap : kNoCount;
                const bool completed = run(n_b, pairs, [&](std::size_t begin, std::size_t end, const ChunkContext& c) {
                    for (std::size_t j = begin; j < end; ++j) {
                        if (j + kPrefetchAhead < end &&
                            (counts[j + kPrefetchAhead] == high || counts[j + kPrefetchAhead] == low))
                            __builtin_prefetch(choices[j + kPrefetchAhead].data());
                        if ((counts[j] == high || counts[j] == low) && !choices.is_null(j))
                            consider(j, choices[j], counts[j], c.worker());
                    }
                });
                if (!completed) return false;
            }
            // Texts too long to keep their count, with their own (those as
            // long as the query were the first pass's).
            if (reach >= kLongCount && !run(n_b, pairs, [&](std::size_t begin, std::size_t end, const ChunkContext& c) {
                    for (std::size_t j = begin; j < end; ++j) {
                        if (counts[j] != kLongCount) continue;
                        const std::size_t length = utf8::count_chars(choices[j]);
                        if (length != q) consider(j, choices[j], length, c.worker());
                    }
                }))
                return false;
        }
        store_best<Value>(heaps, heap_sizes, threads, 1, k, row_width, indices, scores, i, i + 1);
    }
    return true;
}

template <class Value>
struct Match {
    std::int64_t i, j;
    Value score;
};

template <class Value>
std::optional<JoinResult> join_of(const PairScorer& scorer, bool self_join, const Runner& run, const Cutoff& cutoff,
                                  std::size_t n_a, std::size_t n_b, std::size_t pairs) {
    // A self-join visits only tiles on or above the diagonal, so its tiles
    // are square.
    Tiling tiling(n_a, n_b, pairs);
    std::vector<std::pair<std::size_t, std::size_t>> upper_tiles;
    if (self_join) {
        const auto side = static_cast<std::size_t>(std::max(16.0, std::sqrt(static_cast<double>(pairs))));
        tiling = Tiling(n_a, n_b, side * side);
        tiling.rows = tiling.cols = std::min(side, std::max<std::size_t>(n_b, 1));
        tiling.row_tiles = tiling.col_tiles = (n_a + tiling.rows - 1) / tiling.rows;
        for (std::size_t rt = 0; rt < tiling.row_tiles; ++rt)
            for (std::size_t ct = rt; ct < tiling.col_tiles; ++ct) upper_tiles.emplace_back(rt, ct);
    }
    const std::size_t n_tiles = self_join ? upper_tiles.size() : tiling.count();
    std::vector<std::vector<Match<Value>>> found(n_tiles);
    const bool completed = run(n_tiles, 1, [&](std::size_t begin, std::size_t end, const ChunkContext& context) {
        thread_local std::vector<Value> buffer;
        for (std::size_t t = begin; t < end; ++t) {
            Tile tile;
            if (self_join) {
                const auto [rt, ct] = upper_tiles[t];
                tile = {rt * tiling.rows, std::min(n_a, (rt + 1) * tiling.rows), ct * tiling.cols,
                        std::min(n_b, (ct + 1) * tiling.cols)};
            } else {
                tile = tile_at(tiling, t, n_a, n_b);
            }
            score_tile(scorer, tile, buffer, cutoff, context);
            const std::size_t width = tile.c1 - tile.c0;
            for (std::size_t i = tile.r0; i < tile.r1; ++i)
                for (std::size_t j = self_join ? std::max(tile.c0, i + 1) : tile.c0; j < tile.c1; ++j) {
                    const Value value = buffer[(i - tile.r0) * width + (j - tile.c0)];
                    if (qualifies(value, cutoff))
                        found[t].push_back({static_cast<std::int64_t>(i), static_cast<std::int64_t>(j), value});
                }
        }
    });
    if (!completed) return std::nullopt;
    std::vector<Match<Value>> all;
    std::size_t total = 0;
    for (const auto& matches : found) total += matches.size();
    all.reserve(total);
    for (auto& matches : found) {
        all.insert(all.end(), matches.begin(), matches.end());
        std::vector<Match<Value>>().swap(matches);
    }
    auto by_position = [](const Match<Value>& x, const Match<Value>& y) { return x.i != y.i ? x.i < y.i : x.j < y.j; };
    if (!std::is_sorted(all.begin(), all.end(), by_position)) std::sort(all.begin(), all.end(), by_position);
    JoinResult result;
    result.i.reserve(total);
    result.j.reserve(total);
    for (const Match<Value>& match : all) {
        result.i.push_back(match.i);
        result.j.push_back(match.j);
        if constexpr (std::is_same_v<Value, double>) {
            result.similarity.push_back(match.score);
        } else {
            result.distance.push_back(match.score);
        }
    }
    return result;
}

// The mean over at most kLengthSamples strings spread evenly over the
// column: a chunk's size needs no more precision, and a serial pass over
// millions of strings would hold up every worker.
double mean_length(const StringColumn& column) {
    constexpr std::size_t kLengthSamples = 4096;
    if (column.empty()) return 0.0;
    const std::size_t step = std::max<std::size_t>(1, column.size() / kLengthSamples);
    double total = 0.0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < column.size(); i += step, ++count) total += static_cast<double>(column[i].size());
    return total / static_cast<double>(count);
}

}  // namespace

std::size_t pairs_per_chunk(const StringColumn& a, const StringColumn& b) noexcept {
    const double la = mean_length(a), lb = mean_length(b);
    const double cost = 1.0 + la * lb / 4096.0 + (la + lb) / 64.0;
    return static_cast<std::size_t>(std::max(1.0, static_cast<double>(kPairsPerChunk) / cost));
}

bool cdist(const PairScorer& scorer, const Runner& run, const Cutoff& cutoff, Output out) {
    const std::size_t n_a = scorer.rows(), n_b = scorer.columns();
    const std::size_t pairs = scorer.pairs_per_chunk();
    if (is_distance(scorer.config().kind)) return cdist_of<std::int64_t>(scorer, run, cutoff, out, n_a, n_b, pairs);
    return cdist_of<double>(scorer, run, cutoff, out, n_a, n_b, pairs);
}

bool cpdist(const PairScorer& scorer, const Runner& run, const Cutoff& cutoff, Output out) {
    const std::size_t n = std::min(scorer.rows(), scorer.columns());
    const std::size_t pairs = scorer.pairs_per_chunk();
    if (is_distance(scorer.config().kind)) return cpdist_of<std::int64_t>(scorer, run, cutoff, out, n, pairs);
    return cpdist_of<double>(scorer, run, cutoff, out, n, pairs);
}

bool topk(const PairScorer& scorer, std::size_t k, const Runner& run, std::size_t workers, const Cutoff& cutoff,
          std::int64_t* indices, Output scores, const ChoiceLengths& choice_lengths) {
    const std::size_t n_a = scorer.rows(), n_b = scorer.columns();
    if (k == 0 || n_a == 0) return true;
    workers = std::max<std::size_t>(workers, 1);
    const std::size_t pairs = scorer.pairs_per_chunk();
    if (prefers_pruned_search(n_a) && bounds_hold_with_options(scorer.config())) {
        if (is_distance(scorer.config().kind))
            return search_of<std::int64_t>(scorer, k, run, workers, cutoff, choice_lengths, indices, scores, pairs);
        return search_of<double>(scorer, k, run, workers, cutoff, choice_lengths, indices, scores, pairs);
    }
    if (is_distance(scorer.config().kind))
        return topk_of<std::int64_t>(scorer, k, run, workers, cutoff, indices, scores, n_a, n_b, pairs);
    return topk_of<double>(scorer, k, run, workers, cutoff, indices, scores, n_a, n_b, pairs);
}

std::optional<JoinResult> threshold_join(const PairScorer& scorer, bool self_join, const Runner& run,
                                         const Cutoff& cutoff) {
    const std::size_t n_a = scorer.rows(), n_b = scorer.columns();
    const std::size_t pairs = scorer.pairs_per_chunk();
    if (is_distance(scorer.config().kind))
        return join_of<std::int64_t>(scorer, self_join, run, cutoff, n_a, n_b, pairs);
    return join_of<double>(scorer, self_join, run, cutoff, n_a, n_b, pairs);
}

}  // namespace vorn::collection
