#include "support/large_pages.hpp"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vorn::support {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kLarge = std::size_t{4} << 20;

}  // namespace

void* allocate_large(std::size_t bytes) {
    if (bytes < kLarge) return ::operator new(bytes);
    if (bytes > static_cast<std::size_t>(-1) - kHugePage) throw std::bad_alloc();
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* memory = std::aligned_alloc(kHugePage, rounded);
    if (memory == nullptr) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
    madvise(memory, rounded, MADV_HUGEPAGE);  // a hint: where it is refused, ordinary pages serve
#endif
    return memory;
}

void deallocate_large(void* memory, std::size_t bytes) noexcept {
    if (bytes < kLarge) ::operator delete(memory);
    else std::free(memory);
}

}  // namespace vorn::support
