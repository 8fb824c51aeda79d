#include "index/index_file.hpp"

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/hash.hpp"

namespace vorn::index {
namespace {

static_assert(std::endian::native == std::endian::little, "the index file format is read in place");

constexpr unsigned char kMagic[8] = {0x89, 'V', 'K', 'I', 'X', '\r', '\n', 0x1A};
constexpr std::size_t kFixedHeader = 96;
constexpr std::size_t kSectionRecord = 24;
constexpr std::size_t kAlignment = 64;
constexpr std::uint64_t kPrime = support::kFnvPrime;
constexpr std::uint64_t kGolden = support::kGoldenRatio64;

constexpr FileProblem kTruncated{0, "index file is truncated"};
constexpr FileProblem kCorrupted{0, "index file is corrupted (checksum mismatch)"};
constexpr FileProblem kForeign{0, "not a vornkit index file"};
constexpr FileProblem kVersion{0, "unsupported index file version"};
constexpr FileProblem kWrongKind{0, "index file holds another kind of index"};

std::uint64_t load_u64(const std::byte* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint32_t load_u32(const std::byte* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint64_t aligned(std::uint64_t offset) noexcept { return (offset + kAlignment - 1) / kAlignment * kAlignment; }

std::size_t header_size(std::uint64_t sections) noexcept { return kFixedHeader + kSectionRecord * sections + 8; }

class Writer {
public:
    explicit Writer(int fd) : fd_(fd) {}
    bool write(const void* data, std::size_t size) noexcept {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t done = ::write(fd_, p, size);
            if (done < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            p += done;
            size -= static_cast<std::size_t>(done);
        }
        return true;
    }

private:
    int fd_;
};

// Creates a new file named "<path>.tmp-<random>" for writing: exclusively
// (O_EXCL never follows a link planted at the name, nor shares the file
// with another writer) and under a name no other process can guess ahead.
// Returns the descriptor, or -1 with errno set.
int create_temporary_beside(const std::string& path, std::string& temporary) {
    static std::atomic<std::uint64_t> counter{0};
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::uint64_t noise = (std::uint64_t{entropy()} << 32 | entropy()) ^ counter.fetch_add(1) * kGolden;
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", static_cast<unsigned long long>(noise));
        temporary = path + suffix;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

std::uint64_t checksum(std::span<const std::byte> bytes) noexcept {
    std::uint64_t lanes[4] = {kGolden, kGolden * 3, kGolden * 5, kGolden * 7};
    const std::byte* p = bytes.data();
    std::size_t n = bytes.size();
    for (; n >= 32; p += 32, n -= 32)
        for (int lane = 0; lane < 4; ++lane)
            lanes[lane] = std::rotl((lanes[lane] ^ load_u64(p + 8 * lane)) * kPrime, 29);
    // Whole words left, then the last bytes padded with zeros; each step
    // is a bijection of the lane, so a changed byte changes the result.
    for (int lane = 0; n >= 8; p += 8, n -= 8, ++lane)
        lanes[lane] = std::rotl((lanes[lane] ^ load_u64(p)) * kPrime, 29);
    std::uint64_t last = 0;
    if (n > 0) std::memcpy(&last, p, n);  // p may be null for an empty span
    std::uint64_t h = (bytes.size() * kGolden) ^ last;
    for (std::uint64_t lane : lanes) h = std::rotl((h ^ lane) * kPrime, 31) + kGolden;
    return h;
}

Expected<std::shared_ptr<const LoadedFile>, FileProblem> LoadedFile::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return FileProblem{errno, {}};
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return FileProblem{error, {}};
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return FileProblem{S_ISDIR(info.st_mode) ? EISDIR : EINVAL, {}};
    }
    // The size is where reading stops: bytes appended meanwhile are left
    // out, and a file cut short meanwhile reads short (and is refused as
    // truncated).
    const auto capacity = static_cast<std::size_t>(info.st_size);
    Buffer buffer(capacity == 0 ? nullptr : static_cast<std::byte*>(::operator new(capacity, kBufferAlignment)));
    std::size_t size = 0;
    while (size < capacity) {
        const ssize_t done = ::read(fd, buffer.get() + size, capacity - size);
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) {
            const int error = errno;
            ::close(fd);
            return FileProblem{error, {}};
        }
        if (done == 0) break;
        size += static_cast<std::size_t>(done);
    }
    ::close(fd);
    return std::shared_ptr<const LoadedFile>(new LoadedFile(std::move(buffer), size));
}

Expected<std::size_t, FileProblem> write_index_file(const std::string& path, const IndexHeader& header,
                                                    std::span<const std::span<const std::byte>> sections) {
    const std::size_t count = sections.size();
    std::vector<std::byte> head(header_size(count), std::byte{0});
    auto put64 = [&](std::size_t at, std::uint64_t v) { std::memcpy(head.data() + at, &v, 8); };
    std::memcpy(head.data(), kMagic, 8);
    const std::uint32_t version = kFormatVersion, kind = static_cast<std::uint32_t>(header.kind);
    std::memcpy(head.data() + 8, &version, 4);
    std::memcpy(head.data() + 12, &kind, 4);
    put64(16, header.documents);
    for (std::size_t i = 0; i < 8; ++i) put64(24 + 8 * i, header.params[i]);
    put64(88, count);
    std::uint64_t offset = aligned(head.size());
    for (std::size_t i = 0; i < count; ++i) {
        put64(kFixedHeader + kSectionRecord * i, offset);
        put64(kFixedHeader + kSectionRecord * i + 8, sections[i].size());
        put64(kFixedHeader + kSectionRecord * i + 16, checksum(sections[i]));
        offset = aligned(offset + sections[i].size());
    }
    put64(head.size() - 8, checksum(std::span(head).first(head.size() - 8)));

    std::string temporary;
    const int fd = create_temporary_beside(path, temporary);
    if (fd < 0) return FileProblem{errno, {}};
    Writer out(fd);
    static const std::byte zeros[kAlignment] = {};
    bool ok = out.write(head.data(), head.size());
    std::uint64_t written = head.size();
    for (std::size_t i = 0; ok && i < count; ++i) {
        ok = out.write(zeros, aligned(written) - written) && out.write(sections[i].data(), sections[i].size());
        written = aligned(written) + sections[i].size();
    }
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) error = errno, ok = false;
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno, ok = false;
    if (!ok) {
        ::unlink(temporary.c_str());
        return FileProblem{error, {}};
    }
    return static_cast<std::size_t>(written);
}

Expected<IndexFile, FileProblem> read_index_file(const std::string& path, IndexKind kind) {
    auto loaded = LoadedFile::open(path);
    if (!loaded) return loaded.error();
    const std::span<const std::byte> bytes = (*loaded)->bytes();
    const std::byte* base = bytes.data();
    if (bytes.size() < 8 || std::memcmp(base, kMagic, 8) != 0) return kForeign;
    if (bytes.size() < kFixedHeader) return kTruncated;
    const std::uint64_t count = load_u64(base + 88);
    if (count > kMaxSections) return kCorrupted;
    const std::size_t head = header_size(count);
    if (bytes.size() < head) return kTruncated;
    if (load_u64(base + head - 8) != checksum(bytes.first(head - 8))) return kCorrupted;
    if (load_u32(base + 8) != kFormatVersion) return kVersion;
    if (load_u32(base + 12) != static_cast<std::uint32_t>(kind)) return kWrongKind;

    IndexFile file{{kind, load_u64(base + 16), {}}, {}, std::move(*loaded)};
    for (std::size_t i = 0; i < 8; ++i) file.header.params[i] = load_u64(base + 24 + 8 * i);
    std::uint64_t expected_offset = aligned(head);
    std::uint64_t end = head;
    for (std::size_t i = 0; i < count; ++i) {
        const std::byte* record = base + kFixedHeader + kSectionRecord * i;
        const std::uint64_t offset = load_u64(record), length = load_u64(record + 8);
        if (offset != expected_offset || length > (std::uint64_t{1} << 56)) return kMalformed;
        if (bytes.size() < offset + length) return kTruncated;
        for (std::uint64_t gap = end; gap < offset; ++gap)
            if (base[gap] != std::byte{0}) return kCorrupted;
        const auto section = bytes.subspan(offset, length);
        if (checksum(section) != load_u64(record + 16)) return kCorrupted;
        file.sections.push_back(section);
        end = offset + length;
        expected_offset = aligned(end);
    }
    if (bytes.size() != end) return bytes.size() < end ? kTruncated : kMalformed;
    return file;
}

}  // namespace vorn::index
