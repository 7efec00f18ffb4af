#include "tests/support/fake_window.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "app/resources_menu.h"
#include "tests/support/playback_doubles.h"

namespace testing_support {

namespace ui = platform::ui;

std::unique_ptr<ui::Menu> MakeProgramMenu() { return app::LoadMenu109(); }

FakeWindow::FakeWindow(bool withMenu, ui::ClientSize size)
    : menu_(withMenu ? MakeProgramMenu() : nullptr), size_(size) {}

void FakeWindow::PresentFrame(std::span<const std::uint32_t> pixels, int, int) {
  std::scoped_lock hold(mutex_);
  lastFrame_.assign(pixels.begin(), pixels.end());
  ++frames_;
  log_.push_back(-1);
  framed_.notify_all();
}

void FakeWindow::PresentChangedFrame(std::span<const std::uint32_t> pixels, int width, int height,
                                     std::span<const ui::FrameRect> changed) {
  std::scoped_lock hold(mutex_);
  if (lastFrame_.size() != pixels.size())
    return ADD_FAILURE() << "a changed frame needs a picture to change";
  for (const ui::FrameRect& r : changed) {
    if (r.left < 0 || r.right <= r.left || width < r.right || r.top < 0 || r.bottom <= r.top ||
        height < r.bottom)
      return ADD_FAILURE() << "a rectangle outside the frame";
    for (int y = r.top; y < r.bottom; ++y) {
      const std::size_t at = static_cast<std::size_t>(y) * width + r.left;
      std::copy_n(pixels.begin() + at, r.right - r.left, lastFrame_.begin() + at);
    }
  }
  ++frames_;
  ++changedFrames_;
  log_.push_back(static_cast<int>(changed.size()));
  framed_.notify_all();
}

void FakeWindow::PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  std::scoped_lock hold(mutex_);
  posted_.push_back({message, wParam, lParam});
}

std::vector<PostedMessage> FakeWindow::Posted() const {
  std::scoped_lock hold(mutex_);
  return posted_;
}

std::vector<std::uint32_t> FakeWindow::LastFrame() const {
  std::scoped_lock hold(mutex_);
  return lastFrame_;
}

int FakeWindow::FrameCount() const {
  std::scoped_lock hold(mutex_);
  return frames_;
}

int FakeWindow::ChangedFrames() const {
  std::scoped_lock hold(mutex_);
  return changedFrames_;
}

std::vector<int> FakeWindow::FrameLog() const {
  std::scoped_lock hold(mutex_);
  return log_;
}

bool FakeWindow::WaitForFrames(int count) {
  std::unique_lock hold(mutex_);
  return framed_.wait_for(hold, kBound, [&] { return frames_ >= count; });
}

}  // namespace testing_support
