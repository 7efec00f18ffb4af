#include "platform/kernel/event.h"

namespace platform {

Event::Event(enum Reset mode, bool initiallySignalled)
    : mode_(mode), signalled_(initiallySignalled) {}

void Event::Set() {
  std::scoped_lock hold(mutex_);
  signalled_ = true;
  // Notified under the lock, so a waiter that wakes and destroys the event cannot
  // do so before this call has finished touching it.
  changed_.notify_all();
}

void Event::Reset() {
  std::scoped_lock hold(mutex_);
  signalled_ = false;
}

bool Event::IsSignalled() const {
  std::scoped_lock hold(mutex_);
  return signalled_;
}

WaitResult Event::Wait(std::optional<std::chrono::milliseconds> timeout) {
  std::unique_lock hold(mutex_);
  const auto ready = [this] { return signalled_; };
  if (timeout) {
    if (!changed_.wait_for(hold, *timeout, ready)) return WaitResult::kTimedOut;
  } else {
    changed_.wait(hold, ready);
  }
  if (mode_ == Reset::kAuto) signalled_ = false;
  return WaitResult::kSignalled;
}

}  // namespace platform
