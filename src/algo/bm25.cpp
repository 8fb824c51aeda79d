#include "algo/bm25.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

#include "algo/term_tokens.hpp"

namespace vorn::algo {
namespace {

// Statistics of the corpus [query text, document text].
class Bm25Index {
public:
    Bm25Index(const TermCounts& counts, std::uint64_t length_a, std::uint64_t length_b)
        : counts_(counts), doc_lengths_{length_a, length_b},
          avg_doc_len_(static_cast<double>(length_a + length_b) * 0.5) {}

    // Raw score of the query (the tokens of document 0, in order, once per
    // occurrence) against document `doc`. Every query term is in the index.
    double score(int doc) const {
        if (counts_.ids_a.empty() || counts_.terms.empty()) return 0.0;
        const double dl = static_cast<double>(doc_lengths_[doc]);
        const double length_norm = ((dl * kB) / avg_doc_len_ + (1.0 - kB)) * kK1;

        // One addend per distinct query term, then the sum in query order.
        std::vector<double> addend(counts_.distinct_a);
        for (std::size_t id = 0; id < counts_.distinct_a; ++id) {
            const TermCounts::Term& term = counts_.terms[id];
            const double df = static_cast<double>((term.count[0] != 0) + (term.count[1] != 0));
            const double idf = std::log(((kNumDocs - df) + 0.5) / (df + 0.5) + 1.0);
            const double f = static_cast<double>(term.count[doc]);
            addend[id] = idf * ((f * (kK1 + 1.0)) / (f + length_norm));
        }
        double s = 0.0;
        for (std::size_t id : counts_.ids_a) s = s + addend[id];
        return s;
    }

private:
    static constexpr double kK1 = 1.2;
    static constexpr double kB = 0.75;
    static constexpr double kNumDocs = 2.0;

    const TermCounts& counts_;
    std::uint64_t doc_lengths_[2];
    double avg_doc_len_;
};

}  // namespace

double bm25_similarity(std::string_view query, std::string_view document) {
    TermTokens tokens_a(query), tokens_b(document);
    const TermCounts counts = count_terms(tokens_a.terms(), tokens_b.terms());
    const Bm25Index index(counts, tokens_a.terms().size(), tokens_b.terms().size());

    const double raw = index.score(1);
    double best = 0.0;
    const double own = index.score(0);
    if (own > best) best = own;
    if (raw > best) best = raw;
    return best > 0.0 ? raw / best : 0.0;
}

}  // namespace vorn::algo
