// A kernel-style event: manual reset (stays signalled until Reset) or auto reset
// (one successful wait consumes the signal). Safe to use from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace platform {

enum class WaitResult : std::uint32_t {
  kSignalled = 0x0,
  kAbandoned = 0x80,
  kTimedOut = 0x102,
  kFailed = 0xFFFFFFFF,
};

class Event {
 public:
  enum class Reset { kManual, kAuto };

  explicit Event(Reset mode, bool initiallySignalled = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSignalled() const;

  // Waits until signalled, or until timeout passes when one is given.
  WaitResult Wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

 private:
  const enum Reset mode_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_;  // guarded by mutex_
};

}  // namespace platform
