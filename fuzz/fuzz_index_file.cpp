// Index files from arbitrary bytes: loading refuses what is not a valid
// index and never faults, and an index that loads answers queries, pairs
// and changes, also after its file has been truncated. The first byte
// picks whether the checksums are recomputed first, so that the checks
// behind them are reached too.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "index/index_file.hpp"
#include "index/minhash_lsh.hpp"
#include "index/simhash_index.hpp"

namespace {

std::uint64_t load64(const std::vector<std::byte>& file, std::size_t at) {
    std::uint64_t v;
    std::memcpy(&v, file.data() + at, 8);
    return v;
}

void store64(std::vector<std::byte>& file, std::size_t at, std::uint64_t v) { std::memcpy(file.data() + at, &v, 8); }

// Recomputes every checksum whose bytes lie inside the file.
void reseal(std::vector<std::byte>& file) {
    if (file.size() < 96) return;
    const std::uint64_t count = load64(file, 88);
    if (count > vorn::index::kMaxSections || file.size() < 96 + 24 * count + 8) return;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t offset = load64(file, 96 + 24 * i), length = load64(file, 96 + 24 * i + 8);
        if (offset <= file.size() && length <= file.size() - offset)
            store64(file, 96 + 24 * i + 16, vorn::index::checksum(std::span(file).subspan(offset, length)));
    }
    const std::size_t head = 96 + 24 * count;
    store64(file, head, vorn::index::checksum(std::span(file).first(head)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::vector<std::byte> file(size - 1);
    if (size > 1) std::memcpy(file.data(), data + 1, size - 1);
    if (data[0] & 1) reseal(file);
    static const std::string path = "/tmp/vorn-fuzz-index-" + std::to_string(::getpid());
    std::FILE* out = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(std::fwrite(file.data(), 1, file.size(), out) == file.size());
    std::fclose(out);

    auto lsh = vorn::index::MinHashLsh::load(path);
    auto index = vorn::index::SimHashIndex::load(path);
    // A loaded index holds its own copy: the file cut to nothing under it
    // changes nothing it reads.
    FUZZ_CHECK(::truncate(path.c_str(), 0) == 0);
    if (lsh) {
        const std::size_t m = lsh->settings().num_hashes;
        if (m <= 4096) {
            const std::vector<std::uint64_t> signature(m, 7);
            (void)lsh->query(signature);
            const std::int64_t key = -5;
            (void)lsh->add({&key, 1}, signature);
        }
        const auto pairs = lsh->candidate_pairs();
        for (std::size_t i = 0; i < pairs.first.size(); ++i) FUZZ_CHECK(pairs.first[i] < pairs.second[i]);
        const auto keys = lsh->keys();
        (void)lsh->remove(keys.first(keys.size() / 2));
    }
    if (index) {
        const auto matches = index->query(0);
        for (std::uint8_t d : matches.distances) FUZZ_CHECK(d <= index->max_distance());
        const auto pairs = index->pairs();
        for (std::size_t i = 0; i < pairs.first.size(); ++i) FUZZ_CHECK(pairs.first[i] < pairs.second[i]);
    }
    return 0;
}
