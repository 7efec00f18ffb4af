#include "tests/support/fake_window.h"

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

bool FakeWindow::WaitForFrames(int count) {
  std::unique_lock hold(mutex_);
  return framed_.wait_for(hold, kBound, [&] { return frames_ >= count; });
}

}  // namespace testing_support
