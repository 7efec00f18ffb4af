// Records the message boxes asked for while it lives, instead of showing them.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/message_box.h"

namespace testing_support {

struct RecordedBox {
  platform::ui::HWND owner = nullptr;
  std::u16string text, caption;
  std::uint32_t flags = 0;
};

class MessageBoxRecorder {
 public:
  MessageBoxRecorder();
  ~MessageBoxRecorder();
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

  std::vector<RecordedBox> Boxes() const;
  std::size_t Count() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<RecordedBox> boxes_;
  platform::ui::MessageBoxSink previous_;
};

// UTF-8 for readable assertion messages.
std::string Narrow(const std::u16string& text);

}  // namespace testing_support
