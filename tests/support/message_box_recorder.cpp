#include "tests/support/message_box_recorder.h"

#include "platform/kernel/text.h"

namespace testing_support {

MessageBoxRecorder::MessageBoxRecorder() {
  previous_ =
      platform::ui::SetMessageBoxSink([this](platform::ui::HWND owner, std::u16string_view text,
                                             std::u16string_view caption, std::uint32_t flags) {
        std::scoped_lock hold(mutex_);
        boxes_.push_back({owner, std::u16string(text), std::u16string(caption), flags});
        return platform::ui::IDOK;
      });
}

MessageBoxRecorder::~MessageBoxRecorder() { platform::ui::SetMessageBoxSink(previous_); }

std::vector<RecordedBox> MessageBoxRecorder::Boxes() const {
  std::scoped_lock hold(mutex_);
  return boxes_;
}

std::size_t MessageBoxRecorder::Count() const {
  std::scoped_lock hold(mutex_);
  return boxes_.size();
}

void MessageBoxRecorder::Clear() {
  std::scoped_lock hold(mutex_);
  boxes_.clear();
}

std::string Narrow(const std::u16string& text) { return platform::ToUtf8(text); }

}  // namespace testing_support
