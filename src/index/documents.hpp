// The documents of an index: the caller's int64 keys by slot, which slots
// are alive, and the lookup from key to slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "error/vorn_error.hpp"
#include "index/entry_table.hpp"

namespace vorn::index {

// Why a batch of keys was refused, and the position of the first key that
// caused it. Nothing has changed when it is returned.
struct KeyProblem {
    enum class Kind { kRepeated, kPresent, kMissing, kTooMany };
    Kind kind;
    std::size_t position;
};

class Documents {
public:
    std::size_t slot_count() const noexcept { return keys_.size(); }
    std::size_t live_count() const noexcept { return live_; }
    bool alive(std::uint32_t slot) const noexcept { return alive_[slot] != 0; }
    std::int64_t key(std::uint32_t slot) const noexcept { return keys_[slot]; }

    // Slots for new keys, the first one returned; refuses keys repeated in
    // the batch or already present, and more slots than 32 bits number.
    Expected<std::uint32_t, KeyProblem> append(std::span<const std::int64_t> keys);

    // Marks the documents of the keys removed; refuses a missing or
    // repeated key without removing anything.
    Expected<std::size_t, KeyProblem> remove(std::span<const std::int64_t> keys);

    // True when removed slots are worth dropping; then compact() returns
    // the old-to-new slot map (EntryTable::kDropped for removed slots) to
    // apply to the other tables.
    bool wants_compaction() const noexcept { return slot_count() - live_ > std::max<std::size_t>(1024, live_); }
    std::vector<std::uint32_t> compact();

    std::span<const std::int64_t> keys() const noexcept { return keys_.view(); }
    // Takes over the keys of a loaded file (all alive, unique: checked by
    // the loader) without copying them.
    bool adopt(std::span<const std::int64_t> keys);

    // Slot of a live key; -1 when absent or removed.
    std::int64_t slot_of(std::int64_t key) const noexcept;

private:
    Column<std::int64_t> keys_;
    std::vector<std::uint8_t> alive_;
    std::size_t live_ = 0;
    EntryTable by_key_;
};

}  // namespace vorn::index
