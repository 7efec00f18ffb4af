// A clock that never sleeps for real, an output with a scripted play position and a
// processor that records what it is given, for driving the DSP thread in tests.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/ui/window.h"
#include "player/playback_collaborators.h"
#include "visual/digital_signal_processor.h"
#include "visual/dsp_clock.h"

namespace testing_support {

// Fake time: sleeping adds to it at once. In stepped mode each sleep also waits until
// the test allows another tick, so the test sees one tick at a time.
class SteppedClock final : public DspClock {
 public:
  std::int64_t NowNanoseconds() override;
  void SleepMs(std::uint32_t milliseconds) override;

  void Advance(std::int64_t ns);  // time passing inside a tick (work)
  void AllowTicks(int count);     // lets count more sleeps return
  void Release();                 // every sleep returns from now on
  std::vector<std::uint32_t> Sleeps() const;
  bool WaitForSleeps(std::size_t count);  // bounded

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
  std::int64_t GetPlayedBytes() override { return played.load(); }
  bool DeviceFailed() const override { return false; }
  std::uint32_t QueueTarget() const override { return queueTarget_; }
  std::uint32_t BytesPerFrame() const override { return bytesPerFrame_; }

  std::atomic<std::int64_t> played{0};

 private:
  std::uint32_t queueTarget_;
  std::uint32_t bytesPerFrame_;
};

struct ProcessCall {
  std::vector<float> left;
  std::vector<float> right;
  float timeScale = 0;
};

class RecordingProcessor final : public DigitalSignalProcessor {
 public:
  void Process(float* left, float* right, float timeScale) override;

  std::function<void()> onProcess;  // runs inside each call, on the DSP thread
  std::vector<ProcessCall> Calls() const;
  bool WaitForCalls(std::size_t count);  // bounded

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ProcessCall> calls_;
};

// A window whose presented frames a test can wait for.
class WatchedWindow final : public platform::ui::Window {
 public:
  explicit WatchedWindow(platform::ui::ClientSize size) : size_(size) {}
  platform::ui::Menu* GetMenu() override { return nullptr; }
  platform::ui::ClientSize GetClientSize() const override { return size_; }
  void PresentFrame(std::span<const std::uint32_t> pixels, int width, int height) override;
  void PostMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override {}

  bool WaitForFrames(int count);  // bounded
  int FrameCount() const;
  std::vector<std::uint32_t> LastFrame() const;

 private:
  platform::ui::ClientSize size_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::uint32_t> last_;
  int frames_ = 0;
};

}  // namespace testing_support
