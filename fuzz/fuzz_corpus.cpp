// TF-IDF cosine and BM25 over two texts against references with their own
// tokeniser (ICU's UnicodeString lowercasing, not the library's CaseMap path).
// Sums run in order of first occurrence, the order the library promises,
// so both scores are compared to the last bit.
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "algo/bm25.hpp"
#include "algo/tfidf.hpp"
#include "fuzz_input.hpp"

namespace {

using vorn::fuzz::in_unit_range;
using vorn::fuzz::same_bits;

constexpr std::size_t kMaxChars = 600;

bool is_separator(char32_t cp) {
    const bool punctuation = (cp >= 0x21 && cp <= 0x2F) || (cp >= 0x3A && cp <= 0x40) || (cp >= 0x5B && cp <= 0x60) ||
                             (cp >= 0x7B && cp <= 0x7E);
    return punctuation || vorn::fuzz::is_white_space(cp);
}

std::string lower(const std::u32string& piece) {
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(vorn::fuzz::encode(piece));
    s.toLower(icu::Locale::getRoot());
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::vector<std::string> terms(const std::u32string& cps) {
    std::vector<std::string> out;
    for (const std::u32string& piece : vorn::fuzz::split(cps, is_separator)) out.push_back(lower(piece));
    return out;
}

// Distinct terms in order of first occurrence, with their counts.
struct Counts {
    std::vector<std::string> order;
    std::map<std::string, double> count;
};

Counts count(const std::vector<std::string>& tokens) {
    Counts c;
    for (const std::string& t : tokens) {
        if (c.count[t]++ == 0) c.order.push_back(t);
    }
    return c;
}

double reference_tfidf(const std::vector<std::string>& ta, const std::vector<std::string>& tb) {
    const Counts ca = count(ta), cb = count(tb);
    auto idf = [&](const std::string& t) {
        const double df = static_cast<double>(ca.count.count(t) + cb.count.count(t));
        return std::log(3.0 / (df + 1.0)) + 1.0;
    };
    auto weights = [&](const Counts& c, double length) {
        std::map<std::string, double> w;
        double sum = 0.0;
        for (const std::string& t : c.order) {
            const double x = (c.count.at(t) / length) * idf(t);
            w[t] = x;
            sum += x * x;
        }
        return std::pair{w, std::sqrt(sum)};
    };
    const auto [wa, norm_a] = weights(ca, static_cast<double>(ta.size()));
    const auto [wb, norm_b] = weights(cb, static_cast<double>(tb.size()));
    if (norm_a == 0.0 || norm_b == 0.0) return wa.empty() && wb.empty() ? 1.0 : 0.0;
    double dot = -0.0;
    for (const std::string& t : ca.order) {
        if (wb.count(t)) dot += wa.at(t) * wb.at(t);
    }
    const double cosine = dot / (norm_a * norm_b);
    return (cosine > 1.0 ? 1.0 : cosine) + 0.0;
}

double reference_bm25(const std::vector<std::string>& ta, const std::vector<std::string>& tb) {
    const Counts docs[2] = {count(ta), count(tb)};
    const double lengths[2] = {static_cast<double>(ta.size()), static_cast<double>(tb.size())};
    const double avg = static_cast<double>(ta.size() + tb.size()) * 0.5;
    const double k1 = 1.2, b = 0.75;
    auto score = [&](int doc) {
        if (ta.empty()) return 0.0;  // no query, or no term at all
        const double K = ((lengths[doc] * b) / avg + (1.0 - b)) * k1;
        double s = 0.0;
        for (const std::string& t : ta) {
            const double df = static_cast<double>(docs[0].count.count(t) + docs[1].count.count(t));
            const double idf = std::log(((2.0 - df) + 0.5) / (df + 0.5) + 1.0);
            const auto found = docs[doc].count.find(t);
            const double f = found == docs[doc].count.end() ? 0.0 : found->second;
            s = s + idf * ((f * (k1 + 1.0)) / (f + K));
        }
        return s;
    };
    const double raw = score(1);
    double m = 0.0;
    for (int doc = 0; doc < 2; ++doc) {
        const double x = score(doc);
        if (x > m) m = x;
    }
    return m > 0.0 ? raw / m : 0.0;
}

void check(const std::string& a, const std::string& b, const std::u32string& ca, const std::u32string& cb) {
    const auto ta = terms(ca), tb = terms(cb);

    const double tfidf = vorn::algo::tfidf_similarity(a, b);
    FUZZ_CHECK(same_bits(tfidf, reference_tfidf(ta, tb)));
    FUZZ_CHECK(in_unit_range(tfidf));
    FUZZ_CHECK(!std::signbit(tfidf));
    FUZZ_CHECK(std::fabs(tfidf - vorn::algo::tfidf_similarity(b, a)) <= 1e-12);
    if (ta.empty() != tb.empty()) FUZZ_CHECK(tfidf == 0.0);
    const double tfidf_self = vorn::algo::tfidf_similarity(a, a);
    FUZZ_CHECK(ta.empty() ? tfidf_self == 1.0 : tfidf_self >= 1.0 - 1e-12 && tfidf_self <= 1.0);

    const double bm25 = vorn::algo::bm25_similarity(a, b);
    FUZZ_CHECK(same_bits(bm25, reference_bm25(ta, tb)));
    FUZZ_CHECK(in_unit_range(bm25));
    if (ta.empty() || tb.empty()) FUZZ_CHECK(bm25 == 0.0);
    FUZZ_CHECK(vorn::algo::bm25_similarity(a, a) == (ta.empty() ? 0.0 : 1.0));
    if (ta == tb) FUZZ_CHECK(bm25 == (ta.empty() ? 0.0 : 1.0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorn::fuzz::FuzzInput input(data, size);
    auto [ca, cb] = input.pair_points(kMaxChars);
    const std::string a = vorn::fuzz::encode(ca);
    const std::string b = vorn::fuzz::encode(cb);
    check(a, b, ca, cb);
    return 0;
}
