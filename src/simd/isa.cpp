// The processor probe, and the choice of level made once from it and from
// VORN_ISA.
#include "simd/isa.hpp"

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace vorn::simd {
namespace {

constexpr std::string_view kNames[] = {"portable", "avx2", "avx512"};

bool processor_has(Level level) noexcept {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    switch (level) {
        case Level::portable: return true;
        case Level::avx2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
        case Level::avx512:
            return processor_has(Level::avx2) && __builtin_cpu_supports("avx512f") &&
                   __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
    }
    return false;
#else
    return level == Level::portable;
#endif
}

Level probe_best() noexcept {
    Level best = Level::portable;
    for (const Level level : kLevels)
        if (processor_has(level)) best = level;
    return best;
}

Level choose_active() noexcept {
    const char* requested = std::getenv("VORN_ISA");
    if (requested == nullptr || *requested == '\0') return best_level();
    Level level;
    if (parse_level(requested, level)) return clamp_to_processor(level);
    std::fprintf(stderr, "vorn: ignoring VORN_ISA=%s (not portable, avx2 or avx512); using %s\n", requested,
                 level_name(best_level()).data());
    return best_level();
}

}  // namespace

std::string_view level_name(Level level) noexcept { return kNames[static_cast<int>(level)]; }

bool parse_level(std::string_view name, Level& out) noexcept {
    for (const Level level : kLevels) {
        if (name == level_name(level)) {
            out = level;
            return true;
        }
    }
    return false;
}

bool level_supported(Level level) noexcept { return level <= best_level(); }

std::span<const Level> supported_levels() noexcept {
    return std::span(kLevels).first(static_cast<std::size_t>(best_level()) + 1);
}

Level best_level() noexcept {
    static const Level best = probe_best();
    return best;
}

Level clamp_to_processor(Level level) noexcept { return level_supported(level) ? level : best_level(); }

Level active_level() noexcept {
    static const Level active = choose_active();
    return active;
}

}  // namespace vorn::simd
