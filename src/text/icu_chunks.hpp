// What the Unicode steps (NFC, lowercasing) share on their way to ICU:
// ICU measures text in 32-bit lengths, so texts are handed over in chunks
// cut where the step gives the same result on the pieces as on the whole;
// output is collected by a sink that never throws into ICU; a failure ICU
// reports is returned, never ignored.
#pragma once

#include <unicode/bytestream.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace vorn::text {

// The Unicode steps that run through ICU.
enum class UnicodeStep { Normalization, Lowercasing };

// A failed Unicode step. `reason` is static text: ICU's name for its
// status, or why no chunk could be cut.
struct UnicodeFailure {
    UnicodeStep step;
    bool out_of_memory;
    std::string_view reason;
};

// "Unicode normalization (NFC)" or "lowercasing".
std::string_view step_name(UnicodeStep step) noexcept;

// "{step name} failed: {reason}".
std::string describe(const UnicodeFailure& failure);

// Chunks aim at `target` bytes and may grow up to `max` bytes to reach a
// safe cut; with no safe cut within `max` the step fails. The tests shrink
// both to exercise the cuts on small texts.
struct ChunkLimits {
    std::size_t target;
    std::size_t max;
};

// ICU's lengths are int32_t.
inline constexpr ChunkLimits kIcuChunks{std::size_t{1} << 24,
                                        static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())};

// End of the chunk that starts at `start`: text.size() when the rest fits
// in limits.target; otherwise the safe cut closest below start + target,
// else the first one above it within start + max; npos when there is none.
// `is_safe_cut(pos)` is asked about character boundaries start < pos < size.
template <class IsSafeCut>
std::size_t chunk_end(std::string_view text, std::size_t start, ChunkLimits limits, IsSafeCut&& is_safe_cut) {
    const std::size_t rest = text.size() - start;
    if (rest <= limits.target) return text.size();
    auto is_boundary = [&](std::size_t pos) { return (static_cast<unsigned char>(text[pos]) & 0xC0) != 0x80; };
    for (std::size_t pos = start + limits.target; pos > start; --pos) {
        if (is_boundary(pos) && is_safe_cut(pos)) return pos;
    }
    if (rest <= limits.max) return text.size();
    for (std::size_t pos = start + limits.target + 1; pos <= start + limits.max; ++pos) {
        if (is_boundary(pos) && is_safe_cut(pos)) return pos;
    }
    return std::string_view::npos;
}

// Appends ICU's output to a std::string. An allocation failure is recorded
// instead of thrown through ICU's frames, and later output is dropped.
class AppendSink final : public icu::ByteSink {
public:
    explicit AppendSink(std::string& out) noexcept : out_(out) {}
    void Append(const char* bytes, int32_t n) override;
    bool out_of_memory() const noexcept { return out_of_memory_; }

private:
    std::string& out_;
    bool out_of_memory_ = false;
};

// The failure for an ICU status (U_FAILURE(status) holds).
UnicodeFailure icu_failure(UnicodeStep step, int status) noexcept;

// The failure when a run longer than limits.max bytes has no safe cut.
inline constexpr std::string_view kNoSafeCut = "no safe place to split a run longer than ICU's 32-bit length limit";

}  // namespace vorn::text
