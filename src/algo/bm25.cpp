#include "algo/bm25.hpp"

#include <cmath>
#include <cstdint>
#include <memory_resource>
#include <utility>
#include <vector>

#include "algo/term_tokens.hpp"

namespace vorn::algo {
namespace {

// Statistics of the corpus [query text, document text].
class Bm25Index {
public:
    Bm25Index(const TermCounts& counts, std::uint64_t length_a, std::uint64_t length_b)
        : counts_(counts),
          doc_lengths_{length_a, length_b},
          avg_doc_len_(static_cast<double>(length_a + length_b) * 0.5) {}

    // Raw scores of the query (the tokens of document 0, in order, once per
    // occurrence) against both documents. Every query term is in the index.
    std::pair<double, double> scores() const {
        if (counts_.ids_a.empty() || counts_.terms.empty()) return {0.0, 0.0};
        // df is 1 or 2, so there are only two idf values.
        static const double idf_one = idf(1.0);
        static const double idf_both = idf(2.0);
        const double norm[2] = {length_norm(0), length_norm(1)};

        // One addend per distinct query term and document, then the sums
        // in query order. Counts are small, so each document's saturation
        // of the common counts is computed once.
        SaturationCache cache[2] = {SaturationCache(norm[0]), SaturationCache(norm[1])};
        std::pmr::vector<std::pair<double, double>> addend(counts_.distinct_a, counts_.terms.get_allocator());
        for (std::size_t id = 0; id < counts_.distinct_a; ++id) {
            const TermCounts::Term& term = counts_.terms[id];
            const double weight = term.count[1] != 0 ? idf_both : idf_one;
            addend[id] = {weight * cache[0].get(term.count[0]), weight * cache[1].get(term.count[1])};
        }
        double own = 0.0, other = 0.0;
        for (std::size_t id : counts_.ids_a) {
            own = own + addend[id].first;
            other = other + addend[id].second;
        }
        return {own, other};
    }

private:
    static double idf(double df) { return std::log(((kNumDocs - df) + 0.5) / (df + 0.5) + 1.0); }

    double length_norm(int doc) const {
        const double dl = static_cast<double>(doc_lengths_[doc]);
        return ((dl * kB) / avg_doc_len_ + (1.0 - kB)) * kK1;
    }

    static double saturated(std::uint64_t count, double length_norm) {
        const double f = static_cast<double>(count);
        return (f * (kK1 + 1.0)) / (f + length_norm);
    }

    // saturated(count, length_norm), remembered for counts below 16.
    class SaturationCache {
    public:
        explicit SaturationCache(double length_norm) : length_norm_(length_norm) {}
        double get(std::uint64_t count) {
            if (count >= kSize) return saturated(count, length_norm_);
            if (!(known_ >> count & 1)) {
                values_[count] = saturated(count, length_norm_);
                known_ |= 1u << count;
            }
            return values_[count];
        }

    private:
        static constexpr std::uint64_t kSize = 16;
        double length_norm_;
        std::uint32_t known_ = 0;
        double values_[kSize];
    };

    static constexpr double kK1 = 1.2;
    static constexpr double kB = 0.75;
    static constexpr double kNumDocs = 2.0;

    const TermCounts& counts_;
    std::uint64_t doc_lengths_[2];
    double avg_doc_len_;
};

}  // namespace

double bm25_similarity(std::string_view query, std::string_view document) {
    ScoringArena arena;
    const TermCounts counts = count_terms(query, document, arena.get());
    const Bm25Index index(counts, counts.tokens[0], counts.tokens[1]);

    const auto [own, raw] = index.scores();
    double best = 0.0;
    if (own > best) best = own;
    if (raw > best) best = raw;
    return best > 0.0 ? raw / best : 0.0;
}

}  // namespace vorn::algo
