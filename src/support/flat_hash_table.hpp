// The library's one hash table: a set or a map with open addressing and
// linear probing over a power-of-two number of slots, kept at most half
// full.
//
// Callers size it up front from the number of keys they expect (a text's
// length, a list's size), so filling it never rehashes and inserting never
// allocates; it still doubles if more keys come. Small tables can live in
// an inline buffer (InlineSlots), so short texts never reach the heap.
//
// A slot is free when its key is the "free key" (FreeKey, by default the
// value-initialised key). Such a key can be stored all the same: it is kept
// in one spare slot after the table. Hash and Equal may carry state, for
// example a pointer to the text that keys index into; Hash gives any
// 64-bit value and slot_index spreads it.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/hash.hpp"

namespace vorn::support {

// Hash of integral keys: the value itself, which slot_index spreads.
struct IntegerHash {
    template <class T>
    requires std::is_integral_v<T> || std::is_enum_v<T>
    constexpr std::uint64_t operator()(T key) const noexcept { return static_cast<std::uint64_t>(key); }
};

// Which keys mark a free slot. Specialise it for a cheaper test; keys that
// Equal calls equal must agree on it.
template <class Key>
struct FreeKey {
    static constexpr bool is_free(const Key& key) noexcept { return key == Key{}; }
};

// A byte span with its hash_bytes value: the key of word and n-gram tables.
// The span points into text that must outlive the table.
class HashedBytes {
public:
    // Trivial, so that a table of them is cleared like plain memory;
    // HashedBytes{} is the free key (empty span, hash 0).
    HashedBytes() noexcept = default;
    explicit HashedBytes(std::string_view bytes) noexcept
        : data_(bytes.data()), size_(bytes.size()), hash_(hash_bytes(bytes.data(), bytes.size())) {}

    std::string_view view() const noexcept { return {data_, size_}; }
    std::size_t size() const noexcept { return size_; }
    std::uint64_t hash() const noexcept { return hash_; }

    // Byte for byte; up to 8 bytes the hash and the size decide alone, and
    // up to 16 the first and the last 8 bytes, without a call to memcmp.
    friend bool operator==(const HashedBytes& a, const HashedBytes& b) noexcept {
        if (a.hash_ != b.hash_ || a.size_ != b.size_) return false;
        if (a.size_ <= 8) return true;
        if (a.size_ <= 16) {
            const std::size_t last = a.size_ - 8;
            return detail::load64(a.data_) == detail::load64(b.data_) &&
                   detail::load64(a.data_ + last) == detail::load64(b.data_ + last);
        }
        return std::memcmp(a.data_, b.data_, a.size_) == 0;
    }

private:
    const char* data_;
    std::size_t size_;
    std::uint64_t hash_;
};

struct HashedBytesHash {
    std::uint64_t operator()(const HashedBytes& key) const noexcept { return key.hash(); }
};

// Every empty span hashes to 0 and so equals the free key.
template <>
struct FreeKey<HashedBytes> {
    static bool is_free(const HashedBytes& key) noexcept { return key.size() == 0; }
};

namespace detail {

template <class Key, class Value>
struct MapSlot {
    Key key;
    Value value;
};

template <class Key, class Value>
struct SlotOf {
    using type = MapSlot<Key, Value>;
};

template <class Key>
struct SlotOf<Key, void> {
    using type = Key;
};

struct NoInlineSlots {};

// Base, except that construct() with no arguments default-initialises: a
// vector of trivial slots then grows without a store per slot, and the
// table clears the slots itself, at the speed of memset.
template <class Base>
struct DefaultInitAllocator : Base {
    using Base::Base;
    DefaultInitAllocator(const Base& base) noexcept : Base(base) {}
    template <class U>
    struct rebind {
        using other = DefaultInitAllocator<typename std::allocator_traits<Base>::template rebind_alloc<U>>;
    };
    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        std::allocator_traits<Base>::construct(static_cast<Base&>(*this), p, std::forward<Args>(args)...);
    }
};

}  // namespace detail

template <class Key, class Value = void, class Hash = IntegerHash, class Equal = std::equal_to<>,
          std::size_t InlineSlots = 0, class Allocator = std::allocator<std::byte>>
class FlatHashTable {
public:
    static constexpr bool kIsMap = !std::is_void_v<Value>;
    using Slot = typename detail::SlotOf<Key, Value>::type;
    static constexpr std::size_t kMinCapacity = 8;
    static_assert(InlineSlots == 0 || (std::has_single_bit(InlineSlots) && InlineSlots >= kMinCapacity));

    // Room for `expected` keys without growing.
    explicit FlatHashTable(std::size_t expected = 0, Hash hash = {}, Equal equal = {}, const Allocator& allocator = {})
        : heap_(SlotAllocator(allocator)), hash_(std::move(hash)), equal_(std::move(equal)) {
        reset(expected);
    }

    FlatHashTable(const FlatHashTable&) = delete;
    FlatHashTable& operator=(const FlatHashTable&) = delete;

    // Tables with an inline buffer stay where they are made.
    FlatHashTable(FlatHashTable&& other) noexcept requires(InlineSlots == 0)
        : heap_(std::move(other.heap_)), hash_(std::move(other.hash_)), equal_(std::move(other.equal_)) {
        take_shape(other);
    }
    FlatHashTable& operator=(FlatHashTable&& other) noexcept requires(InlineSlots == 0) {
        if (this != &other) {
            heap_ = std::move(other.heap_);
            hash_ = std::move(other.hash_);
            equal_ = std::move(other.equal_);
            take_shape(other);
        }
        return *this;
    }

    std::size_t size() const noexcept { return used_ + spare_used_; }
    bool empty() const noexcept { return size() == 0; }
    std::size_t capacity() const noexcept { return capacity_ / 2; }

    // Empties the table and makes room for `expected` keys, reusing the
    // memory it has: a scratch table serves one text after another.
    void reset(std::size_t expected) {
        clear_values();
        const std::size_t slots = slots_for(expected);
        if (slots <= InlineSlots) {
            slots_ = inline_slots();
        } else {
            if (heap_.size() < slots + 1) {
                heap_.clear();
                heap_.resize(slots + 1);  // default-initialised; freed below
            }
            slots_ = heap_.data();
        }
        free_slots(slots_, slots + 1);
        capacity_ = slots;
        bits_ = static_cast<unsigned>(std::countr_zero(slots));
        used_ = 0;
        spare_used_ = false;
    }

    void clear() { reset(0); }

    // Room for `expected` keys in all, keeping the keys there are.
    void reserve(std::size_t expected) {
        if (expected > capacity()) rehash(slots_for(expected));
    }

    // Sets: true when the key was new. Maps: the key's value (value-
    // initialised when the key is new) and whether it was new.
    auto insert(const Key& key) { return insert_hashed(key, hash_(key)); }

    // As insert, with hash_(key) computed by the caller.
    auto insert_hashed(const Key& key, std::uint64_t hash) {
        if (FreeKey<Key>::is_free(key)) {
            if (slots_ == nullptr) rehash(kMinCapacity);  // a moved-from table
            Slot& spare = slots_[capacity_];
            const bool inserted = !spare_used_;
            if (inserted) key_of(spare) = key;
            spare_used_ = true;
            return result(spare, inserted);
        }
        if (2 * (used_ + 1) > capacity_) rehash(capacity_ == 0 ? kMinCapacity : 2 * capacity_);
        Slot* const slots = slots_;
        const std::size_t mask = capacity_ - 1;
        for (std::size_t i = slot_index(hash, bits_);; i = (i + 1) & mask) {
            Slot& slot = slots[i];
            if (const auto [stop, fresh] = place(slot, key); stop) {
                used_ += fresh;
                return result(slot, fresh);
            }
        }
    }

    // Calls produce(insert) once, where insert(key) and insert(key, hash)
    // do what insert and insert_hashed do. Meanwhile the table's shape is
    // held in locals, which stores into slots cannot alias, so a tight loop
    // of inserts runs from registers.
    template <class Producer>
    void fill(Producer&& produce) {
        if (slots_ == nullptr) reset(0);  // a moved-from table
        Slot* slots = slots_;
        std::size_t mask = capacity_ - 1;
        unsigned bits = bits_;
        std::size_t used = used_;
        std::size_t limit = capacity_ / 2;
        const auto insert = [&](const Key& key, auto... given_hash) {
            static_assert(sizeof...(given_hash) <= 1);
            std::uint64_t hash;
            if constexpr (sizeof...(given_hash) == 0) hash = hash_(key);
            else hash = static_cast<std::uint64_t>((given_hash, ...));
            if (FreeKey<Key>::is_free(key)) return insert_hashed(key, hash);
            if (used == limit) {
                used_ = used;
                rehash(2 * capacity_);
                slots = slots_;
                mask = capacity_ - 1;
                bits = bits_;
                limit = capacity_ / 2;
            }
            for (std::size_t i = slot_index(hash, bits);; i = (i + 1) & mask) {
                Slot& slot = slots[i];
                if (const auto [stop, fresh] = place(slot, key); stop) {
                    used += fresh;
                    return result(slot, fresh);
                }
            }
        };
        produce(insert);
        used_ = used;
    }

    template <class V = Value>
    requires(!std::is_void_v<V>) V& operator[](const Key& key) { return *insert(key).first; }

    bool contains(const Key& key) const { return find_slot(key, hash_(key)) != nullptr; }
    bool contains_hashed(const Key& key, std::uint64_t hash) const { return find_slot(key, hash) != nullptr; }

    // The key's value, or nullptr.
    const Value* find(const Key& key) const requires kIsMap {
        const Slot* slot = find_slot(key, hash_(key));
        return slot ? &slot->value : nullptr;
    }
    Value* find(const Key& key) requires kIsMap {
        const Slot* slot = find_slot(key, hash_(key));
        return slot ? &const_cast<Slot*>(slot)->value : nullptr;
    }

    // Calls f(key) for a set, f(key, value) for a map, for every key, in
    // no particular order.
    template <class F>
    void for_each(F&& f) const {
        const auto visit = [&](const Slot& slot) {
            if constexpr (kIsMap) f(slot.key, slot.value);
            else f(slot);
        };
        for (std::size_t i = 0; i < capacity_; ++i)
            if (!FreeKey<Key>::is_free(key_of(slots_[i]))) visit(slots_[i]);
        if (spare_used_) visit(slots_[capacity_]);
    }

private:
    using SlotAllocator =
        detail::DefaultInitAllocator<typename std::allocator_traits<Allocator>::template rebind_alloc<Slot>>;
    using InlineBuffer = std::conditional_t<InlineSlots == 0, detail::NoInlineSlots, std::array<Slot, InlineSlots + 1>>;

    // Slots for `expected` keys: a power of two at least twice as large.
    static std::size_t slots_for(std::size_t expected) {
        if (expected > (std::size_t{1} << (sizeof(std::size_t) * 8 - 3))) throw std::bad_alloc();
        return std::max(kMinCapacity, std::bit_ceil(2 * expected));
    }

    static Key& key_of(Slot& slot) noexcept {
        if constexpr (kIsMap) return slot.key;
        else return slot;
    }
    static const Key& key_of(const Slot& slot) noexcept {
        if constexpr (kIsMap) return slot.key;
        else return slot;
    }

    // One probe step: whether the probe ends at this slot (it is free or
    // holds the key) and whether the key is new there, having stored it.
    // For integer keys the usual end, free or equal, is one branch, so that
    // whether a key is new, which input makes unpredictable, is data rather
    // than a jump (the key is stored even when present: the same value).
    struct Placed {
        bool stop, fresh;
    };
    Placed place(Slot& slot, const Key& key) const {
        if constexpr (std::is_integral_v<Key> && std::is_same_v<Equal, std::equal_to<>>) {
            // Free (0) or equal, tested at once: min(stored, stored ^ key)
            // is 0 exactly then, which compilers keep as one branch.
            using Bits = std::make_unsigned_t<Key>;
            const auto stored = static_cast<Bits>(key_of(slot));
            if (std::min<Bits>(stored, stored ^ static_cast<Bits>(key)) != 0) return {false, false};
            key_of(slot) = key;
            return {true, stored == 0};
        } else {
            const bool fresh = FreeKey<Key>::is_free(key_of(slot));
            if (!(fresh || equal_(key_of(slot), key))) return {false, false};
            if (fresh) key_of(slot) = key;
            return {true, fresh};
        }
    }

    static auto result(Slot& slot, bool inserted) noexcept {
        if constexpr (kIsMap) return std::pair<Value*, bool>(&slot.value, inserted);
        else return inserted;
    }

    Slot* inline_slots() noexcept {
        if constexpr (InlineSlots == 0) return nullptr;
        else return inline_.data();
    }

    const Slot* find_slot(const Key& key, std::uint64_t hash) const {
        if (FreeKey<Key>::is_free(key)) return spare_used_ ? &slots_[capacity_] : nullptr;
        if (used_ == 0) return nullptr;
        const std::size_t mask = capacity_ - 1;
        for (std::size_t i = slot_index(hash, bits_);; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (FreeKey<Key>::is_free(key_of(slot))) return nullptr;
            if (equal_(key_of(slot), key)) return &slot;
        }
    }

    // Values that own memory are released when the table is emptied.
    void clear_values() {
        if constexpr (!std::is_trivially_copyable_v<Slot>) {
            if (slots_ != nullptr) std::fill_n(slots_, capacity_ + 1, Slot{});
        }
    }

    // Makes `count` slots free. A trivial slot's value-initialised state is
    // all zero bytes (the free key), which memset writes fastest.
    static void free_slots(Slot* slots, std::size_t count) noexcept(std::is_nothrow_default_constructible_v<Slot>) {
        if constexpr (std::is_trivially_default_constructible_v<Slot> && std::is_trivially_copyable_v<Slot>)
            std::memset(static_cast<void*>(slots), 0, count * sizeof(Slot));
        else std::fill_n(slots, count, Slot{});
    }

    // Moves every key into a table of `slots` slots.
    void rehash(std::size_t slots) {
        std::vector<Slot, SlotAllocator> old(heap_.get_allocator());
        if (slots_ != nullptr && slots_ == heap_.data()) {
            old.swap(heap_);
        } else if (slots_ != nullptr) {
            old.assign(std::make_move_iterator(slots_), std::make_move_iterator(slots_ + capacity_ + 1));
        }
        const std::size_t old_capacity = capacity_;
        const bool had_spare = spare_used_;
        slots_ = nullptr;
        reset(slots / 2);
        for (std::size_t i = 0; i < old_capacity; ++i) {
            Slot& slot = old[i];
            if (FreeKey<Key>::is_free(key_of(slot))) continue;
            slots_[probe_free(hash_(key_of(slot)))] = std::move(slot);
            ++used_;
        }
        if (had_spare) {
            slots_[capacity_] = std::move(old[old_capacity]);
            spare_used_ = true;
        }
    }

    std::size_t probe_free(std::uint64_t hash) const noexcept {
        const std::size_t mask = capacity_ - 1;
        std::size_t i = slot_index(hash, bits_);
        while (!FreeKey<Key>::is_free(key_of(slots_[i]))) i = (i + 1) & mask;
        return i;
    }

    void take_shape(FlatHashTable& other) noexcept {
        slots_ = heap_.empty() ? nullptr : heap_.data();
        capacity_ = std::exchange(other.capacity_, 0);
        bits_ = std::exchange(other.bits_, 0);
        used_ = std::exchange(other.used_, 0);
        spare_used_ = std::exchange(other.spare_used_, false);
        other.slots_ = nullptr;
        if (slots_ == nullptr) capacity_ = used_ = 0, spare_used_ = false;
    }

    Slot* slots_ = nullptr;  // capacity_ slots, then the spare one
    std::size_t capacity_ = 0;
    unsigned bits_ = 0;
    std::size_t used_ = 0;  // keys in the first capacity_ slots
    bool spare_used_ = false;
    std::vector<Slot, SlotAllocator> heap_;
    [[no_unique_address]] Hash hash_;
    [[no_unique_address]] Equal equal_;
    [[no_unique_address]] InlineBuffer inline_;
};

template <class Key, class Hash = IntegerHash, class Equal = std::equal_to<>, std::size_t InlineSlots = 0,
          class Allocator = std::allocator<std::byte>>
using FlatHashSet = FlatHashTable<Key, void, Hash, Equal, InlineSlots, Allocator>;

template <class Key, class Value, class Hash = IntegerHash, class Equal = std::equal_to<>, std::size_t InlineSlots = 0,
          class Allocator = std::allocator<std::byte>>
using FlatHashMap = FlatHashTable<Key, Value, Hash, Equal, InlineSlots, Allocator>;

}  // namespace vorn::support
