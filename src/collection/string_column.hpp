// A column of n UTF-8 strings, some of them null, as views into memory the
// column does not own (a binding keeps that memory alive).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "support/large_pages.hpp"

namespace vorn::collection {

class StringColumn {
public:
    std::size_t size() const noexcept { return values_.size(); }
    bool empty() const noexcept { return values_.empty(); }
    bool has_nulls() const noexcept { return null_count_ != 0; }
    std::size_t null_count() const noexcept { return null_count_; }

    bool is_null(std::size_t i) const noexcept {
        return i / 64 < null_bits_.size() && (null_bits_[i / 64] >> (i % 64) & 1) != 0;
    }
    // The empty view for a null.
    std::string_view operator[](std::size_t i) const noexcept { return values_[i]; }
    std::span<const std::string_view> values() const noexcept { return values_; }

    void reserve(std::size_t n) { values_.reserve(n); }
    void push_back(std::string_view value) { values_.push_back(value); }
    void push_null() {
        values_.emplace_back();
        set_null(values_.size() - 1);
    }
    // Drops the values from `size` on; none of them may be null.
    void truncate(std::size_t size) noexcept { values_.resize(size); }
    // Makes the value at i, an empty view not null yet, a null (values may
    // be appended first and their nulls marked after).
    void set_null(std::size_t i) {
        if (null_bits_.size() <= i / 64) null_bits_.resize(i / 64 + 1, 0);
        null_bits_[i / 64] |= std::uint64_t{1} << (i % 64);
        ++null_count_;
    }
    // Replaces the value at i (not a null) with another view.
    void set(std::size_t i, std::string_view value) noexcept { values_[i] = value; }

private:
    // Filled as soon as it is reserved: huge pages spare most of the faults.
    std::vector<std::string_view, support::LargePageAllocator<std::string_view>> values_;
    std::vector<std::uint64_t> null_bits_;  // bit i set: i is null; may be shorter than needed when no null follows
    std::size_t null_count_ = 0;
};

}  // namespace vorn::collection
