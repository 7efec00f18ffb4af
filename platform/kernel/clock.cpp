#include "platform/kernel/clock.h"

#include <chrono>
#include <thread>

namespace platform {

std::int64_t PerformanceCounterNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::uint32_t TickCountMs() {
  return static_cast<std::uint32_t>(PerformanceCounterNs() / 1'000'000);
}

void SleepMs(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
