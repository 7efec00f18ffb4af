#include "tests/visual/visual_doubles.h"

#include "tests/support/playback_doubles.h"

namespace testing_support {

std::int64_t SteppedClock::NowNanoseconds() {
  std::scoped_lock hold(mutex_);
  return now_;
}

void SteppedClock::SleepMs(std::uint32_t milliseconds) {
  std::unique_lock hold(mutex_);
  sleeps_.push_back(milliseconds);
  now_ += std::int64_t{milliseconds} * 1'000'000;
  changed_.notify_all();
  changed_.wait(hold, [&] { return released_ || sleeps_.size() <= allowed_; });
}

void SteppedClock::Advance(std::int64_t ns) {
  std::scoped_lock hold(mutex_);
  now_ += ns;
}

void SteppedClock::AllowTicks(int count) {
  std::scoped_lock hold(mutex_);
  allowed_ += static_cast<std::size_t>(count);
  changed_.notify_all();
}

void SteppedClock::Release() {
  std::scoped_lock hold(mutex_);
  released_ = true;
  changed_.notify_all();
}

std::vector<std::uint32_t> SteppedClock::Sleeps() const {
  std::scoped_lock hold(mutex_);
  return sleeps_;
}

bool SteppedClock::WaitForSleeps(std::size_t count) {
  std::unique_lock hold(mutex_);
  return changed_.wait_for(hold, kBound, [&] { return sleeps_.size() >= count; });
}

void RecordingProcessor::Process(float* left, float* right, float timeScale) {
  if (onProcess) onProcess();
  std::scoped_lock hold(mutex_);
  calls_.push_back(
      {std::vector<float>(left, left + 2048), std::vector<float>(right, right + 2048), timeScale});
  changed_.notify_all();
}

std::vector<ProcessCall> RecordingProcessor::Calls() const {
  std::scoped_lock hold(mutex_);
  return calls_;
}

bool RecordingProcessor::WaitForCalls(std::size_t count) {
  std::unique_lock hold(mutex_);
  return changed_.wait_for(hold, kBound, [&] { return calls_.size() >= count; });
}

void WatchedWindow::PresentFrame(std::span<const std::uint32_t> pixels, int, int) {
  std::scoped_lock hold(mutex_);
  last_.assign(pixels.begin(), pixels.end());
  ++frames_;
  changed_.notify_all();
}

bool WatchedWindow::WaitForFrames(int count) {
  std::unique_lock hold(mutex_);
  return changed_.wait_for(hold, kBound, [&] { return frames_ >= count; });
}

int WatchedWindow::FrameCount() const {
  std::scoped_lock hold(mutex_);
  return frames_;
}

std::vector<std::uint32_t> WatchedWindow::LastFrame() const {
  std::scoped_lock hold(mutex_);
  return last_;
}

}  // namespace testing_support
