// Memory for large arrays that are filled right after they are made. From
// 4 MiB on it is aligned to 2 MiB and marked for transparent huge pages
// where the system offers them: the first touch then faults once per 2 MiB
// rather than once per 4 KiB, which for a column of a million string views
// (16 MiB) is most of the time it takes to fill it.
#pragma once

#include <cstddef>
#include <new>

namespace vorn::support {

// std::bad_alloc when the memory cannot be had.
void* allocate_large(std::size_t bytes);
void deallocate_large(void* memory, std::size_t bytes) noexcept;

template <class T>
struct LargePageAllocator {
    using value_type = T;

    LargePageAllocator() = default;
    template <class U>
    explicit LargePageAllocator(const LargePageAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(allocate_large(n * sizeof(T)));
    }
    void deallocate(T* memory, std::size_t n) noexcept { deallocate_large(memory, n * sizeof(T)); }

    friend bool operator==(const LargePageAllocator&, const LargePageAllocator&) noexcept { return true; }
};

}  // namespace vorn::support
