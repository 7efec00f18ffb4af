// A clock that never sleeps for real, an output with a scripted play position, a
// recording processor and a PCM stream whose samples say where they came from.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "player/playback_collaborators.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/playback_doubles.h"
#include "visual/digital_signal_processor.h"
#include "visual/dsp_clock.h"

namespace testing_support {

// Stream bytes from..from+bytes whose 16-bit sample at byte k is k / 2 (mod 32768).
inline std::vector<std::uint8_t> Stream(std::uint32_t from, std::uint32_t bytes) {
  std::vector<std::int16_t> s(bytes / 2);
  for (std::uint32_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<std::int16_t>((from / 2 + i) & 0x7FFF);
  return ToBytes(s);
}

// The sample the stream holds at byte k, as the ring converts it.
inline float SampleAt(std::uint32_t k) { return static_cast<float>((k / 2) & 0x7FFF) / 32767.0f; }

// Fake time: sleeping adds to it at once. In stepped mode each sleep also waits until
// the test allows another tick, so the test sees one tick at a time.
class SteppedClock final : public DspClock {
 public:
  std::int64_t NowNanoseconds() override {
    std::scoped_lock hold(mutex_);
    return now_;
  }
  void SleepMs(std::uint32_t milliseconds) override {
    std::unique_lock hold(mutex_);
    sleeps_.push_back(milliseconds);
    now_ += std::int64_t{milliseconds} * 1'000'000;
    changed_.notify_all();
    changed_.wait(hold, [&] { return released_ || sleeps_.size() <= allowed_; });
  }
  void Advance(std::int64_t ns) {  // time passing inside a tick (work)
    std::scoped_lock hold(mutex_);
    now_ += ns;
  }
  void AllowTicks(int count) {  // lets count more sleeps return
    std::scoped_lock hold(mutex_);
    allowed_ += static_cast<std::size_t>(count);
    changed_.notify_all();
  }
  void Release() {  // every sleep returns from now on
    std::scoped_lock hold(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  std::vector<std::uint32_t> Sleeps() const {
    std::scoped_lock hold(mutex_);
    return sleeps_;
  }
  bool WaitForSleeps(std::size_t count) {  // bounded
    std::unique_lock hold(mutex_);
    return changed_.wait_for(hold, kBound, [&] { return sleeps_.size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t now_ = 1'000'000'000;
  std::vector<std::uint32_t> sleeps_;
  std::size_t allowed_ = 0;
  bool released_ = false;
};

class PositionedOutput final : public AudioOutput {
 public:
  PositionedOutput(std::uint32_t queueTarget, std::uint32_t bytesPerFrame)
      : queueTarget_(queueTarget), bytesPerFrame_(bytesPerFrame) {}
  int Start() override { return 1; }
  std::uint32_t Write(const std::uint8_t*, std::uint32_t byteCount) override { return byteCount; }
  void Stop() override {}
  void Flush() override {}
  std::int64_t GetPlayedBytes() override { return played.load(); }
  bool DeviceFailed() const override { return false; }
  std::uint32_t QueueTarget() const override { return queueTarget_; }
  std::uint32_t BytesPerFrame() const override { return bytesPerFrame_; }

  std::atomic<std::int64_t> played{0};

 private:
  std::uint32_t queueTarget_, bytesPerFrame_;
};

struct ProcessCall {
  std::vector<float> left, right;
  float timeScale = 0;
};

class RecordingProcessor final : public DigitalSignalProcessor {
 public:
  void Process(float* left, float* right, float timeScale) override {
    if (onProcess) onProcess();
    std::scoped_lock hold(mutex_);
    calls_.push_back({std::vector<float>(left, left + 2048),
                      std::vector<float>(right, right + 2048), timeScale});
    changed_.notify_all();
  }
  std::vector<ProcessCall> Calls() const {
    std::scoped_lock hold(mutex_);
    return calls_;
  }
  bool WaitForCalls(std::size_t count) {  // bounded
    std::unique_lock hold(mutex_);
    return changed_.wait_for(hold, kBound, [&] { return calls_.size() >= count; });
  }

  std::function<void()> onProcess;  // runs inside each call, on the DSP thread

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ProcessCall> calls_;
};

}  // namespace testing_support
