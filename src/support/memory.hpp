// How much memory this process can have, for refusing sizes that cannot fit
// before anything is allocated. With overcommit, the allocator grants far
// more than the machine holds, and the process is killed when it touches it.
#pragma once

#include <cstdint>

namespace vorn::support {

// Physical memory plus swap, lowered to the process's address-space and
// data-segment limits when they are set. Asks the system on every call.
std::uint64_t memory_limit_bytes() noexcept;

// False when `bytes` exceed memory_limit_bytes(). Sizes up to 64 MiB are let
// through without asking: the allocator reports their failure itself.
bool fits_in_memory(std::uint64_t bytes) noexcept;

}  // namespace vorn::support
