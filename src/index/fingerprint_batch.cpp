#include "index/fingerprint_batch.hpp"

#include "algo/simhash.hpp"

namespace vorn::index {

Expected<std::size_t, InvalidArgument> minhash_signature_rows(std::span<const std::string_view> texts,
                                                              std::size_t begin, std::size_t end,
                                                              std::uint64_t shingle_size, std::uint64_t num_hashes,
                                                              std::span<std::uint64_t> out,
                                                              algo::MinHashScratch& scratch) {
    for (std::size_t i = begin; i < end; ++i) {
        auto signed_text =
            algo::minhash_signature_into(texts[i], shingle_size, out.subspan(i * num_hashes, num_hashes), scratch);
        if (!signed_text) return signed_text.error();
    }
    return end - begin;
}

Expected<std::size_t, InvalidArgument> simhash_fingerprint_rows(std::span<const std::string_view> texts,
                                                                std::size_t begin, std::size_t end,
                                                                std::uint64_t shingle_size,
                                                                std::span<std::uint64_t> out) {
    for (std::size_t i = begin; i < end; ++i) {
        auto fingerprint = algo::simhash_fingerprint(texts[i], shingle_size);
        if (!fingerprint) return fingerprint.error();
        out[i] = *fingerprint;
    }
    return end - begin;
}

}  // namespace vorn::index
