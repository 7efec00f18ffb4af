#include "output/buffer_starter.h"

#include <cstdlib>
#include <memory>
#include <system_error>

#include <pthread.h>

namespace sound = platform::sound;

BufferStarter::BufferStarter() {
  try {
    worker_ = std::thread(&BufferStarter::Work, this);
    // Named for debuggers and for the test that finds it running from start-up.
    pthread_setname_np(worker_.native_handle(), kThreadName);
  } catch (const std::system_error&) {
    // No worker: every request, and so every output creation, fails cleanly.
  }
}

BufferStarter::~BufferStarter() { Shutdown(); }

bool BufferStarter::Running() {
  std::scoped_lock hold(mutex_);
  return worker_.joinable();
}

platform::HRESULT BufferStarter::RequestBufferStart(sound::SoundBuffer* buffer) {
  std::scoped_lock hold(mutex_);
  if (!worker_.joinable() || buffer == nullptr) return platform::E_FAIL;
  request_ = buffer;
  requestEvent_.Set();
  doneEvent_.Wait();
  return result_;
}

void BufferStarter::Shutdown() {
  std::scoped_lock hold(mutex_);
  if (!worker_.joinable()) return;
  request_ = nullptr;
  requestEvent_.Set();
  worker_.join();
}

void BufferStarter::Work() {
  for (;;) {
    requestEvent_.Wait();
    if (request_ == nullptr) return;
    result_ = request_->Play(0, 0, sound::DSBPLAY_LOOPING);
    doneEvent_.Set();
  }
}

namespace {

// Never destroyed: a playback thread may still ask for a start while the process
// exits; the worker itself is told to quit by the exit handler below.
union StarterHolder {
  StarterHolder() { std::construct_at(&starter); }
  ~StarterHolder() {}
  BufferStarter starter;
};

void ShutDownProcessStarter() { ProcessBufferStarter().Shutdown(); }

}  // namespace

BufferStarter& ProcessBufferStarter() {
  static StarterHolder holder;
  static const bool registered = std::atexit(&ShutDownProcessStarter) == 0;
  (void)registered;
  return holder.starter;
}

namespace {
// Started during static initialisation, before the program makes its window.
const bool processStarterStarted = (ProcessBufferStarter(), true);
}  // namespace
