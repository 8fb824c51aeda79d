#include "index/documents.hpp"

#include <algorithm>
#include <utility>

namespace vorn::index {
namespace {

// Position of the first key that repeats an earlier one in the batch.
std::size_t first_repeat(std::span<const std::int64_t> keys) {
    std::vector<std::pair<std::int64_t, std::size_t>> order(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) order[i] = {keys[i], i};
    std::sort(order.begin(), order.end());
    std::size_t first = keys.size();
    for (std::size_t i = 1; i < order.size(); ++i)
        if (order[i].first == order[i - 1].first) first = std::min(first, order[i].second);
    return first;
}

}  // namespace

std::int64_t Documents::slot_of(std::int64_t key) const noexcept {
    std::int64_t found = -1;
    const auto bits = static_cast<std::uint64_t>(key);
    by_key_.for_each_in(bits, bits, [&](const Entry& e) {
        if (alive_[e.slot]) found = e.slot;
    });
    return found;
}

Expected<std::uint32_t, KeyProblem> Documents::append(std::span<const std::int64_t> keys) {
    const std::size_t first = slot_count();
    // The last slot number is kept free as the table's "dropped" marker.
    if (keys.size() >= EntryTable::kDropped - first) return KeyProblem{KeyProblem::Kind::kTooMany, 0};
    std::vector<Entry> entries(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        entries[i] = {static_cast<std::uint64_t>(keys[i]), static_cast<std::uint32_t>(first + i)};
    sort_entries(entries);
    // In a run of equal keys every slot after the first repeats the key.
    std::size_t repeat = keys.size();
    for (std::size_t i = 1; i < entries.size(); ++i)
        if (entries[i].key == entries[i - 1].key) repeat = std::min<std::size_t>(repeat, entries[i].slot - first);
    if (repeat < keys.size()) return KeyProblem{KeyProblem::Kind::kRepeated, repeat};
    if (live_ > 0) {
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (slot_of(keys[i]) >= 0) return KeyProblem{KeyProblem::Kind::kPresent, i};
    }

    std::vector<std::int64_t>& owned = keys_.owned();
    owned.insert(owned.end(), keys.begin(), keys.end());
    keys_.sync();
    alive_.resize(owned.size(), 1);
    live_ += keys.size();
    by_key_.insert(std::move(entries));
    return static_cast<std::uint32_t>(first);
}

Expected<std::size_t, KeyProblem> Documents::remove(std::span<const std::int64_t> keys) {
    if (const std::size_t at = first_repeat(keys); at < keys.size()) return KeyProblem{KeyProblem::Kind::kMissing, at};
    std::vector<std::uint32_t> slots(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::int64_t slot = slot_of(keys[i]);
        if (slot < 0) return KeyProblem{KeyProblem::Kind::kMissing, i};
        slots[i] = static_cast<std::uint32_t>(slot);
    }
    for (std::uint32_t slot : slots) alive_[slot] = 0;
    live_ -= slots.size();
    return slots.size();
}

std::vector<std::uint32_t> Documents::compact() {
    std::vector<std::uint32_t> new_slot(slot_count(), EntryTable::kDropped);
    std::vector<std::int64_t> kept;
    kept.reserve(live_);
    for (std::size_t slot = 0; slot < slot_count(); ++slot) {
        if (!alive_[slot]) continue;
        new_slot[slot] = static_cast<std::uint32_t>(kept.size());
        kept.push_back(keys_[slot]);
    }
    keys_.replace(std::move(kept));
    alive_.assign(live_, 1);
    by_key_.renumber(new_slot);
    return new_slot;
}

bool Documents::adopt(std::span<const std::int64_t> keys) {
    if (keys.size() >= EntryTable::kDropped) return false;
    keys_.adopt(keys);
    alive_.assign(keys.size(), 1);
    live_ = keys.size();
    std::vector<Entry> entries(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        entries[i] = {static_cast<std::uint64_t>(keys[i]), static_cast<std::uint32_t>(i)};
    std::sort(entries.begin(), entries.end());
    for (std::size_t i = 1; i < entries.size(); ++i)
        if (entries[i].key == entries[i - 1].key) return false;
    by_key_.adopt({});
    by_key_.insert(std::move(entries));
    return true;
}

}  // namespace vorn::index
