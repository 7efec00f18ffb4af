// Time services: a monotonic nanosecond counter and whole-millisecond sleeps.
#pragma once

#include <cstdint>

namespace platform {

// Monotonic time in nanoseconds since an arbitrary start (the performance counter).
std::int64_t PerformanceCounterNs();

// Milliseconds since an arbitrary start, wrapping like a 32-bit tick count.
std::uint32_t TickCountMs();

void SleepMs(std::uint32_t milliseconds);

}  // namespace platform
