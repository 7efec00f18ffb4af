// One connection to the desktop's sound server: a libpulse threaded main loop and
// its context. Every wait for the server here has a bound; a server that does not
// answer in time counts as absent.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include <pulse/pulseaudio.h>

#include "platform/kernel/event.h"

namespace platform::sound {

class PulseConnection {
 public:
  PulseConnection() = default;
  // Connects to the default server (PULSE_SERVER, else the user's runtime folder),
  // never starting one; null when none is ready within `bound`.
  static std::unique_ptr<PulseConnection> Open(std::chrono::milliseconds bound);
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // Held while calling into libpulse from outside its own thread.
  class Lock {
   public:
    explicit Lock(PulseConnection& c) : loop_(c.loop_) { pa_threaded_mainloop_lock(loop_); }
    ~Lock() { pa_threaded_mainloop_unlock(loop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* loop_;
  };

  pa_context* Context() const { return context_; }
  pa_mainloop_api* Api() const { return pa_threaded_mainloop_get_api(loop_); }
  // The server went away (or failed us); set on libpulse's thread.
  bool Lost() const { return lost_.load(); }
  // Libpulse's thread: mark the connection lost and wake a waiter.
  void MarkLost();
  // Libpulse's thread: something a waiter may look at changed.
  void Notify() { changed_.Set(); }
  // Waits, without holding the lock, until ready() holds (checked under the lock),
  // the connection is lost, or the bound passes. True when ready() held.
  template <typename Ready>
  bool WaitFor(Ready ready, std::chrono::milliseconds bound);

 private:
  static void OnContextState(pa_context* context, void* self);

  pa_threaded_mainloop* loop_ = nullptr;  // owned; immutable after Open
  pa_context* context_ = nullptr;         // owned; immutable after Open
  std::atomic<bool> lost_{false};
  platform::Event changed_{platform::Event::Reset::kAuto};
};

template <typename Ready>
bool PulseConnection::WaitFor(Ready ready, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    {
      Lock hold(*this);
      if (ready()) return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (Lost() || left.count() <= 0) return false;
    changed_.Wait(left);
  }
}

}  // namespace platform::sound
