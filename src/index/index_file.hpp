// The binary index file, version 1 (all integers little-endian):
//
//   offset  size  field
//        0     8  magic: 89 56 4B 49 58 0D 0A 1A  ("\x89VKIX\r\n\x1a")
//        8     4  format version (1)
//       12     4  index kind (1: MinHash LSH, 2: SimHash index, 3: edit index)
//       16     8  number of documents
//       24    64  eight parameter words (the kind's parameters, doubles as
//                 their IEEE-754 bits)
//       88     8  number of sections S (at most kMaxSections)
//       96  24*S  per section: offset, length in bytes, checksum
//   96+24S     8  checksum of all header bytes before it
//
// Sections follow in order, each starting at a multiple of 64 bytes, the
// gaps zero-filled; the file ends where the last section ends. The
// checksum is index::checksum below. Any deviation (short file, wrong
// magic, unknown version or kind, a section out of place, a checksum that
// does not match, non-zero padding) is refused with a message. Sections
// are used in place from a private copy of the file in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error/vorn_error.hpp"

namespace vorn::index {

inline constexpr std::uint32_t kFormatVersion = 1;
inline constexpr std::uint64_t kMaxSections = 80;
enum class IndexKind : std::uint32_t { kMinHashLsh = 1, kSimHash = 2, kEditDistance = 3 };

// A file could not be read or written (errno), or is not a valid index
// file (message).
struct FileProblem {
    int os_error;  // 0 when the file is malformed
    std::string_view message;
};

// 64-bit checksum of bytes: four interleaved multiply-rotate lanes over
// 8-byte words, the length and the tail folded in. Changing any single byte
// always changes it.
std::uint64_t checksum(std::span<const std::byte> bytes) noexcept;

// The bytes of a whole file, read into memory of our own (64-byte
// aligned, as the sections are): an index never reads the file again, so
// a file truncated or rewritten after loading cannot fault or change it.
class LoadedFile {
public:
    static Expected<std::shared_ptr<const LoadedFile>, FileProblem> open(const std::string& path);
    LoadedFile(const LoadedFile&) = delete;
    LoadedFile& operator=(const LoadedFile&) = delete;
    std::span<const std::byte> bytes() const noexcept { return {data_.get(), size_}; }

private:
    static constexpr std::align_val_t kBufferAlignment{64};
    struct AlignedDelete {
        void operator()(std::byte* data) const noexcept { ::operator delete(data, kBufferAlignment); }
    };
    using Buffer = std::unique_ptr<std::byte[], AlignedDelete>;
    LoadedFile(Buffer data, std::size_t size) noexcept : data_(std::move(data)), size_(size) {}
    Buffer data_;
    std::size_t size_;
};

struct IndexHeader {
    IndexKind kind;
    std::uint64_t documents;
    std::array<std::uint64_t, 8> params;
};

struct IndexFile {
    IndexHeader header;
    std::vector<std::span<const std::byte>> sections;
    std::shared_ptr<const LoadedFile> loaded;  // keeps the sections valid
};

// Writes to a new temporary file beside `path` and renames it into place,
// so an existing file is never left half-written and concurrent writers
// leave one whole file.
Expected<std::size_t, FileProblem> write_index_file(const std::string& path, const IndexHeader& header,
                                                    std::span<const std::span<const std::byte>> sections);

// Reads and checks a file of the expected kind; the caller checks the
// parameters and the number and contents of the sections.
Expected<IndexFile, FileProblem> read_index_file(const std::string& path, IndexKind kind);

inline constexpr FileProblem kMalformed{0, "index file is malformed"};

template <class T>
std::span<const std::byte> as_bytes_of(std::span<const T> values) noexcept {
    return std::as_bytes(values);
}

// The section as an array of T, when its length is exactly count values.
template <class T>
bool section_as(std::span<const std::byte> section, std::size_t count, std::span<const T>& out) noexcept {
    if (section.size() / sizeof(T) != count || section.size() % sizeof(T) != 0) return false;
    out = {reinterpret_cast<const T*>(section.data()), count};
    return true;
}

}  // namespace vorn::index
