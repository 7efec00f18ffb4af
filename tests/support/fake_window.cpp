#include "tests/support/fake_window.h"

#include "tests/support/playback_doubles.h"

namespace testing_support {

namespace ui = platform::ui;

std::unique_ptr<ui::Menu> MakeProgramMenu() {
  constexpr std::uint32_t kGrayed = ui::MF_GRAYED | ui::MF_DISABLED;
  return std::make_unique<ui::Menu>(std::vector<ui::MenuColumn>{
      {u"&File",
       {{32772, u"&Play\tCtrl+1,A", ui::MF_ENABLED},
        {32781, u"P&ause\tCtrl+2,D", kGrayed},
        {32783, u"&Stop\tCtrl+3,S", kGrayed},
        {105, u"E&xit\tCtrl+4,X", ui::MF_ENABLED}}},
      {u"&Options",
       {{32773, u"Show &Peaks", ui::MF_CHECKED},
        {32774, u"Show &Grids", ui::MF_CHECKED},
        {32777, u"Show G&radient", ui::MF_CHECKED}}},
      {u"Help", {{32778, u"About", ui::MF_ENABLED}}},
  });
}

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
