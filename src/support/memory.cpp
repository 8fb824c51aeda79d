#include "support/memory.hpp"

#include <algorithm>
#include <limits>

#if defined(__linux__)
#include <sys/sysinfo.h>
#endif
#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace vorn::support {
namespace {

constexpr std::uint64_t kUnknown = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b) noexcept {
    return a != 0 && b > kUnknown / a ? kUnknown : a * b;
}

std::uint64_t machine_memory() noexcept {
#if defined(__linux__)
    struct sysinfo info {};
    if (sysinfo(&info) == 0) {
        const std::uint64_t unit = info.mem_unit == 0 ? 1 : info.mem_unit;
        const std::uint64_t ram = saturating_product(info.totalram, unit);
        const std::uint64_t swap = saturating_product(info.totalswap, unit);
        return ram > kUnknown - swap ? kUnknown : ram + swap;
    }
#endif
#if defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page_size > 0)
        return saturating_product(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_size));
#endif
    return kUnknown;
}

}  // namespace

std::uint64_t memory_limit_bytes() noexcept {
    std::uint64_t limit = machine_memory();
#if defined(__unix__) || defined(__APPLE__)
    for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit bound {};
        if (getrlimit(resource, &bound) == 0 && bound.rlim_cur != RLIM_INFINITY)
            limit = std::min<std::uint64_t>(limit, bound.rlim_cur);
    }
#endif
    return limit;
}

bool fits_in_memory(std::uint64_t bytes) noexcept {
    constexpr std::uint64_t kAlwaysAsked = std::uint64_t{64} << 20;
    return bytes <= kAlwaysAsked || bytes <= memory_limit_bytes();
}

}  // namespace vorn::support
