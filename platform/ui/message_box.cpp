#include "platform/ui/message_box.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

#include "platform/kernel/text.h"

namespace platform::ui {
namespace {

std::mutex sinkMutex;
MessageBoxSink currentSink;  // guarded by sinkMutex
std::atomic<HWND> activeWindow{nullptr};

int WriteToStandardError(HWND, std::u16string_view text, std::u16string_view caption,
                         std::uint32_t) {
  const std::string line = ToUtf8(caption) + ": " + ToUtf8(text);
  std::fprintf(stderr, "%s\n", line.c_str());
  return IDOK;
}

}  // namespace

int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption,
               std::uint32_t flags) {
  MessageBoxSink sink;
  {
    std::scoped_lock hold(sinkMutex);
    sink = currentSink;
  }
  // The sink runs outside the lock: a real box may wait for the user.
  return sink ? sink(owner, text, caption, flags)
              : WriteToStandardError(owner, text, caption, flags);
}

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
  std::scoped_lock hold(sinkMutex);
  return std::exchange(currentSink, std::move(sink));
}

HWND GetActiveWindow() { return activeWindow.load(); }
void SetActiveWindow(HWND window) { activeWindow.store(window); }

}  // namespace platform::ui
