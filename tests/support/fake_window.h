// A window without a screen: the program's File menu, posted messages and presented
// frames are kept for the test to read. A changed frame patches only the rectangles it
// names into the last one, so a change left unnamed shows as a stale pixel.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ui/menu.h"
#include "platform/ui/window.h"

namespace testing_support {

struct PostedMessage {
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

class FakeWindow final : public platform::ui::Window {
 public:
  explicit FakeWindow(bool withMenu = true, platform::ui::ClientSize size = {281, 62});

  platform::ui::Menu* GetMenu() override { return menu_.get(); }
  platform::ui::ClientSize GetClientSize() const override { return size_; }
  void PresentFrame(std::span<const std::uint32_t> pixels, int width, int height) override;
  void PresentChangedFrame(std::span<const std::uint32_t> pixels, int width, int height,
                           std::span<const platform::ui::FrameRect> changed) override;
  bool ShowsFrames() const override { return shown; }
  void PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

  std::vector<PostedMessage> Posted() const;
  std::vector<std::uint32_t> LastFrame() const;
  int FrameCount() const;
  int ChangedFrames() const;
  std::vector<int> FrameLog() const;  // per frame: -1 whole, else its changed rectangles
  bool WaitForFrames(int count);      // bounded

  std::atomic<bool> shown{true};  // false: minimised or hidden

 private:
  std::unique_ptr<platform::ui::Menu> menu_;
  platform::ui::ClientSize size_;
  mutable std::mutex mutex_;
  std::condition_variable framed_;
  std::vector<PostedMessage> posted_;
  std::vector<std::uint32_t> lastFrame_;
  int frames_ = 0, changedFrames_ = 0;
  std::vector<int> log_;
};

// The File menu as the program starts with it (Play enabled, Pause and Stop grayed).
std::unique_ptr<platform::ui::Menu> MakeProgramMenu();

}  // namespace testing_support
